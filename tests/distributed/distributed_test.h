// GDistributedTest: distributed objects over the scripted fake server, and the request texts their tests expect.
#pragma once

#include <string>
#include <vector>

#include "tests/client/wire_test.h"

// A bodiless request (del or nop) as it reaches the fake server, cookie header only when given.
std::string Bodiless(const char* szCommand, const std::string& sName, const char* szCookie = nullptr);

class GDistributedTest : public testing::Test
{
protected:
    void SetUp() override;
    // Every object made here must give its last Release 0.
    void TearDown() override;

    // A new distributed object, released at the end of the test.
    IHarbinet* Make();
    // A new distributed object opened on the list.
    IHarbinet* OpenOn(const std::wstring& sList);
    std::wstring FakeUrl(const char* szPath = "/") const { return WidenAscii(m_server.Url(szPath)); }
    // Every byte that reached the server, once every scripted step has run.
    std::string ReceivedWhenDone();

    GHangWatch m_hangWatch{60};
    GFakeServer m_server;
    std::vector<IHarbinet*> m_vecObjects;
};

// The Cookie property of any object, null or a text.
GCookie CookieOf(IHarbinet* pHarbinet);
