// Harbinet from C++ through the interface table: open, set, get, delete, the cookie, the
// distributed class and errors, with HRESULTs and the thread's error information.
//
// Build it with the header that widl makes from dispatch/harbinet.idl (harbinet_h.h) and
// link ole32, oleaut32 and uuid; the project's Windows build does so (harbinet_example.exe
// beside harbinet.dll; build/win32 makes the 32-bit program). Run it once the harbinet.dll
// of the program's width is registered (regsvr32 harbinet.dll; a 32-bit program needs the
// 32-bit DLL, registered by the regsvr32 in SysWOW64) and harbinet-server runs on both URLs:
//
//   harbinet_example.exe [server URL [second server URL]]
//
// The URLs default to http://127.0.0.1:8077/ and http://127.0.0.1:8078/. The program
// prints what each step did and ends with "ok - harbinet_example.cpp" when every step went
// as expected; otherwise it prints "not ok - ..." lines and exits with their count.
#include <windows.h>
#include <oleauto.h>

// The identifiers that the header declares are defined in this one file.
#include <initguid.h>
#include "harbinet_h.h"

#include <cstdio>
#include <string>

namespace
{

int g_nFailures = 0;

std::string Narrow(const wchar_t* sz)
{
    if (sz == nullptr)
        return "(null)";
    const int n = WideCharToMultiByte(CP_ACP, 0, sz, -1, nullptr, 0, nullptr, nullptr);
    std::string szOut(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, sz, -1, &szOut[0], n, nullptr, nullptr);
    szOut.resize(szOut.size() - 1);
    return szOut;
}

std::wstring Wide(const char* sz)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, sz, -1, nullptr, 0);
    std::wstring szOut(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, sz, -1, &szOut[0], n);
    szOut.resize(szOut.size() - 1);
    return szOut;
}

void Check(bool bCondition, const std::string& szWhat)
{
    if (!bCondition)
    {
        ++g_nFailures;
        std::printf("not ok - %s\n", szWhat.c_str());
    }
}

// An owned BSTR argument; the component never takes over the caller's strings.
class GText
{
public:
    explicit GText(const wchar_t* sz) : m_bstr(SysAllocString(sz)) {}
    explicit GText(const std::wstring& sz) : m_bstr(SysAllocStringLen(sz.data(), static_cast<UINT>(sz.size()))) {}
    ~GText() { SysFreeString(m_bstr); }
    GText(const GText&) = delete;
    GText& operator=(const GText&) = delete;
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// A VARIANT that is cleared when it goes; out arguments must start initialised, since
// the component clears what they held before it writes a value.
class GVar
{
public:
    GVar() { VariantInit(&m_var); }
    explicit GVar(const wchar_t* sz) : GVar() { m_var.vt = VT_BSTR; m_var.bstrVal = SysAllocString(sz); }
    explicit GVar(long n) : GVar() { m_var.vt = VT_I4; m_var.lVal = n; }
    explicit GVar(double d) : GVar() { m_var.vt = VT_R8; m_var.dblVal = d; }
    ~GVar() { VariantClear(&m_var); }
    GVar(const GVar&) = delete;
    GVar& operator=(const GVar&) = delete;
    VARIANT* operator&() { return &m_var; }
    const VARIANT& operator*() const { return m_var; }

