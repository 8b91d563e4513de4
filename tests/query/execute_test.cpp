// Execute and Item with a command object on a single-server object: the hit and miss
// paths on the wire, the bypass, and every way the call can fail.
#include "tests/client/wire_test.h"
#include "tests/query/command_key_cases.h"
#include "tests/query/fake_ado.h"
#include "tests/values/test_stream.h"
#include "tests/values/wire_fixture.h"

namespace
{
// The "NoParameters" row of the generated key table: a command without parameters.
const wchar_t* const TEXT = L"SELECT name FROM users";
const char* const KEY = "930c48141ed884c3e07f38908a972923";
const char* const ROWS = "alice,bob";
const char* const SAVED = "FAKERS:alice,bob";
const char* const SAVED_LENGTH = "16";
const char* const STREAM_TYPE = "application/x-variant-9";

const std::vector<std::string> KEY_CALLS = {"Command.CommandText", "Command.Parameters", "Parameters.Count"};
const std::vector<std::string> STREAM_CALLS = {"create Stream", "Stream.Open(missing, 0, -1, null, null)"};
const std::vector<std::string> MISS_CALLS = {"Command.Execute(null, null, -1)", "Recordset.Save(stream, 0)",
                                             "Recordset.Close()", "Stream.Position = 0",
                                             "Recordset.Open(stream, missing, -1, -1, -1)"};
const std::vector<std::string> HIT_CALLS = {"create Recordset", "Recordset.Open(stream, missing, -1, -1, -1)"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> vec;
    for (const auto& part : parts)
        vec.insert(vec.end(), part.begin(), part.end());
    return vec;
}

class ExecuteTest : public GValueWireTest
{
protected:
    void SetUp() override
    {
        AdoWorld() = GAdoWorld();
        GValueWireTest::SetUp();
    }
    // Every fake that Execute made or took is gone once the test has let go of its own.
    void TearDown() override
    {
        EXPECT_EQ(0, AdoWorld().nLive);
        GValueWireTest::TearDown();
    }

    HRESULT Execute(IDispatch* pCommand, const wchar_t* szName, long nTimeout, IDispatch** ppRecordset)
    {
        GTestBstr bstrName(szName);
        return m_pObject->Execute(pCommand, bstrName, nTimeout, ppRecordset);
    }

    // The result set was rebuilt from the stored bytes and holds the command's rows.
    static void ExpectStoredResult(IDispatch* pRecordset, const char* szRows)
    {
        GFakeRecordset* pFake = FakeRecordsetOf(pRecordset);
        ASSERT_NE(nullptr, pFake);
        EXPECT_TRUE(pFake->m_bOpen);
        EXPECT_TRUE(pFake->m_bFromStream);
        EXPECT_EQ(szRows, pFake->m_sRows);
        EXPECT_EQ(0u, pRecordset->Release());
    }

