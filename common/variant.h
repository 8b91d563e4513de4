// GVariant: a VARIANT that is cleared when it goes out of scope.
#pragma once

#include <windows.h>
#include <oleauto.h>

class GVariant : public VARIANT
{
public:
    GVariant() noexcept { VariantInit(this); }
    ~GVariant() { VariantClear(this); }
    GVariant(const GVariant&) = delete;
    GVariant& operator=(const GVariant&) = delete;

    // Moves the value into the caller's VARIANT, whose old content is cleared first.
    void Detach(VARIANT* pValue) noexcept
    {
        VariantClear(pValue);
        *pValue = *static_cast<VARIANT*>(this);
        VariantInit(this);
    }
};
