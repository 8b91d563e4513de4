// GRealServers: the three harbinet-servers that the routing and thread tests run against.
#pragma once

#include <string>

#include "harbinet_h.h"

// The servers listen on consecutive loopback ports from HARBINET_DISTRIBUTED_PORT; the
// first hands a fresh cookie to every request without one, the other two never do.
class GRealServers
{
public:
    static constexpr int COUNT = 3;

    GRealServers();
    bool IsConfigured() const { return m_nBasePort != 0; }
    std::wstring Url(int nServer) const;
    // "url0;url1;url2" followed by sSuffix.
    std::wstring List(const std::wstring& sSuffix = L"") const;

    // Stops or starts one server through the fixture script, as the test runner does;
    // false when its port has not closed or opened within ten seconds.
    bool Stop(int nServer) const;
    bool Start(int nServer) const;

    // Whether server nServer holds sName in the space of the cookie (null: none), read
    // with a single-server object of its own.
    bool Holds(int nServer, const wchar_t* szCookie, const wchar_t* szName) const;

private:
    bool RunFixture(const std::string& sArguments) const;
    bool WaitListening(int nServer, bool bListening) const;

    int m_nBasePort = 0;
    std::string m_sScript;
    std::string m_sServer;
    std::string m_sPidPrefix;
};

// The hash that routes a call: the sum of the text's UTF-16 units.
unsigned NameHashOf(const std::wstring& s);
