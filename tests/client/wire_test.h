// GWireTest: the fixture of the wire tests (one new object, one scripted server) and their checks.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/fake_server.h"
#include "tests/support/harbinet_module.h"

// The reply a nop or del wants to see, and the nop of the empty name as it goes out to
// the fake server (whose URL names the host 127.0.0.1 and the base path /).
constexpr const char* g_szReplyOk = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n";
constexpr const char* g_szNoopEmpty =
    "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n";

// "0x80040206": result codes compared as text, so that a failure shows them readably.
std::string HResultText(HRESULT hr);

// UTF-16 of a text that holds ASCII only.
std::wstring WidenAscii(const std::string& s);

// Passes when hr is the expected code and the thread's error information carries source
// "Harbinet" and the expected description. Takes the error information off the thread.
testing::AssertionResult IsReported(HRESULT hr, const char* szExpectedCode, const std::wstring& sDescription);
// The same with another source.
testing::AssertionResult IsReportedBy(HRESULT hr, const char* szExpectedCode, const std::wstring& sSource,
                                      const std::wstring& sDescription);

// Passes when the thread holds no error information.
testing::AssertionResult HasNoErrorInfo();

// The Cookie property as read through the interface: null or a text.
struct GCookie
{
    bool bNull = true;
    std::wstring sText;
};

// Exactly 32 lower-case hexadecimal digits, as a cookie made from a GUID is.
bool IsLowerHex32(const std::wstring& s);

// A loopback port on which nothing listens (it was free a moment ago).
int FindClosedPort();

// Gives the calling thread another locale, and so another ANSI code page, for a while.
class GThreadLocaleScope
{
public:
    explicit GThreadLocaleScope(LANGID nLanguage);
    ~GThreadLocaleScope();
    GThreadLocaleScope(const GThreadLocaleScope&) = delete;
    GThreadLocaleScope& operator=(const GThreadLocaleScope&) = delete;

    bool IsSet() const { return m_bSet; }

private:
    LCID m_nOld;
    bool m_bSet = false;
};

// Ends the test program when a test runs far longer than any test should: a client that
// waits where it must not would otherwise hold the whole run until the test runner
// kills it without a word on which test it was.
class GHangWatch
{
public:
    explicit GHangWatch(int nSeconds);
    ~GHangWatch();
    GHangWatch(const GHangWatch&) = delete;
    GHangWatch& operator=(const GHangWatch&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bDone = false;
    std::thread m_thread;
};

class GWireTest : public testing::Test
{
protected:
    void SetUp() override;
    // The leak check every test ends with: the last Release gives 0, and the module may
    // unload again.
    void TearDown() override;

    HRESULT Open(const std::string& sUrl);
    HRESULT Open(const wchar_t* szUrl);
    // Opens the fake server's URL with this base path.
    HRESULT OpenFake(const char* szPath = "/");
    // Close, then OpenFake: a fresh connection for the next case of a table.
    HRESULT ReopenFake(const char* szPath = "/");
    HRESULT Noop(const wchar_t* szName);
    HRESULT Delete(const wchar_t* szName);
    HRESULT PutCookie(const wchar_t* szCookie);
    GCookie GetCookie();

    // Scripts one answer and runs a Noop of the empty name against it.
    HRESULT NoopAgainst(const std::string& sReply);

    // Every byte that reached the server, once every scripted step has run.
    std::string ReceivedWhenDone();

    GHangWatch m_hangWatch{60};
    GFakeServer m_server;
    IHarbinet* m_pHarbinet = nullptr;
};