    std::string Text() const
    {
        VARIANT varText;
        VariantInit(&varText);
        if (FAILED(VariantChangeType(&varText, const_cast<VARIANT*>(&m_var), 0, VT_BSTR)))
            return "(type " + std::to_string(m_var.vt) + ")";
        std::string sz = Narrow(varText.bstrVal);
        VariantClear(&varText);
        return sz;
    }

private:
    VARIANT m_var;
};

// A counted interface reference, released when it goes.
template <class T>
class GRef
{
public:
    GRef() = default;
    ~GRef()
    {
        if (m_p != nullptr)
            m_p->Release();
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    T* operator->() const { return m_p; }
    T** Out() { return &m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p = nullptr;
};

// What a failure says: the HRESULT, and the source and description that the component
// left as the thread's error information. Reading the information takes it away.
std::string Describe(HRESULT hr)
{
    char szCode[16];
    std::snprintf(szCode, sizeof szCode, "0x%08lX", static_cast<unsigned long>(hr));
    std::string szText = szCode;
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) == S_OK && pInfo != nullptr)
    {
        BSTR bstrSource = nullptr;
        BSTR bstrDescription = nullptr;
        pInfo->GetSource(&bstrSource);
        pInfo->GetDescription(&bstrDescription);
        szText += " from \"" + Narrow(bstrSource) + "\": " + Narrow(bstrDescription);
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        pInfo->Release();
    }
    else
    {
        szText += " (no error information)";
    }
    return szText;
}

// Success is not reported through the error information, and a successful call may
// leave older information in place: clear it before a call whose failure is to be
// described, so that what GetErrorInfo gives belongs to that call.
void ForgetError()
{
    SetErrorInfo(0, nullptr);
}

// Stops the example at the first unexpected failure, with what it said.
struct GStop
{
    std::string szWhat;
};

void Must(HRESULT hr, const char* szWhat)
{
    if (FAILED(hr))
        throw GStop{std::string(szWhat) + ": " + Describe(hr)};
}

HRESULT Create(const wchar_t* szProgID, GRef<IHarbinet>& pObject)
{
    CLSID clsid = {};
    const HRESULT hr = CLSIDFromProgID(szProgID, &clsid);
    if (FAILED(hr))
        return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IHarbinet,
                            reinterpret_cast<void**>(pObject.Out()));
}

bool IsHeld(IHarbinet* pServer, const wchar_t* szName)
{
    GVar varIgnored;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    Must(pServer->Get(GText(szName), &varIgnored, &bFound), "Get");
    return bFound == VARIANT_TRUE;
}

const char* YesNo(bool b)
{
    return b ? "yes" : "no";
}

void OneServer(IHarbinet* pCache, const std::wstring& szServer1)
{
    Must(pCache->Open(GText(szServer1)), "Open");
    std::printf("Opened %s\n", Narrow(szServer1.c_str()).c_str());

    VARIANT_BOOL bStored = VARIANT_FALSE;
    GVar varGreeting(L"Hello from C++");
    Must(pCache->Set(GText(L"example.cpp.greeting"), &varGreeting, 60, &bStored), "Set greeting");
    std::printf("Set greeting (kept 60 s): stored %s\n", YesNo(bStored == VARIANT_TRUE));
    Check(bStored == VARIANT_TRUE, "Set greeting was not stored");

    GVar varValue;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    Must(pCache->Get(GText(L"example.cpp.greeting"), &varValue, &bFound), "Get greeting");
    std::printf("Get greeting: found %s, value \"%s\"\n", YesNo(bFound == VARIANT_TRUE), varValue.Text().c_str());
    Check(bFound == VARIANT_TRUE && (*varValue).vt == VT_BSTR && varValue.Text() == "Hello from C++",
          "Get greeting gave " + varValue.Text());

    // A missing name is S_OK with the found flag false; the VARIANT keeps what it held.
    GVar varKept(L"unchanged");
    Must(pCache->Get(GText(L"example.cpp.never stored"), &varKept, &bFound), "Get never stored");
    std::printf("Get never stored: found %s, variable still \"%s\"\n", YesNo(bFound == VARIANT_TRUE), varKept.Text().c_str());
    Check(bFound == VARIANT_FALSE && varKept.Text() == "unchanged", "a missing name gave " + varKept.Text());

    // Item, the default member, takes the name as a VARIANT; it stores without expiry.
    GVar varName(L"example.cpp.answer");
    GVar varAnswer(42L);
    Must(pCache->put_Item(&varName, &varAnswer), "put_Item");
    GVar varBack;
    Must(pCache->get_Item(&varName, &varBack), "get_Item");
    std::printf("Item(answer) = %s (VARIANT type %d)\n", varBack.Text().c_str(), (*varBack).vt);
    Check((*varBack).vt == VT_I4 && (*varBack).lVal == 42, "Item(answer) gave " + varBack.Text());

    Must(pCache->Delete(GText(L"example.cpp.greeting")), "Delete greeting");
    Must(pCache->Get(GText(L"example.cpp.greeting"), &varValue, &bFound), "Get after Delete");
    std::printf("Deleted greeting; Get: found %s\n", YesNo(bFound == VARIANT_TRUE));
    Check(bFound == VARIANT_FALSE, "Get after Delete found it");
    Must(pCache->Delete(GText(L"example.cpp.answer")), "Delete answer");
}

