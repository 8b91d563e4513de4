// Time limits from the registry: how they are read, and each limit running out on a live connection.
#include "tests/client/wire_test.h"

#include <oleauto.h>

#include <functional>
#include <string>

#include "client/time_limits.h"

namespace
{

using namespace std::string_literals;

constexpr const wchar_t* g_szSettingsKey = L"SOFTWARE\\Harbinet";

void WriteSetting(const wchar_t* szName, DWORD nType, const void* pData, DWORD nBytes, REGSAM nView)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, g_szSettingsKey, 0, nullptr, 0,
                                             KEY_SET_VALUE | nView, nullptr, &hKey, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(hKey, szName, 0, nType, static_cast<const BYTE*>(pData), nBytes));
    RegCloseKey(hKey);
}

void WriteLimit(const wchar_t* szName, DWORD nMs, REGSAM nView = KEY_WOW64_64KEY)
{
    WriteSetting(szName, REG_DWORD, &nMs, sizeof(nMs), nView);
}

void RemoveSettings()
{
    for (REGSAM nView : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, g_szSettingsKey, nView, 0);
}

// The module reads its limits once, at its first Open: they exist just for that moment, so
// that no other test program in the same prefix ever finds them. 400 ms keeps the run
// quick and is far more than any loopback exchange needs.
class GLimitedModule : public testing::Environment
{
public:
    void SetUp() override
    {
        RemoveSettings();
        for (const wchar_t* szName : {L"ConnectTimeout", L"SendTimeout", L"ReceiveTimeout"})
            WriteLimit(szName, 400);
        IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
        pHarbinet->Open(nullptr);
        pHarbinet->Release();
        RemoveSettings();
    }
};
testing::Environment* const g_pLimitedModule = testing::AddGlobalTestEnvironment(new GLimitedModule);

// Reads through the library code linked into this program, not the loaded module.
TEST(TimeLimitSettingsTest, OnlyDwordValuesInTheSixtyFourBitViewSetALimit)
{
    const wchar_t szText[] = L"5000";
    const struct
    {
        const char* szShows;
        std::function<void()> write;
        DWORD nConnect, nSend, nReceive;
    } aCases[] = {
        {"no key: no limits", [] {}, 0, 0, 0},
        {"each value its own limit",
         [] { WriteLimit(L"ConnectTimeout", 1500); WriteLimit(L"SendTimeout", 2500); WriteLimit(L"ReceiveTimeout", 3500); },
         1500, 2500, 3500},
        {"another type is no limit",
         [&] { WriteSetting(L"ReceiveTimeout", REG_SZ, szText, sizeof(szText), KEY_WOW64_64KEY); }, 0, 0, 0},
        {"the 32-bit view is not read", [] { WriteLimit(L"ReceiveTimeout", 3500, KEY_WOW64_32KEY); }, 0, 0, 0},
    };
    for (const auto& test : aCases)
    {
        RemoveSettings();
        test.write();
        LoadTimeLimits();
        EXPECT_EQ(test.nConnect, g_nConnectTimeout) << test.szShows;
        EXPECT_EQ(test.nSend, g_nSendTimeout) << test.szShows;
        EXPECT_EQ(test.nReceive, g_nReceiveTimeout) << test.szShows;
    }
    RemoveSettings();
}

using TimeLimitTest = GWireTest;

// Completes connections (a backlog of one) but never accepts them, so nothing reads
// what arrives; with the one place taken by Fill(), further connects wait unanswered.
class GDeafListener
{
public:
    GDeafListener() : m_sock(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        m_address.sin_family = AF_INET;
        m_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int nLength = sizeof m_address;
        bind(m_sock, reinterpret_cast<sockaddr*>(&m_address), sizeof m_address);
        listen(m_sock, 0);
        getsockname(m_sock, reinterpret_cast<sockaddr*>(&m_address), &nLength);
    }
    ~GDeafListener()
    {
        closesocket(m_sockFiller);
        closesocket(m_sock);
    }
    GDeafListener(const GDeafListener&) = delete;
    GDeafListener& operator=(const GDeafListener&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(ntohs(m_address.sin_port)) + "/"; }
    bool Fill()
    {
        m_sockFiller = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        return connect(m_sockFiller, reinterpret_cast<sockaddr*>(&m_address), sizeof m_address) == 0;
    }

private:
    SOCKET m_sock;
    SOCKET m_sockFiller = INVALID_SOCKET;
    sockaddr_in m_address = {};
};

