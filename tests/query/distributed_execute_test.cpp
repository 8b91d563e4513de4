// Execute and Item with a command object on a distributed object: the key is settled before routing.
#include "tests/client/wire_test.h"
#include "tests/query/fake_ado.h"
#include "tests/values/wire_fixture.h"

#include <memory>

namespace
{
// The "NoParameters" row of the generated key table.
const wchar_t* const TEXT = L"SELECT name FROM users";
const char* const KEY = "930c48141ed884c3e07f38908a972923";
const char* const SAVED = "FAKERS:alice,bob";

// Two scripted servers behind one distributed object; the key's unit sum picks one. The
// pool keeps no connection, so that the module may unload again after each test.
class DistributedExecuteTest : public testing::Test
{
protected:
    void SetUp() override
    {
        AdoWorld() = GAdoWorld();
        m_pObject = GHarbinetModule::Instance().CreateDistributed();
        ASSERT_NE(nullptr, m_pObject);
        GTestBstr bstrList(WidenAscii(m_aServers[0].Url() + ";" + m_aServers[1].Url() + "|0").c_str());
        ASSERT_EQ(S_OK, m_pObject->Open(bstrList));
        unsigned nSum = 0;
        for (const char* p = KEY; *p != '\0'; ++p)
            nSum += static_cast<unsigned char>(*p);
        m_nChosen = static_cast<int>(nSum % 2);
    }
    void TearDown() override
    {
        EXPECT_EQ(0u, m_pObject->Release());
        EXPECT_EQ(0, AdoWorld().nLive);
        EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    }

    GHangWatch m_hangWatch{60};
    GAdoRegistration m_registration;
    GFakeServer m_aServers[2];
    int m_nChosen = 0;
    IHarbinet* m_pObject = nullptr;
};

// A miss, then a hit through the default member: both on the server that the key picks,
// under the key as the name; the other server never hears of it.
TEST_F(DistributedExecuteTest, CommandWithoutANameGoesUnderItsKeyToTheServerThatTheKeyPicks)
{
    GFakeServer& chosen = m_aServers[m_nChosen];
    chosen.Answer(REPLY_DONE).Answer(REPLY_NOT_FOUND).Answer(REPLY_STORED).Answer(REPLY_DONE).Answer(
        FoundReply("application/x-variant-9", SAVED));
    GFakeCommand* pCommand = new GFakeCommand(TEXT, "alice,bob");
    IDispatch* pMiss = nullptr;
    EXPECT_EQ(S_OK, m_pObject->Execute(pCommand, nullptr, 30, &pMiss));
    VARIANT varCommand;
    varCommand.vt = VT_DISPATCH;
    varCommand.pdispVal = pCommand;
    VARIANT varHit;
    VariantInit(&varHit);
    EXPECT_EQ(S_OK, m_pObject->get_Item(&varCommand, &varHit));

    EXPECT_TRUE(chosen.WaitDone());
    EXPECT_EQ((std::vector<std::string>{NopRequest(), GetRequest(KEY), SetRequest(KEY, "9", "16", SAVED, "30"),
                                        NopRequest(), GetRequest(KEY)}),
              chosen.Requests());
    EXPECT_EQ(0, m_aServers[1 - m_nChosen].Connections());
    EXPECT_EQ(1, pCommand->m_nExecutions);
    ASSERT_EQ(VT_DISPATCH, varHit.vt);
    EXPECT_TRUE(FakeRecordsetOf(varHit.pdispVal)->m_bFromStream);
    VariantClear(&varHit);
    EXPECT_EQ(0u, pMiss->Release());
    EXPECT_EQ(0u, pCommand->Release());
}

TEST_F(DistributedExecuteTest, NegativeTimeoutRunsTheCommandWithoutAnyServer)
{
    GFakeCommand* pCommand = new GFakeCommand(TEXT, "alice,bob");
    IDispatch* pRecordset = nullptr;
    EXPECT_EQ(S_OK, m_pObject->Execute(pCommand, nullptr, -1, &pRecordset));
    EXPECT_EQ(std::vector<std::string>{"Command.Execute(null, null, -1)"}, AdoWorld().vecCalls);
    ASSERT_NE(nullptr, pRecordset);
    EXPECT_FALSE(FakeRecordsetOf(pRecordset)->m_bFromStream);
    EXPECT_EQ(0u, pRecordset->Release());
    EXPECT_EQ(0u, pCommand->Release());
    EXPECT_EQ(0, m_aServers[0].Connections() + m_aServers[1].Connections());
}

TEST_F(DistributedExecuteTest, CommandThatCannotBeKeyedTakesNoConnection)
{
    GFakeCommand* pCommand = new GFakeCommand(TEXT, "");
    VARIANT varParameter;
    varParameter.vt = VT_UNKNOWN;
    varParameter.punkVal = nullptr;
    pCommand->AddParameter(varParameter);
    IDispatch* pRecordset = nullptr;
    EXPECT_TRUE(IsReportedBy(m_pObject->Execute(pCommand, nullptr, 0, &pRecordset), "0x80004005", L"Orrisdale",
                             L"Unknown command parameter."));
    EXPECT_EQ(nullptr, pRecordset);
    EXPECT_EQ(0, pCommand->m_nExecutions);
    EXPECT_EQ(0u, pCommand->Release());
    EXPECT_EQ(0, m_aServers[0].Connections() + m_aServers[1].Connections());
}

// The call ends on the pool it began on (whose limit 0 closes the connection); "r" (114) picks the first server.
TEST_F(DistributedExecuteTest, CloseOrOpenDuringAForwardedCallTakesEffectForTheNextCall)
{
    GTestBstr bstrList(WidenAscii(m_aServers[0].Url() + ";" + m_aServers[1].Url() + "|0").c_str());
    GTestBstr bstrName(L"r");
    for (const bool bReopen : {false, true})
    {
        auto pOther = std::make_unique<GFakeServer>();
        GTestBstr bstrOther(WidenAscii(pOther->Url() + "|1").c_str());
        GCallbackCommand* pCommand = new GCallbackCommand([&] {
            m_pObject->Close();
            if (bReopen)
                m_pObject->Open(bstrOther);
        });
        m_aServers[0].Answer(REPLY_DONE).Answer(REPLY_NOT_FOUND).Answer(REPLY_STORED);
        pOther->Answer(REPLY_DONE).Answer(REPLY_DONE);
        IDispatch* pRecordset = nullptr;
        EXPECT_EQ(S_OK, m_pObject->Execute(pCommand, bstrName, 30, &pRecordset));
        EXPECT_EQ(bReopen ? 2 : 1, m_aServers[0].WaitClientCloses(bReopen ? 2 : 1));
        EXPECT_EQ(bReopen ? S_OK : static_cast<HRESULT>(0x80040201), m_pObject->Noop(nullptr));
        if (bReopen)
        {
            EXPECT_TRUE(pOther->WaitDone());
            EXPECT_EQ((std::vector<std::string>{NopRequest(), NopRequest()}), pOther->Requests());
            pOther.reset();   // the next checkout drops the idle connection, so the module may unload
            EXPECT_TRUE(FAILED(m_pObject->Noop(nullptr)));
        }
        EXPECT_EQ(0u, pRecordset->Release());
        EXPECT_EQ(0u, pCommand->Release());
        m_pObject->Close();
        EXPECT_EQ(S_OK, m_pObject->Open(bstrList));
    }
}

}   // namespace