// A cookie is the space the server keeps names in: another client without it does not
// see them. An empty string asks for a fresh one (32 hexadecimal digits); a null BSTR
// drops it.
std::wstring Cookie(IHarbinet* pCache, const std::wstring& szServer1)
{
    Must(pCache->put_Cookie(GText(L"")), "put_Cookie");
    BSTR bstrCookie = nullptr;
    Must(pCache->get_Cookie(&bstrCookie), "get_Cookie");
    const std::wstring szCookie = bstrCookie == nullptr ? L"" : bstrCookie;
    SysFreeString(bstrCookie);   // the caller owns what get_Cookie hands out
    std::printf("Fresh cookie: %s\n", Narrow(szCookie.c_str()).c_str());
    Check(szCookie.size() == 32, "a fresh cookie has 32 digits: " + Narrow(szCookie.c_str()));

    GVar varBasket(L"3 apples");
    VARIANT_BOOL bStored = VARIANT_FALSE;
    Must(pCache->Set(GText(L"example.cpp.basket"), &varBasket, 0, &bStored), "Set basket");

    GRef<IHarbinet> pOther;
    Must(Create(L"Harbinet", pOther), "CoCreateInstance Harbinet");
    Must(pOther->Open(GText(szServer1)), "Open other");
    const bool bWithout = IsHeld(pOther.Get(), L"example.cpp.basket");
    std::printf("Another object without the cookie: basket found %s\n", YesNo(bWithout));
    Check(!bWithout, "basket seen without its cookie");
    Must(pOther->put_Cookie(GText(szCookie)), "put_Cookie other");
    const bool bWith = IsHeld(pOther.Get(), L"example.cpp.basket");
    std::printf("The same object with the cookie: basket found %s\n", YesNo(bWith));
    Check(bWith, "basket not found with its cookie");
    Must(pCache->Delete(GText(L"example.cpp.basket")), "Delete basket");
    return szCookie;
}

