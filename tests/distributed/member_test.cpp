// The distributed members' own rules: open state, cookie, Item, Execute's checks, and the cookie hand-over on the wire.
#include "tests/distributed/distributed_test.h"

#include <functional>

namespace
{

using MemberTest = GDistributedTest;

const wchar_t* const g_szSource = L"Harbinet.Distributed";

TEST_F(MemberTest, EveryCallOnAnObjectThatIsNotOpenIsRefused)
{
    IHarbinet* pHarbinet = Make();
    GTestBstr bstrName(L"n");
    VARIANT varValue;
    VariantInit(&varValue);
    VARIANT varName;
    varName.vt = VT_BSTR;
    varName.bstrVal = bstrName;
    VARIANT_BOOL bFlag = VARIANT_FALSE;
    IDispatch* pRecordset = nullptr;
    const std::pair<const char*, std::function<HRESULT()>> aCalls[] = {
        {"Set", [&] { return pHarbinet->Set(bstrName, &varValue, 0, &bFlag); }},
        {"Set with a negative timeout", [&] { return pHarbinet->Set(bstrName, &varValue, -1, &bFlag); }},
        {"Get", [&] { return pHarbinet->Get(bstrName, &varValue, &bFlag); }},
        {"Delete", [&] { return pHarbinet->Delete(bstrName); }},
        {"Noop", [&] { return pHarbinet->Noop(bstrName); }},
        {"Execute", [&] { return pHarbinet->Execute(pHarbinet, bstrName, 0, &pRecordset); }},
        {"put Item", [&] { return pHarbinet->put_Item(&varName, &varValue); }},
        {"get Item", [&] { return pHarbinet->get_Item(&varName, &varValue); }},
    };
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        for (const auto& call : aCalls)
        {
            SCOPED_TRACE(call.first);
            EXPECT_TRUE(IsReportedBy(call.second(), "0x80040201", g_szSource, L"Is not connecting."));
        }
        GTestBstr bstrList(FakeUrl().c_str());
        EXPECT_EQ(S_OK, pHarbinet->Open(bstrList));
        EXPECT_EQ(S_OK, pHarbinet->Close());   // closed again for the second round
    }
    EXPECT_EQ(0, m_server.Connections());
}

TEST_F(MemberTest, OpenTwiceKeepsTheFirstPoolAndCloseKeepsTheCookie)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl("/first/"));
    GTestBstr bstrOther(FakeUrl("/other/").c_str());
    EXPECT_TRUE(IsReportedBy(pHarbinet->Open(bstrOther), "0x80040200", g_szSource, L"Already connected."));
    GTestBstr bstrCookie(L"c1");
    pHarbinet->put_Cookie(bstrCookie);

    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    EXPECT_EQ(S_OK, pHarbinet->Close());
    EXPECT_EQ(S_OK, pHarbinet->Close());
    EXPECT_EQ(S_OK, pHarbinet->Open(bstrOther));
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    EXPECT_EQ(L"c1", CookieOf(pHarbinet).sText);
    EXPECT_EQ("POST /first/nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n"
              "POST /first/nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\ncookie: c1\r\nx-param-name: \r\n\r\n"
              "POST /other/nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n"
              "POST /other/nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\ncookie: c1\r\nx-param-name: \r\n\r\n",
              ReceivedWhenDone());
}

TEST_F(MemberTest, SetWithANegativeTimeoutTakesNoConnection)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    GTestBstr bstrName(L"n");
    VARIANT varValue;
    varValue.vt = VT_I4;
    varValue.lVal = 1;
    VARIANT_BOOL bSet = 7;
    EXPECT_EQ(S_FALSE, pHarbinet->Set(bstrName, &varValue, -1, &bSet));
    EXPECT_EQ(7, bSet);
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(0, m_server.Connections());
}

TEST_F(MemberTest, CookieIsKeptAsGivenOrMadeFromAGuid)
{
    IHarbinet* pHarbinet = Make();
    EXPECT_TRUE(CookieOf(pHarbinet).bNull);
    GTestBstr bstrEmpty(L"");
    EXPECT_EQ(S_OK, pHarbinet->put_Cookie(bstrEmpty));
    const std::wstring sMade = CookieOf(pHarbinet).sText;
    EXPECT_TRUE(IsLowerHex32(sMade)) << "made " << sMade.size() << " units";
    EXPECT_EQ(S_OK, pHarbinet->put_Cookie(bstrEmpty));
    EXPECT_NE(sMade, CookieOf(pHarbinet).sText);
    const std::wstring sLong(1000, L'k');
    GTestBstr bstrLong(sLong.c_str());
    EXPECT_EQ(S_OK, pHarbinet->put_Cookie(bstrLong));
    EXPECT_EQ(sLong, CookieOf(pHarbinet).sText);
    EXPECT_EQ(S_OK, pHarbinet->put_Cookie(nullptr));
    EXPECT_TRUE(CookieOf(pHarbinet).bNull);
    EXPECT_EQ(E_POINTER, pHarbinet->get_Cookie(nullptr));
}

