// The command key: one 8192-byte block of 64-byte slots, the command text's digest in
// slot 0 and one parameter value in each slot after it, digested once more.
#include "query/command_key.h"

#include <wincrypt.h>

#include <cstring>
#include <type_traits>

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/report_error.h"
#include "common/result_codes.h"
#include "common/variant.h"

namespace
{
constexpr size_t BLOCK_SIZE = 8192;
constexpr size_t SLOT_SIZE = 64;
// Slot 0 holds the text, so 127 slots remain; the last of them always stays zero.
constexpr long MAX_PARAMETERS = 126;
constexpr size_t VALUE_OFFSET = 8;
constexpr size_t DECIMAL_SIZE = 16;
constexpr DWORD PROVIDER_FLAGS = CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET;

// One provider for the process. Acquiring one costs milliseconds, a digest of the whole
// key block tens of microseconds; a verify-context provider holds no keys, so every
// digest on every thread can share it (each makes its own hash object). A failed
// acquisition is tried again by the next digest. Released only when the module is
// unloaded by FreeLibrary: it has no destructor, because at process exit the provider's
// library may be gone before this one is told.
class GSharedProvider
{
public:
    constexpr GSharedProvider() noexcept = default;
    GSharedProvider(const GSharedProvider&) = delete;
    GSharedProvider& operator=(const GSharedProvider&) = delete;

    // 0 when the provider cannot be had.
    HCRYPTPROV Get() noexcept
    {
        void* pProv = InterlockedCompareExchangePointer(&m_pProv, nullptr, nullptr);
        if (pProv != nullptr)
            return reinterpret_cast<HCRYPTPROV>(pProv);
        HCRYPTPROV hNew = 0;
        if (!CryptAcquireContextW(&hNew, nullptr, nullptr, PROV_RSA_FULL, PROVIDER_FLAGS))
            return 0;
        // Two threads may race here; the loser gives its provider back.
        pProv = InterlockedCompareExchangePointer(&m_pProv, reinterpret_cast<void*>(hNew), nullptr);
        if (pProv == nullptr)
            return hNew;
        CryptReleaseContext(hNew, 0);
        return reinterpret_cast<HCRYPTPROV>(pProv);
    }

    void Release() noexcept
    {
        void* pProv = InterlockedExchangePointer(&m_pProv, nullptr);
        if (pProv != nullptr)
            CryptReleaseContext(reinterpret_cast<HCRYPTPROV>(pProv), 0);
    }

private:
    void* volatile m_pProv = nullptr;
};

GSharedProvider g_provider;
static_assert(std::is_trivially_destructible<GSharedProvider>::value, "nothing may run for it at process exit");

class GCryptHash
{
public:
    GCryptHash() noexcept = default;
    ~GCryptHash()
    {
        if (m_hHash != 0)
            CryptDestroyHash(m_hHash);
    }
    GCryptHash(const GCryptHash&) = delete;
    GCryptHash& operator=(const GCryptHash&) = delete;

    HCRYPTHASH* Out() noexcept { return &m_hHash; }
    HCRYPTHASH Get() const noexcept { return m_hHash; }

private:
    HCRYPTHASH m_hHash = 0;
};

// How many leading bytes of the VARIANT's value area a type puts into its slot; 0 for a
// type that puts its code alone, -1 for one that the key does not take.
int ValueWidth(VARTYPE vt) noexcept
{
    switch (vt)
    {
    case VT_EMPTY:
    case VT_NULL:
        return 0;
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
        return 2;
    case VT_I4:
    case VT_R4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
        return 8;
    default:
        return -1;
    }
}

// Fills one zeroed slot from a parameter value. S_FALSE: a type the key does not take.
HRESULT FillSlot(const VARIANT& var, BYTE* pSlot) noexcept
{
    const BYTE* pImage = reinterpret_cast<const BYTE*>(&var);
    if (var.vt == VT_BSTR)
    {
        // The byte length equals twice the length for every ordinary string and keeps
        // one made from an odd number of bytes apart from its shorter neighbour. A null
        // string digests as zero bytes, like an empty one.
        wchar_t szHex[33];
        const HRESULT hr = Md5Hex(var.bstrVal, SysStringByteLen(var.bstrVal), szHex);
        if (FAILED(hr))
            return hr;
        std::memcpy(pSlot, szHex, SLOT_SIZE);
        return S_OK;
    }
    if (var.vt == VT_DECIMAL)
    {
        // A decimal fills the first 16 bytes of the image, its code included; the 8 after
        // it are whatever the VARIANT last held and would give the same value a new key
        // on every call, so they stay zero.
        std::memcpy(pSlot, pImage, DECIMAL_SIZE);
        return S_OK;
    }
    const int nWidth = ValueWidth(var.vt);
    if (nWidth < 0)
        return S_FALSE;
    pSlot[0] = static_cast<BYTE>(var.vt & 0xFF);
    pSlot[1] = static_cast<BYTE>(var.vt >> 8);
    std::memcpy(pSlot + VALUE_OFFSET, pImage + VALUE_OFFSET, static_cast<size_t>(nWidth));
    return S_OK;
}

HRESULT FillParameterSlots(_Command* pCommand, BYTE* pBlock)
{
    GComPtr<Parameters> pParameters;
    HRESULT hr = pCommand->get_Parameters(pParameters.Out());
    if (FAILED(hr))
        return hr;
    if (pParameters.Get() == nullptr)
        return E_POINTER;
    long nCount = 0;
    hr = pParameters->get_Count(&nCount);
    if (FAILED(hr))
        return hr;
    // A negative count is as unusable as a large one.
    // The message text is the component's own, word for word; do not correct it.
    if (nCount < 0 || nCount > MAX_PARAMETERS)
        return ReportError(E_FAIL, SOURCE_ORRISDALE, MSG_TOO_MANY_PARAMETERS);

    for (long i = 0; i < nCount; ++i)
    {
        GVariant varIndex;
        varIndex.vt = VT_I4;
        varIndex.lVal = i;
        GComPtr<_Parameter> pParameter;
        hr = pParameters->get_Item(varIndex, pParameter.Out());
        if (FAILED(hr))
            return hr;
        if (pParameter.Get() == nullptr)
            return E_POINTER;
        GVariant varValue;
        hr = pParameter->get_Value(&varValue);
        if (FAILED(hr))
            return hr;
        hr = FillSlot(varValue, pBlock + SLOT_SIZE * static_cast<size_t>(i + 1));
        if (FAILED(hr))
            return hr;
        // The message text is the component's own, word for word; do not correct it.
        if (hr == S_FALSE)
            return ReportError(E_FAIL, SOURCE_ORRISDALE, MSG_UNKNOWN_PARAMETER);
    }
    return S_OK;
}
}

