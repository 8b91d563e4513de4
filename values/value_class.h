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

// The scalar body is the VARIANT image of the 64-bit platform whatever this module's own
// width, so that a 32-bit and a 64-bit client share one cache. A 32-bit VARIANT is 16
// bytes with the type and the value (a decimal included) at the same offsets: it travels
// as its own bytes followed by zeros and takes back the leading bytes of an image. Of
// the values, only this image depends on the width, and only here.
constexpr size_t VARIANT_IMAGE_BYTES = 24;
using GVariantImage = BYTE[VARIANT_IMAGE_BYTES];

void WriteVariantImage(const VARIANT& var, GVariantImage& image) noexcept;
// The image's type code must already have been checked: the caller's VARIANT is cleared
// and takes the image's leading bytes.
void ReadVariantImage(const GVariantImage& image, VARIANT* pValue) noexcept;

GValueClass ClassifyValueType(int nType) noexcept;
