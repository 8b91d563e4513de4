// A host that uses every feature of harbinet.dll, then ends with ExitProcess and releases nothing: traced, it shows what the module calls while it loads and once the process exits.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/query/fake_ado.h"
#include "tests/support/harbinet_module.h"

namespace
{
bool Check(HRESULT hr, const char* szStep)
{
    if (FAILED(hr))
        std::fprintf(stderr, "exit-host: %s failed with 0x%08lx\n", szStep, static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

// A value of each object, read back, and a cookie made by the module.
bool UseObject(IHarbinet* pHarbinet, const std::wstring& sOpen)
{
    BSTR bstrOpen = SysAllocString(sOpen.c_str());
    BSTR bstrName = SysAllocString(L"exit-host");
    BSTR bstrEmpty = SysAllocString(L"");
    VARIANT var;
    var.vt = VT_I4;
    var.lVal = 42;
    VARIANT_BOOL bFlag = VARIANT_FALSE;
    return Check(pHarbinet->Open(bstrOpen), "Open") && Check(pHarbinet->put_Cookie(bstrEmpty), "put_Cookie")
        && Check(pHarbinet->Set(bstrName, &var, 0, &bFlag), "Set") && Check(pHarbinet->Get(bstrName, &var, &bFlag), "Get")
        && Check(pHarbinet->Noop(bstrName), "Noop");
}
}

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const char* szUrl = std::getenv("HARBINET_TEST_URL");
    if (szUrl == nullptr)
        return 2;
    const std::wstring sUrl(szUrl, szUrl + std::char_traits<char>::length(szUrl));
    GHarbinetModule& module = GHarbinetModule::Instance();
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module.Handle());
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(pDos) + pDos->e_lfanew);
    const uintptr_t nBase = reinterpret_cast<uintptr_t>(module.Handle());
    // On wine's trace stream, so that the check knows which calls come from the module.
    std::fprintf(stderr, "exit-host: module %016llx %016llx\n", static_cast<unsigned long long>(nBase),
                 static_cast<unsigned long long>(nBase + pNt->OptionalHeader.SizeOfImage));

    new GAdoRegistration;   // never destroyed: nothing is released before the exit
    GFakeCommand* pCommand = new GFakeCommand(L"SELECT 1", "one");
    IDispatch* pRecordset = nullptr;
    IHarbinet* pDistributed = module.CreateDistributed();
    if (!UseObject(module.CreateHarbinet(), sUrl) || !UseObject(pDistributed, sUrl + L";" + sUrl + L"|4")
        || !Check(pDistributed->Execute(pCommand, nullptr, 60, &pRecordset), "Execute"))
        return 1;
    std::fprintf(stderr, "exit-host: used\n");
    std::fflush(stderr);
    ExitProcess(0);
}
