// Helpers shared by the value tests: the component's codes, VARIANT bytes and arrays.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>

// The component's own codes, written out here rather than taken from the code under test.
constexpr HRESULT HR_HTTP = static_cast<HRESULT>(0x80040206);
constexpr HRESULT HR_RESULT_CODE = static_cast<HRESULT>(0x80040207);
constexpr HRESULT HR_CONTENT_TYPE = static_cast<HRESULT>(0x80040208);
constexpr HRESULT HR_STREAM_REQUIRED = static_cast<HRESULT>(0x80040209);
constexpr HRESULT HR_NAME_TYPE = static_cast<HRESULT>(0x80040300);
constexpr HRESULT HR_VALUE_TYPE = static_cast<HRESULT>(0x80040301);

constexpr VARTYPE VT_BYTE_ARRAY_TYPE = VT_ARRAY | VT_UI1;
constexpr VARTYPE VT_VARIANT_ARRAY_TYPE = VT_ARRAY | VT_VARIANT;

// Bytes from hex text such as "0B 00 FF"; spaces are skipped.
std::string Bytes(const char* szHex);

// All 24 bytes of a VARIANT as they lie in memory, zeros past a 32-bit VARIANT's 16.
std::string ImageOf(const VARIANT& var);
// What a VARIANT of this width keeps of a 24-byte image that it reads, as ImageOf gives it.
std::string ImageKept(const std::string& sImage);

// A VARIANT whose bytes run A0 A1 ... B7, so that every byte that a type leaves unused
// has a known value, with vt set; the caller then sets the value.
VARIANT PatternedVariant(VARTYPE vt);

// A VARIANT that is cleared when the test is done with it.
class GTestVariant : public VARIANT
{
public:
    GTestVariant() { VariantInit(this); }
    ~GTestVariant() { VariantClear(this); }
    GTestVariant(const GTestVariant&) = delete;
    GTestVariant& operator=(const GTestVariant&) = delete;
};

// Takes ownership of a new one-dimensional array: a byte array holding sBytes, or a
// variant array of n VT_EMPTY elements; both with the given lower bound.
void MakeByteArray(VARIANT& var, const std::string& sBytes, LONG nLowerBound = 0);
void MakeVariantArray(VARIANT& var, ULONG nElements, LONG nLowerBound = 0);

// Element i of a one-dimensional variant array, counted from 0 whatever its lower bound.
VARIANT& ElementOf(const VARIANT& var, ULONG i);

// A BSTR of exactly the given bytes, so that odd lengths can be made.
BSTR StringOfBytes(const std::string& sBytes);
std::string BytesOfString(BSTR bstr);
// The bytes of a byte array's data.
std::string BytesOfArray(const VARIANT& var);

// Text of a VARIANT for failure messages: its type and its 24 bytes in hex.
std::string Describe(const VARIANT& var);
