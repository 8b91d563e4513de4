// Which body form a VARIANT type code has on the wire.
#pragma once

#include <windows.h>
#include <oaidl.h>

enum class GValueClass
{
    None,           // no body form
    Scalar,         // the 24-byte VARIANT image
    String,         // the BSTR's bytes
    Stream,         // the content of an IStream
    ByteArray,      // the data of a one-dimensional VT_UI1 array
    VariantArray,   // element entries plus a 4-byte element count
};

constexpr int VT_BYTE_ARRAY = VT_ARRAY | VT_UI1;         // 8209
constexpr int VT_VARIANT_ARRAY = VT_ARRAY | VT_VARIANT;  // 8204
constexpr size_t VARIANT_IMAGE_BYTES = 24;

GValueClass ClassifyValueType(int nType) noexcept;