// Once a limit has run out the object is closed: the next command has no connection.
void ExpectClosed(IHarbinet* pHarbinet)
{
    GTestBstr bstrName(L"after");
    EXPECT_TRUE(IsReported(pHarbinet->Noop(bstrName), "0x80040206", L"HTTP error."));
}

// Every command gives up on a server that stops answering, wherever in the reply it stops.
TEST_F(TimeLimitTest, ServerThatStopsAnsweringEndsCommandWithReceiveTimedOut)
{
    GTestBstr bstrName(L"v");
    VARIANT var;
    VariantInit(&var);
    VARIANT_BOOL b = VARIANT_FALSE;
    const auto noop = [&](IHarbinet* p) { return p->Noop(bstrName); };
    const auto del = [&](IHarbinet* p) { return p->Delete(bstrName); };
    const auto set = [&](IHarbinet* p) { VARIANT varI4 = {}; varI4.vt = VT_I4; return p->Set(bstrName, &varI4, 60, &b); };
    const auto get = [&](IHarbinet* p) { VariantClear(&var); return p->Get(bstrName, &var, &b); };
    const struct
    {
        const char* szShows;
        std::function<HRESULT(IHarbinet*)> command;
        std::string sReplyBeforeSilence;
    } aCases[] = {
        {"nop, no reply", noop, ""},
        {"del, no reply", del, ""},
        {"set, no reply", set, ""},
        {"get, no reply", get, ""},
        {"nop, head cut short", noop, "HTTP/1.1 200 OK\r\nx-result-"},
        {"get, body cut short", get,
         "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-3\r\n"
         "content-length: 24\r\n\r\n\x03\0\0\0"s},
    };
    for (const auto& test : aCases)
    {
        ASSERT_EQ(S_OK, ReopenFake()) << test.szShows;
        if (test.sReplyBeforeSilence.empty())
            m_server.ReadRequestAndStaySilent();
        else
            m_server.Answer(test.sReplyBeforeSilence);
        EXPECT_TRUE(IsReported(test.command(m_pHarbinet), "0x80040206", L"Receive timed out.")) << test.szShows;
        ExpectClosed(m_pHarbinet);
    }
    VariantClear(&var);
}

// The result stands when only an unused body stops coming, but the connection goes:
// the rest of that body would otherwise be read as the next reply.
TEST_F(TimeLimitTest, BodyThatStopsComingAfterTheResultClosesTheConnection)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 10\r\n\r\nabc");
    EXPECT_EQ(S_OK, Noop(L"v"));
    ExpectClosed(m_pHarbinet);
}

TEST_F(TimeLimitTest, ServerThatAnswersInTimeIsServedAsBefore)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty, ReceivedWhenDone());
}

// A server that reads nothing fills the buffers on both sides (32 MiB is far more than
// loopback buffers hold); then the send waits.
TEST_F(TimeLimitTest, ServerThatReadsNothingEndsSetWithSendTimedOut)
{
    GDeafListener listener;
    ASSERT_EQ(S_OK, Open(listener.Url()));
    VARIANT var;
    var.vt = VT_ARRAY | VT_UI1;
    var.parray = SafeArrayCreateVector(VT_UI1, 0, 32u << 20);
    ASSERT_NE(nullptr, var.parray);
    GTestBstr bstrName(L"big");
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_TRUE(IsReported(m_pHarbinet->Set(bstrName, &var, 60, &bSet), "0x80040206", L"Send timed out."));
    VariantClear(&var);
    ExpectClosed(m_pHarbinet);
}

TEST_F(TimeLimitTest, ListenerThatNeverAnswersEndsOpenWithConnectTimedOut)
{
    GDeafListener listener;
    ASSERT_TRUE(listener.Fill());
    const DWORD nStart = GetTickCount();
    EXPECT_TRUE(IsReported(Open(listener.Url()), "0x80040205", L"Connect timed out."));
    EXPECT_GE(GetTickCount() - nStart, 350u);   // the whole limit, less the clock's steps; never an upper bound
    // A refused connect stays what it was.
    EXPECT_TRUE(IsReported(Open("http://127.0.0.1:" + std::to_string(FindClosedPort()) + "/"), "0x80040205",
                           L"Connect error."));
}

}   // namespace