// Every member returns an HRESULT. The component's own failures also leave a source and
// a description behind (GetErrorInfo); a few failures carry none. A failed command
// closes the object: Open it again before the next one.
void Errors(IHarbinet* pCache, const std::wstring& szServer1, const std::wstring& szCookie)
{
    ForgetError();
    HRESULT hr = pCache->Open(GText(szServer1));
    std::string szText = Describe(hr);
    std::printf("Open on an open object: %s\n", szText.c_str());
    Check(hr == static_cast<HRESULT>(0x80040200) && szText.find("\"Harbinet\": Already connected.") != std::string::npos,
          "Open twice: " + szText);

    ForgetError();
    GVar varNumber(5L);
    GVar varValue;
    hr = pCache->get_Item(&varNumber, &varValue);
    szText = Describe(hr);
    std::printf("A number as a name: %s\n", szText.c_str());
    Check(hr == static_cast<HRESULT>(0x80040300) && szText.find("Invalid name type.") != std::string::npos,
          "Item(5): " + szText);

    // The cookie travels in a header line of at most 255 bytes: a longer one is refused
    // with E_FAIL and no error information, and the old cookie stays.
    ForgetError();
    hr = pCache->put_Cookie(GText(std::wstring(300, L'x')));
    szText = Describe(hr);
    std::printf("A cookie of 300 characters: %s\n", szText.c_str());
    Check(hr == E_FAIL && szText.find("no error information") != std::string::npos, "long cookie: " + szText);

    GRef<IHarbinet> pBroken;
    Must(Create(L"Harbinet", pBroken), "CoCreateInstance Harbinet");
    ForgetError();
    hr = pBroken->Open(GText(L"http://127.0.0.1:8077"));
    szText = Describe(hr);
    std::printf("Open without a path: %s\n", szText.c_str());
    Check(hr == static_cast<HRESULT>(0x80040202) && szText.find("Invalid URL.") != std::string::npos,
          "Open without a path: " + szText);

    ForgetError();
    VARIANT_BOOL bFound = VARIANT_TRUE;
    hr = pBroken->Get(GText(L"example.cpp.greeting"), &varValue, &bFound);
    szText = Describe(hr);
    std::printf("Get on an object that is not open: %s\n", szText.c_str());
    Check(hr == static_cast<HRESULT>(0x80040206) && szText.find("HTTP error.") != std::string::npos && bFound == VARIANT_FALSE,
          "Get when not open: " + szText);

    Must(pCache->Close(), "Close");
    BSTR bstrCookie = nullptr;
    Must(pCache->get_Cookie(&bstrCookie), "get_Cookie after Close");
    const bool bKept = bstrCookie != nullptr && szCookie == bstrCookie;
    SysFreeString(bstrCookie);
    std::printf("Closed; the cookie stays: %s\n", YesNo(bKept));
    Check(bKept, "the cookie did not survive Close");
}

