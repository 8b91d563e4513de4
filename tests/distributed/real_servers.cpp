// GRealServers: where the servers are, how they are stopped and started, and what they hold.
#include "tests/distributed/real_servers.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>

#include "tests/support/harbinet_module.h"

namespace
{
std::string Environment(const char* szName)
{
    const char* sz = std::getenv(szName);
    return sz == nullptr ? std::string() : std::string(sz);
}
}

GRealServers::GRealServers()
    : m_nBasePort(std::atoi(Environment("HARBINET_DISTRIBUTED_PORT").c_str())),
      m_sScript(Environment("HARBINET_FIXTURE_SCRIPT")),
      m_sServer(Environment("HARBINET_SERVER_PATH")),
      m_sPidPrefix(Environment("HARBINET_PIDFILE_PREFIX"))
{
}

std::wstring GRealServers::Url(int nServer) const
{
    return L"http://127.0.0.1:" + std::to_wstring(m_nBasePort + nServer) + L"/";
}

std::wstring GRealServers::List(const std::wstring& sSuffix) const
{
    return Url(0) + L";" + Url(1) + L";" + Url(2) + sSuffix;
}

bool GRealServers::Stop(int nServer) const
{
    return RunFixture("stop " + m_sPidPrefix + std::to_string(nServer) + ".pid") && WaitListening(nServer, false);
}

bool GRealServers::Start(int nServer) const
{
    return RunFixture("start " + m_sServer + " " + std::to_string(m_nBasePort + nServer) + " " + m_sPidPrefix
                      + std::to_string(nServer) + ".pid" + (nServer == 0 ? " --issue-cookies" : ""))
        && WaitListening(nServer, true);
}

// Wine runs a Linux program given by its Unix path as it is, but cannot wait for it: the
// server's port tells when the script has done its work.
bool GRealServers::RunFixture(const std::string& sArguments) const
{
    std::string sCommand = "/bin/bash " + m_sScript + " " + sArguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &sCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool GRealServers::WaitListening(int nServer, bool bListening) const
{
    for (int nWaited = 0; nWaited < 10000; nWaited += 50)
    {
        const SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(m_nBasePort + nServer));
        const bool bAccepted = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        closesocket(sock);
        if (bAccepted == bListening)
            return true;
        Sleep(50);
    }
    return false;
}

bool GRealServers::Holds(int nServer, const wchar_t* szCookie, const wchar_t* szName) const
{
    IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
    GTestBstr bstrUrl(Url(nServer).c_str());
    GTestBstr bstrCookie(szCookie);
    GTestBstr bstrName(szName);
    VARIANT varValue;
    VariantInit(&varValue);
    VARIANT_BOOL bFound = VARIANT_FALSE;
    const bool bHolds = SUCCEEDED(pHarbinet->Open(bstrUrl)) && SUCCEEDED(pHarbinet->put_Cookie(bstrCookie))
        && SUCCEEDED(pHarbinet->Get(bstrName, &varValue, &bFound)) && bFound == VARIANT_TRUE;
    VariantClear(&varValue);
    pHarbinet->Release();
    return bHolds;
}

unsigned NameHashOf(const std::wstring& s)
{
    unsigned nHash = 0;
    for (wchar_t ch : s)
        nHash += static_cast<unsigned short>(ch);
    return nHash;
}