// The cookie goes in before the call and comes back after it; a failing reply's cookie
// does not reach the object, and the next object on the connection sends its own.
TEST_F(MemberTest, CookieTravelsThroughThePooledConnection)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    GTestBstr bstrCookie(L"c1");
    pHarbinet->put_Cookie(bstrCookie);
    m_server.Answer(g_szReplyOk)
        .Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: c2\r\ncontent-length: 0\r\n\r\n");
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    EXPECT_EQ(L"c2", CookieOf(pHarbinet).sText);

    m_server.Answer("HTTP/1.1 500 No\r\nset-cookie: c3\r\ncontent-length: 0\r\n\r\n");
    EXPECT_TRUE(IsReported(pHarbinet->Noop(nullptr), "0x80040206", L"500 No"));
    EXPECT_EQ(L"c2", CookieOf(pHarbinet).sText);

    // An empty cookie routes by hash 0 and has the connection make a fresh one.
    m_server.Answer(g_szReplyOk).Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: \r\ncontent-length: 0\r\n\r\n");
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    EXPECT_EQ(L"", CookieOf(pHarbinet).sText);
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    const std::wstring sFresh = CookieOf(pHarbinet).sText;
    EXPECT_TRUE(IsLowerHex32(sFresh));

    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, OpenOn(FakeUrl())->Noop(nullptr));
    const std::string sFreshNarrow(sFresh.begin(), sFresh.end());
    EXPECT_EQ(Bodiless("nop", "") + Bodiless("nop", "", "c1") + Bodiless("nop", "", "c2") + Bodiless("nop", "")
                  + Bodiless("nop", "", "c2") + Bodiless("nop", "", sFreshNarrow.c_str()) + Bodiless("nop", ""),
              ReceivedWhenDone());
}

TEST_F(MemberTest, ItemRefusesNamesOfOtherTypes)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    GTestBstr bstrName(L"n");
    VARIANT aNames[3];
    aNames[0].vt = VT_I4;
    aNames[0].lVal = 5;
    aNames[1].vt = VT_BSTR | VT_BYREF;
    BSTR bstrByRef = bstrName;
    aNames[1].pbstrVal = &bstrByRef;
    aNames[2].vt = VT_EMPTY;
    VARIANT varValue;
    VariantInit(&varValue);
    for (VARIANT& varName : aNames)
    {
        EXPECT_TRUE(IsReportedBy(pHarbinet->put_Item(&varName, &varValue), "0x80040300", g_szSource,
                                 L"Invalid name type."));
        EXPECT_TRUE(IsReportedBy(pHarbinet->get_Item(&varName, &varValue), "0x80040300", g_szSource,
                                 L"Invalid name type."));
    }
    EXPECT_EQ(0, m_server.Connections());
}

TEST_F(MemberTest, ExecuteRefusesWhatIsNoCommandBeforeAnyConnection)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    IDispatch* pRecordset = nullptr;
    EXPECT_EQ(E_INVALIDARG, pHarbinet->Execute(nullptr, nullptr, 0, &pRecordset));
    EXPECT_EQ(E_NOINTERFACE, pHarbinet->Execute(pHarbinet, nullptr, 0, &pRecordset));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(nullptr, pRecordset);
    EXPECT_EQ(0, m_server.Connections());
}

// An empty cookie routes every name to the entry of hash 0 ("a" alone picks the second).
TEST_F(MemberTest, AnEmptyCookieSendsEveryNameToOneEntry)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl("/e0/") + L";" + FakeUrl("/e1/"));
    m_server.Answer(g_szReplyOk)
        .Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: \r\ncontent-length: 0\r\n\r\n")
        .Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    ASSERT_EQ(L"", CookieOf(pHarbinet).sText);
    GTestBstr bstrName(L"a");
    EXPECT_EQ(S_OK, pHarbinet->Noop(bstrName));
    ASSERT_TRUE(m_server.WaitDone());
    EXPECT_EQ(0u, m_server.Requests().back().rfind("POST /e0/nop HTTP/1.1\r\n", 0)) << m_server.Requests().back();
}

}   // namespace
