// Finding the body of a value: its type number, its length and where its bytes are.
#include "values/body_writer.h"

#include <climits>

#include "common/result_codes.h"

namespace
{
// The length travels as a signed 32-bit decimal; anything longer cannot be announced.
constexpr ULONGLONG MAX_BODY_BYTES = INT_MAX;
}

HRESULT GValueBody::Prepare(VARIANT* pValue)
{
    m_nType = pValue->vt;
    m_class = ClassifyValueType(m_nType);
    switch (m_class)
    {
    case GValueClass::Scalar:
        WriteVariantImage(*pValue, m_image);
        m_pMemory = m_image;
        m_nLength = static_cast<long>(VARIANT_IMAGE_BYTES);
        return S_OK;
    case GValueClass::String:
    {
        const UINT nBytes = pValue->bstrVal == nullptr ? 0 : SysStringByteLen(pValue->bstrVal);
        if (nBytes > MAX_BODY_BYTES)
            return E_VALUE_TYPE;
        m_pMemory = pValue->bstrVal;
        m_nLength = static_cast<long>(nBytes);
        return S_OK;
    }
    case GValueClass::Stream:
        return PrepareStream(pValue->punkVal);
    case GValueClass::ByteArray:
        return PrepareArray(pValue->parray, 1);
    case GValueClass::VariantArray:
        return PrepareArray(pValue->parray, sizeof(VARIANT));
    case GValueClass::None:
        break;
    }
    return E_VALUE_TYPE;
}

HRESULT GValueBody::PrepareStream(IUnknown* pUnknown)
{
    if (pUnknown == nullptr
        || FAILED(pUnknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(m_pStream.Out())))
        || m_pStream.Get() == nullptr)
        return E_STREAM_REQUIRED;
    // The whole stream goes, wherever its position stood.
    LARGE_INTEGER nZero = {};
    STATSTG stat = {};
    if (FAILED(m_pStream->Seek(nZero, STREAM_SEEK_SET, nullptr)) || FAILED(m_pStream->Stat(&stat, STATFLAG_NONAME)))
        return E_STREAM_REQUIRED;
    if (stat.cbSize.QuadPart > MAX_BODY_BYTES)
        return E_VALUE_TYPE;
    m_nLength = static_cast<long>(stat.cbSize.QuadPart);
    return S_OK;
}

// Only one-dimensional arrays have a body form: storing the leading part of a larger
// array would hand back something else than was stored.
HRESULT GValueBody::PrepareArray(SAFEARRAY* pArray, ULONG nElementBytes)
{
    if (pArray == nullptr || SafeArrayGetDim(pArray) != 1 || SafeArrayGetElemsize(pArray) != nElementBytes)
        return E_VALUE_TYPE;
    m_arrayData.emplace(pArray);
    if (!m_arrayData->IsLocked())
        return E_VALUE_TYPE;
    m_nElements = m_arrayData->Count();
    if (m_nElements > MAX_BODY_BYTES)
        return E_VALUE_TYPE;
    m_pMemory = m_arrayData->Data();
    m_nLength = static_cast<long>(m_nElements);
    return S_OK;
}
