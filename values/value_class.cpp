// The type codes that have a body form, by class.
#include "values/value_class.h"

#include <cstddef>
#include <cstring>

static_assert(sizeof(VARIANT) <= VARIANT_IMAGE_BYTES, "a VARIANT fits the 64-bit image");
static_assert(offsetof(VARIANT, llVal) == 8 && offsetof(VARIANT, decVal) == 0,
              "the value sits where the 64-bit image has it");

void WriteVariantImage(const VARIANT& var, GVariantImage& image) noexcept
{
    std::memcpy(image, &var, sizeof(VARIANT));
    std::memset(image + sizeof(VARIANT), 0, VARIANT_IMAGE_BYTES - sizeof(VARIANT));
}

void ReadVariantImage(const GVariantImage& image, VARIANT* pValue) noexcept
{
    VariantClear(pValue);
    std::memcpy(static_cast<void*>(pValue), image, sizeof(VARIANT));
}

GValueClass ClassifyValueType(int nType) noexcept
{
    switch (nType)
    {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_DECIMAL: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return GValueClass::Scalar;
    case VT_BSTR:
        return GValueClass::String;
    case VT_DISPATCH: case VT_UNKNOWN:
        return GValueClass::Stream;
    case VT_BYTE_ARRAY:
        return GValueClass::ByteArray;
    case VT_VARIANT_ARRAY:
        return GValueClass::VariantArray;
    default:
        return GValueClass::None;
    }
}
