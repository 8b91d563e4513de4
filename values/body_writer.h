// The body writer: what a VARIANT becomes as the body of a set request.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <optional>

#include "common/com_ptr.h"
#include "common/safe_array_data.h"
#include "values/value_class.h"

class GValueBody
{
public:
    GValueBody() noexcept = default;
    GValueBody(const GValueBody&) = delete;
    GValueBody& operator=(const GValueBody&) = delete;

    // Classifies the value and finds its bytes. Fails with E_VALUE_TYPE or
    // E_STREAM_REQUIRED (not reported; the command reports and closes). A variant
    // array is only measured here: its elements are the command's to store.
    HRESULT Prepare(VARIANT* pValue);

    GValueClass Class() const noexcept { return m_class; }
    int Type() const noexcept { return m_nType; }
    long Length() const noexcept { return m_nLength; }
    const void* Memory() const noexcept { return m_pMemory; }
    IStream* Stream() const noexcept { return m_pStream.Get(); }
    VARIANT* Elements() const noexcept { return static_cast<VARIANT*>(m_arrayData->Data()); }
    ULONG ElementCount() const noexcept { return m_nElements; }

    // The head entry of a variant array carries the element count as its body.
    void UseElementCountAsBody() noexcept
    {
        m_pMemory = &m_nElements;
        m_nLength = sizeof(m_nElements);
    }

private:
    HRESULT PrepareStream(IUnknown* pUnknown);
    HRESULT PrepareArray(SAFEARRAY* pArray, ULONG nElementBytes);

    GValueClass m_class = GValueClass::None;
    int m_nType = 0;
    long m_nLength = 0;
    const void* m_pMemory = nullptr;
    GVariantImage m_image = {};
    GComPtr<IStream> m_pStream;
    std::optional<GSafeArrayData> m_arrayData;
    ULONG m_nElements = 0;
};