HRESULT Md5Hex(const void* pBytes, DWORD nBytes, wchar_t (&szHex)[33]) noexcept
{
    static const wchar_t DIGITS[] = L"0123456789abcdef";
    // CryptHashData wants a pointer even for no bytes.
    static const BYTE NOTHING = 0;
    const HCRYPTPROV hProv = g_provider.Get();
    if (hProv == 0)
        return E_FAIL;
    GCryptHash hash;
    if (!CryptCreateHash(hProv, CALG_MD5, 0, 0, hash.Out()))
        return E_FAIL;
    const BYTE* p = nBytes == 0 || pBytes == nullptr ? &NOTHING : static_cast<const BYTE*>(pBytes);
    if (!CryptHashData(hash.Get(), p, pBytes == nullptr ? 0 : nBytes, 0))
        return E_FAIL;
    BYTE digest[16];
    DWORD nDigest = sizeof(digest);
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &nDigest, 0) || nDigest != sizeof(digest))
        return E_FAIL;
    for (size_t i = 0; i < sizeof(digest); ++i)
    {
        szHex[2 * i] = DIGITS[digest[i] >> 4];
        szHex[2 * i + 1] = DIGITS[digest[i] & 0x0F];
    }
    szHex[32] = L'\0';
    return S_OK;
}

void ReleaseSharedProvider() noexcept
{
    g_provider.Release();
}

HRESULT CommandKey(_Command* pCommand, BSTR* pbstrKey)
{
    if (pCommand == nullptr || pbstrKey == nullptr)
        return E_POINTER;
    BYTE block[BLOCK_SIZE] = {};

    GBstr bstrText;
    {
        BSTR bstr = nullptr;
        HRESULT hr = pCommand->get_CommandText(&bstr);
        bstrText = GBstr(bstr);
        if (FAILED(hr))
            return hr;
    }
    wchar_t szHex[33];
    HRESULT hr = Md5Hex(bstrText.Get(), static_cast<DWORD>(SysStringLen(bstrText.Get())) * sizeof(wchar_t), szHex);
    if (FAILED(hr))
        return hr;
    std::memcpy(block, szHex, SLOT_SIZE);

    hr = FillParameterSlots(pCommand, block);
    if (FAILED(hr))
        return hr;

    hr = Md5Hex(block, BLOCK_SIZE, szHex);
    if (FAILED(hr))
        return hr;
    BSTR bstrKey = SysAllocStringLen(szHex, 32);
    if (bstrKey == nullptr)
        return E_OUTOFMEMORY;
    *pbstrKey = bstrKey;
    return S_OK;
}

HRESULT SettleCacheName(_Command* pCommand, BSTR sName, GBstr& bstrKey, BSTR* psCacheName)
{
    *psCacheName = sName;
    if (SysStringLen(sName) != 0)
        return S_OK;
    BSTR bstr = nullptr;
    const HRESULT hr = CommandKey(pCommand, &bstr);
    if (FAILED(hr))
        return hr;
    bstrKey = GBstr(bstr);
    *psCacheName = bstrKey.Get();
    return S_OK;
}