    GHangWatch m_hangWatch{60};
    GAdoRegistration m_registration;
};

TEST_F(ExecuteTest, MissStoresTheResultAndHitServesItWithoutTheDatabase)
{
    m_server.Answer(REPLY_NOT_FOUND).Answer(REPLY_STORED).Answer(FoundReply(STREAM_TYPE, SAVED));
    GFakeCommand* pCommand = new GFakeCommand(TEXT, ROWS);
    IDispatch* pMiss = nullptr;
    EXPECT_EQ(S_OK, Execute(pCommand, nullptr, 30, &pMiss));
    EXPECT_EQ(Join({KEY_CALLS, STREAM_CALLS, MISS_CALLS}), AdoWorld().vecCalls);
    AdoWorld().vecCalls.clear();
    IDispatch* pHit = nullptr;
    EXPECT_EQ(S_OK, Execute(pCommand, L"", 30, &pHit));
    EXPECT_EQ(Join({KEY_CALLS, STREAM_CALLS, HIT_CALLS}), AdoWorld().vecCalls);

    EXPECT_EQ(1, pCommand->m_nExecutions);
    EXPECT_EQ((std::vector<std::string>{GetRequest(KEY), SetRequest(KEY, "9", SAVED_LENGTH, SAVED, "30"),
                                        GetRequest(KEY)}),
              Requests());
    ExpectStoredResult(pMiss, ROWS);
    ExpectStoredResult(pHit, ROWS);
    EXPECT_EQ(0u, pCommand->Release());
    ExpectOpen();
}

TEST_F(ExecuteTest, AnExplicitNameSharesOneEntryBetweenCommands)
{
    m_server.Answer(REPLY_NOT_FOUND).Answer(REPLY_STORED).Answer(FoundReply(STREAM_TYPE, "FAKERS:first"));
    GFakeCommand* pFirst = new GFakeCommand(L"SELECT 1", "first");
    GFakeCommand* pSecond = new GFakeCommand(L"SELECT 2", "second");
    IDispatch* pFirstResult = nullptr;
    IDispatch* pSecondResult = nullptr;
    EXPECT_EQ(S_OK, Execute(pFirst, L"shared", 0, &pFirstResult));
    EXPECT_EQ(S_OK, Execute(pSecond, L"shared", 0, &pSecondResult));

    EXPECT_EQ(Join({STREAM_CALLS, MISS_CALLS, STREAM_CALLS, HIT_CALLS}), AdoWorld().vecCalls);
    EXPECT_EQ(0, pSecond->m_nExecutions);
    EXPECT_EQ((std::vector<std::string>{GetRequest("shared"), SetRequest("shared", "9", "12", "FAKERS:first"),
                                        GetRequest("shared")}),
              Requests());
    ExpectStoredResult(pFirstResult, "first");
    ExpectStoredResult(pSecondResult, "first");
    EXPECT_EQ(0u, pFirst->Release());
    EXPECT_EQ(0u, pSecond->Release());
}

TEST_F(ExecuteTest, NegativeTimeoutRunsTheCommandAndTheServerSeesNothing)
{
    GuardAgainstRequests();
    GFakeCommand* pCommand = new GFakeCommand(TEXT, ROWS);
    IDispatch* pRecordset = nullptr;
    EXPECT_EQ(S_OK, Execute(pCommand, L"named", -1, &pRecordset));
    EXPECT_EQ(std::vector<std::string>{"Command.Execute(null, null, -1)"}, AdoWorld().vecCalls);
    GFakeRecordset* pFake = FakeRecordsetOf(pRecordset);
    ASSERT_NE(nullptr, pFake);
    EXPECT_FALSE(pFake->m_bFromStream);
    EXPECT_EQ(ROWS, pFake->m_sRows);
    EXPECT_EQ(0u, pRecordset->Release());
    EXPECT_EQ(0u, pCommand->Release());
    ExpectOpenWithNothingSent();
}

TEST_F(ExecuteTest, AValueTheServerRefusesStillGivesTheResult)
{
    m_server.Answer(REPLY_NOT_FOUND).Answer(REPLY_NOT_STORED);
    GFakeCommand* pCommand = new GFakeCommand(TEXT, ROWS);
    IDispatch* pRecordset = nullptr;
    EXPECT_EQ(S_OK, Execute(pCommand, nullptr, 0, &pRecordset));
    EXPECT_EQ((std::vector<std::string>{GetRequest(KEY), SetRequest(KEY, "9", SAVED_LENGTH, SAVED)}), Requests());
    ExpectStoredResult(pRecordset, ROWS);
    EXPECT_EQ(0u, pCommand->Release());
    ExpectOpen();
}

TEST_F(ExecuteTest, WithoutAnAdoCommandNothingHappens)
{
    GuardAgainstRequests();
    IDispatch* pRecordset = nullptr;
    ClearErrorInfo();
    EXPECT_EQ(E_INVALIDARG, Execute(nullptr, nullptr, 0, &pRecordset));
    GTestStream* pNotCommand = new GTestStream();
    EXPECT_EQ(E_NOINTERFACE, Execute(pNotCommand, nullptr, 0, &pRecordset));
    EXPECT_EQ(0u, pNotCommand->Release());
    EXPECT_EQ(nullptr, pRecordset);
    EXPECT_EQ(L"", TakeErrorInfo().sDescription);
    ExpectOpenWithNothingSent();
}

// Each failing step returns its own code, hands out nothing and runs the command only
// where the step comes after it. The server sees the requests up to the failing step.
TEST_F(ExecuteTest, EachFailingStepEndsTheCall)
{
    const std::string GET = GetRequest("q");
    const std::string SET = SetRequest("q", "9", SAVED_LENGTH, SAVED);
    const std::string REPLY_NO_ROOM =
        "HTTP/1.1 200 OK\r\nx-result-code: 9\r\nx-result-reason: No room\r\ncontent-length: 0\r\n\r\n";
    const std::string FOUND = FoundReply(STREAM_TYPE, SAVED);
    const std::string CLOSE = "close";   // the server reads the request and goes away
    const struct
    {
        const char* szName;
        GAdoStep failAt;
        bool bKeyed;   // the command key names the entry instead of "q"
        std::vector<std::string> vecReplies;
        HRESULT hr;
        const wchar_t* szSource;   // nullptr: no error information
        const wchar_t* szDescription;
        int nExecutions;
        std::vector<std::string> vecRequests;
        bool bClosed;
    } rows[] = {
        {"text unreadable", GAdoStep::CommandText, true, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"no parameters", GAdoStep::Parameters, true, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"no count", GAdoStep::Count, true, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"no parameter", GAdoStep::Item, true, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"no value", GAdoStep::Value, true, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"no stream object", GAdoStep::CreateStream, false, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"stream not opened", GAdoStep::StreamOpen, false, {}, HR_ADO_FAILURE, nullptr, L"", 0, {}, false},
        {"server down", GAdoStep::None, false, {CLOSE}, HR_HTTP, L"Harbinet", L"HTTP error.", 0, {GET}, true},
        {"get refused", GAdoStep::None, false, {REPLY_NO_ROOM}, HR_RESULT_CODE, L"Harbinet", L"No room", 0, {GET},
         true},
        {"command fails", GAdoStep::Execute, false, {REPLY_NOT_FOUND}, HR_ADO_FAILURE, nullptr, L"", 0, {GET},
         false},
        {"result not saved", GAdoStep::Save, false, {REPLY_NOT_FOUND}, HR_ADO_FAILURE, nullptr, L"", 1, {GET},
         false},
        {"set refused", GAdoStep::None, false, {REPLY_NOT_FOUND, REPLY_NO_ROOM}, HR_RESULT_CODE, L"Harbinet",
         L"No room", 1, {GET, SET}, true},
        {"result not closed", GAdoStep::Close, false, {REPLY_NOT_FOUND, REPLY_STORED}, HR_ADO_FAILURE, nullptr,
         L"", 1, {GET, SET}, false},
        {"stream not rewound", GAdoStep::Position, false, {REPLY_NOT_FOUND, REPLY_STORED}, HR_ADO_FAILURE,
         nullptr, L"", 1, {GET, SET}, false},
        {"result not reopened", GAdoStep::RecordsetOpen, false, {REPLY_NOT_FOUND, REPLY_STORED}, HR_ADO_FAILURE,
         nullptr, L"", 1, {GET, SET}, false},
        {"no recordset object on a hit", GAdoStep::CreateRecordset, false, {FOUND}, HR_ADO_FAILURE, nullptr, L"",
         0, {GET}, false},
        {"hit not opened", GAdoStep::RecordsetOpen, false, {FOUND}, HR_ADO_FAILURE, nullptr, L"", 0, {GET},
         false},
        // Someone else's value under the name: refused, and not overwritten.
        {"string stored under the name", GAdoStep::None, false, {FoundReply("application/x-variant-8", "text")},
         HR_STREAM_REQUIRED, L"Harbinet", L"IStream required.", 0, {GET}, false},
        {"number stored under the name", GAdoStep::None, false,
         {FoundReply("application/x-variant-3", Bytes("03 00 00 00 00 00 00 00 07 00 00 00 00 00 00 00 "
                                                       "00 00 00 00 00 00 00 00"))},
         HR_STREAM_REQUIRED, L"Harbinet", L"IStream required.", 0, {GET}, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.szName);
        AdoWorld().failAt = row.failAt;
        const size_t nBefore = Requests().size();
        for (const std::string& sReply : row.vecReplies)
        {
            if (sReply == CLOSE)
                m_server.CloseAfterRequest();
            else
                m_server.Answer(sReply);
        }
        GFakeCommand* pCommand = new GFakeCommand(TEXT, ROWS);
        VARIANT var = PatternedVariant(VT_I4);
        pCommand->AddParameter(var);
        IDispatch* pRecordset = nullptr;
        ClearErrorInfo();
        EXPECT_EQ(row.hr, Execute(pCommand, row.bKeyed ? nullptr : L"q", 0, &pRecordset));
        const GErrorText error = TakeErrorInfo();
        EXPECT_EQ(row.szSource == nullptr ? L"" : row.szSource, error.sSource);
        EXPECT_EQ(row.szDescription, error.sDescription);
        EXPECT_EQ(nullptr, pRecordset);
        EXPECT_EQ(row.nExecutions, pCommand->m_nExecutions);
        EXPECT_EQ(0u, pCommand->Release());
        EXPECT_EQ(0, AdoWorld().nLive);
        const std::vector<std::string> vecAll = Requests();
        EXPECT_EQ(row.vecRequests, std::vector<std::string>(vecAll.begin() + nBefore, vecAll.end()));
        AdoWorld() = GAdoWorld();
        if (row.bClosed)
        {
            ExpectClosed();
            ASSERT_EQ(S_OK, Open());
        }
        else
        {
            ExpectOpen();
        }
    }
}

TEST_F(ExecuteTest, ItemWithACommandGivesWhatExecuteUnderTheKeyGives)
{
    m_server.Answer(REPLY_NOT_FOUND).Answer(REPLY_STORED);
    GFakeCommand* pCommand = new GFakeCommand(TEXT, ROWS);
    GTestVariant varName;
    varName.vt = VT_DISPATCH;
    varName.pdispVal = pCommand;
    GTestVariant varValue;
    varValue.vt = VT_I4;
    varValue.lVal = 7;
    EXPECT_EQ(S_OK, m_pObject->get_Item(&varName, &varValue));
    EXPECT_EQ((std::vector<std::string>{GetRequest(KEY), SetRequest(KEY, "9", SAVED_LENGTH, SAVED, "0")}),
              Requests());
    ASSERT_EQ(VT_DISPATCH, varValue.vt);
    varValue.vt = VT_EMPTY;
    ExpectStoredResult(varValue.pdispVal, ROWS);

    // A failing Execute leaves the value as it was.
    m_server.Answer(REPLY_NOT_FOUND);
    AdoWorld().failAt = GAdoStep::Execute;
    varValue.vt = VT_I4;
    varValue.lVal = 7;
    EXPECT_EQ(HR_ADO_FAILURE, m_pObject->get_Item(&varName, &varValue));
    EXPECT_EQ(VT_I4, varValue.vt);
    EXPECT_EQ(7, varValue.lVal);
    ExpectOpen();
}
}