// Harbinet.Distributed is opened on a list of servers separated by ";". Each call goes
// to one of them, chosen by the object's cookie or, without one, by the value's name;
// connections are pooled and shared by every object opened on the same list.
void SeveralServers(const std::wstring& szServer1, const std::wstring& szServer2)
{
    const std::wstring szServers = szServer1 + L";" + szServer2;
    GRef<IHarbinet> pSpread;
    Must(Create(L"Harbinet.Distributed", pSpread), "CoCreateInstance Harbinet.Distributed");
    Must(pSpread->Open(GText(szServers)), "Open Harbinet.Distributed");
    std::printf("Opened Harbinet.Distributed on %s\n", Narrow(szServers.c_str()).c_str());

    GRef<IHarbinet> pOne, pTwo;
    Must(Create(L"Harbinet", pOne), "CoCreateInstance Harbinet");
    Must(pOne->Open(GText(szServer1)), "Open server 1");
    Must(Create(L"Harbinet", pTwo), "CoCreateInstance Harbinet");
    Must(pTwo->Open(GText(szServer2)), "Open server 2");

    const wchar_t* const aszNames[] = {L"example.cpp.colour", L"example.cpp.size", L"example.cpp.shape",
                                       L"example.cpp.weight"};
    int nOnOne = 0, nOnTwo = 0;
    for (const wchar_t* szName : aszNames)
    {
        GVar varValue(1.5);
        VARIANT_BOOL bStored = VARIANT_FALSE, bFound = VARIANT_FALSE;
        Must(pSpread->Set(GText(szName), &varValue, 60, &bStored), "distributed Set");
        GVar varBack;
        Must(pSpread->Get(GText(szName), &varBack, &bFound), "distributed Get");
        const bool bOnOne = IsHeld(pOne.Get(), szName);
        const bool bOnTwo = IsHeld(pTwo.Get(), szName);
        nOnOne += bOnOne ? 1 : 0;
        nOnTwo += bOnTwo ? 1 : 0;
        std::printf("  %s = %s: stored %s, found %s, on server %s\n", Narrow(szName).c_str(), varBack.Text().c_str(),
                    YesNo(bStored == VARIANT_TRUE), YesNo(bFound == VARIANT_TRUE), bOnOne ? (bOnTwo ? "1 and 2" : "1") : (bOnTwo ? "2" : "none"));
        Check(bStored == VARIANT_TRUE && bFound == VARIANT_TRUE && (*varBack).vt == VT_R8 && (*varBack).dblVal == 1.5,
              Narrow(szName) + " through Harbinet.Distributed");
        Check(bOnOne != bOnTwo, Narrow(szName) + " is on exactly one server");
    }
    Check(nOnOne > 0 && nOnTwo > 0, "the names went to both servers");
    for (const wchar_t* szName : aszNames)
        Must(pSpread->Delete(GText(szName)), "distributed Delete");

    // With a cookie, every call of the object goes to the same server, whatever the name.
    Must(pSpread->put_Cookie(GText(L"")), "distributed put_Cookie");
    BSTR bstrCookie = nullptr;
    Must(pSpread->get_Cookie(&bstrCookie), "distributed get_Cookie");
    const std::wstring szCookie = bstrCookie == nullptr ? L"" : bstrCookie;
    SysFreeString(bstrCookie);
    std::printf("Distributed cookie: %s\n", Narrow(szCookie.c_str()).c_str());
    GVar varCart(L"2 pears"), varWishes(L"a plum");
    VARIANT_BOOL bStored = VARIANT_FALSE;
    Must(pSpread->Set(GText(L"example.cpp.cart"), &varCart, 0, &bStored), "distributed Set cart");
    Must(pSpread->Set(GText(L"example.cpp.wishes"), &varWishes, 0, &bStored), "distributed Set wishes");
    Must(pOne->put_Cookie(GText(szCookie)), "put_Cookie server 1");
    Must(pTwo->put_Cookie(GText(szCookie)), "put_Cookie server 2");
    const bool bBothOnOne = IsHeld(pOne.Get(), L"example.cpp.cart") && IsHeld(pOne.Get(), L"example.cpp.wishes");
    const bool bBothOnTwo = IsHeld(pTwo.Get(), L"example.cpp.cart") && IsHeld(pTwo.Get(), L"example.cpp.wishes");
    std::printf("cart and wishes are both on server %s\n", bBothOnOne ? "1" : (bBothOnTwo ? "2" : "none"));
    Check(bBothOnOne != bBothOnTwo, "cart and wishes are on one and the same server");
    Must(pSpread->Delete(GText(L"example.cpp.cart")), "distributed Delete cart");
    Must(pSpread->Delete(GText(L"example.cpp.wishes")), "distributed Delete wishes");
    Must(pSpread->Close(), "distributed Close");

    GRef<IHarbinet> pUnopened;
    Must(Create(L"Harbinet.Distributed", pUnopened), "CoCreateInstance Harbinet.Distributed");
    ForgetError();
    const HRESULT hr = pUnopened->Noop(GText(L""));
    const std::string szText = Describe(hr);
    std::printf("Noop on a distributed object that is not open: %s\n", szText.c_str());
    Check(hr == static_cast<HRESULT>(0x80040201) && szText.find("\"Harbinet.Distributed\": Is not connecting.") != std::string::npos,
          "Noop when not open: " + szText);
}

}   // namespace

int main(int argc, char** argv)
{
    const std::wstring szServer1 = argc > 1 ? Wide(argv[1]) : L"http://127.0.0.1:8077/";
    const std::wstring szServer2 = argc > 2 ? Wide(argv[2]) : L"http://127.0.0.1:8078/";

    // The classes live in single-threaded apartments.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    try
    {
        GRef<IHarbinet> pCache;
        Must(Create(L"Harbinet", pCache), "CoCreateInstance Harbinet (is harbinet.dll registered?)");
        OneServer(pCache.Get(), szServer1);
        const std::wstring szCookie = Cookie(pCache.Get(), szServer1);
        Errors(pCache.Get(), szServer1, szCookie);
        SeveralServers(szServer1, szServer2);
    }
    catch (const GStop& stop)
    {
        Check(false, "stopped by " + stop.szWhat);
    }
    CoUninitialize();

    if (g_nFailures == 0)
        std::printf("ok - harbinet_example.cpp\n");
    return g_nFailures;
}
