// A host that uses every feature of harbinet.dll, then ends with ExitProcess and releases nothing: traced, it shows what the module calls while it loads and once the process exits.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/query/fake_ado.h"
#include "tests/support/harbinet_module.h"

namespace
{
bool Use(IHarbinet* pHarbinet, const std::wstring& sOpen)
{
    GTestBstr bstrOpen(sOpen.c_str()), bstrName(L"exit-host"), bstrEmpty(L"");
    VARIANT var = {};
    var.vt = VT_I4;
    VARIANT_BOOL bFlag = VARIANT_FALSE;
    return SUCCEEDED(pHarbinet->Open(bstrOpen)) && SUCCEEDED(pHarbinet->put_Cookie(bstrEmpty))
        && SUCCEEDED(pHarbinet->Set(bstrName, &var, 0, &bFlag)) && SUCCEEDED(pHarbinet->Get(bstrName, &var, &bFlag));
}
}

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const char* szUrl = std::getenv("HARBINET_TEST_URL");
    const std::wstring sUrl(szUrl, szUrl + (szUrl == nullptr ? 0 : std::strlen(szUrl)));
    GHarbinetModule& module = GHarbinetModule::Instance();
    const auto* pBase = reinterpret_cast<const BYTE*>(module.Handle());
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase)->e_lfanew);
    std::fprintf(stderr, "exit-host: module %016llx %016llx\n", static_cast<unsigned long long>(uintptr_t(pBase)),
                 static_cast<unsigned long long>(uintptr_t(pBase) + pNt->OptionalHeader.SizeOfImage));
    new GAdoRegistration;   // never destroyed: nothing is released before the exit
    IDispatch* pRecordset = nullptr;
    IHarbinet* pDistributed = module.CreateDistributed();
    if (!Use(module.CreateHarbinet(), sUrl) || !Use(pDistributed, sUrl + L";" + sUrl + L"|4")
        || FAILED(pDistributed->Execute(new GFakeCommand(L"SELECT 1", "one"), nullptr, 60, &pRecordset)))
        return 1;
    std::fprintf(stderr, "exit-host: used\n");   // stderr is unbuffered
    ExitProcess(0);
}
