// VARIANT bytes, arrays and strings for the value tests.
#include "tests/values/value_helpers.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace
{
int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
}

std::string Bytes(const char* szHex)
{
    std::string s;
    int nHigh = -1;
    for (const char* p = szHex; *p != '\0'; ++p)
    {
        if (*p == ' ')
            continue;
        const int n = HexDigit(*p);
        if (n < 0)
            throw std::invalid_argument("Bytes: not a hex digit");
        if (nHigh < 0)
        {
            nHigh = n;
        }
        else
        {
            s.push_back(static_cast<char>(nHigh << 4 | n));
            nHigh = -1;
        }
    }
    if (nHigh >= 0)
        throw std::invalid_argument("Bytes: odd digit count");
    return s;
}

std::string ImageKept(const std::string& sImage)
{
    std::string s = sImage.substr(0, sizeof(VARIANT));
    s.resize(24, '\0');
    return s;
}

std::string ImageOf(const VARIANT& var)
{
    return ImageKept(std::string(reinterpret_cast<const char*>(&var), sizeof(var)));
}

VARIANT PatternedVariant(VARTYPE vt)
{
    VARIANT var;
    unsigned char* p = reinterpret_cast<unsigned char*>(&var);
    for (size_t i = 0; i < sizeof(var); ++i)
        p[i] = static_cast<unsigned char>(0xA0 + i);
    var.vt = vt;
    return var;
}

void MakeByteArray(VARIANT& var, const std::string& sBytes, LONG nLowerBound)
{
    SAFEARRAY* pArray = SafeArrayCreateVector(VT_UI1, nLowerBound, static_cast<ULONG>(sBytes.size()));
    if (pArray == nullptr)
        throw std::bad_alloc();
    if (!sBytes.empty())
        std::memcpy(pArray->pvData, sBytes.data(), sBytes.size());
    VariantClear(&var);
    var.vt = VT_BYTE_ARRAY_TYPE;
    var.parray = pArray;
}

void MakeVariantArray(VARIANT& var, ULONG nElements, LONG nLowerBound)
{
    SAFEARRAY* pArray = SafeArrayCreateVector(VT_VARIANT, nLowerBound, nElements);
    if (pArray == nullptr)
        throw std::bad_alloc();
    VariantClear(&var);
    var.vt = VT_VARIANT_ARRAY_TYPE;
    var.parray = pArray;
}

VARIANT& ElementOf(const VARIANT& var, ULONG i)
{
    if (var.parray == nullptr || i >= var.parray->rgsabound[0].cElements)
        throw std::out_of_range("ElementOf: no such element");
    return static_cast<VARIANT*>(var.parray->pvData)[i];
}

BSTR StringOfBytes(const std::string& sBytes)
{
    return SysAllocStringByteLen(sBytes.data(), static_cast<UINT>(sBytes.size()));
}

std::string BytesOfString(BSTR bstr)
{
    if (bstr == nullptr)
        return std::string();
    return std::string(reinterpret_cast<const char*>(bstr), SysStringByteLen(bstr));
}

std::string BytesOfArray(const VARIANT& var)
{
    if (var.parray == nullptr)
        return std::string();
    return std::string(static_cast<const char*>(var.parray->pvData), var.parray->rgsabound[0].cElements);
}

std::string Describe(const VARIANT& var)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "vt %u:", static_cast<unsigned>(var.vt));
    std::string s = sz;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&var);
    for (size_t i = 0; i < sizeof(var); ++i)
    {
        std::snprintf(sz, sizeof(sz), " %02X", p[i]);
        s += sz;
    }
    return s;
}
