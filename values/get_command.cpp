// Get: one get exchange; a variant array then fetches its elements one by one.
#include "values/value_commands.h"

#include "common/narrow_text.h"
#include "common/safe_array.h"
#include "common/result_codes.h"
#include "values/body_reader.h"
#include "values/element_name.h"
#include "values/value_class.h"

namespace
{
// The exchange itself, kept apart from RunGet so that nested arrays, which recurse
// through RunGet, do not stack a reply buffer per level. S_FALSE: not found.
HRESULT ExchangeGet(GServerConnection& connection, const char* szName, VARIANT* pValue, ULONG& nElements,
                    bool& bVariantArray)
{
    GRequest request;
    request.szCommand = "get";
    request.szName = szName;
    HRESULT hr = connection.WriteRequestHead(request);
    if (FAILED(hr))
        return hr;

    GReplyHead head;
    long nCode = 0;
    hr = connection.ReadReply(head, true, 1, nCode);
    if (FAILED(hr))
        return hr;
    if (nCode == 1)
    {
        connection.DrainReplyBody(head);
        return S_FALSE;
    }
    const GBodyOutcome outcome = ReadValueBody(connection, head, pValue);
    if (FAILED(outcome.hr))
        return connection.FailAndClose(outcome.hr, outcome.szDescription);
    bVariantArray = outcome.bVariantArray;
    nElements = outcome.nElements;
    return S_OK;
}

// Fetches every element into a new array; the caller's VARIANT gets it only when
// all element fetches have succeeded. Missing elements stay empty.
HRESULT FetchElements(GServerConnection& connection, IHarbinet* pSelf, const wchar_t* szName, ULONG nElements,
                      VARIANT* pValue)
{
    GBstr bstrLast;
    if (nElements > 0 && !MakeElementName(szName, nElements - 1, bstrLast))
    {
        connection.CloseConnection();
        return RefuseName();
    }
    // Owned while it fills: a failed fetch, or a name that cannot be allocated, drops it.
    GSafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, nElements));
    if (array.Get() == nullptr)
        return connection.FailAndClose(E_OUTOFMEMORY, L"Out of memory.");
    VARIANT* pElements = static_cast<VARIANT*>(array.Get()->pvData);
    for (ULONG i = 0; i < nElements; ++i)
    {
        GBstr bstrElement;
        MakeElementName(szName, i, bstrElement);
        VARIANT_BOOL bFound = VARIANT_FALSE;
        const HRESULT hr = pSelf->Get(bstrElement.Get(), &pElements[i], &bFound);
        if (FAILED(hr))
        {
            connection.CloseConnection();
            return hr;
        }
    }
    VariantClear(pValue);
    pValue->vt = VT_VARIANT_ARRAY;
    pValue->parray = array.Detach();
    return S_OK;
}
}

HRESULT RunGet(GServerConnection& connection, IHarbinet* pSelf, BSTR sName, VARIANT* pValue, VARIANT_BOOL* pFound)
{
    if (pFound == nullptr || pValue == nullptr)
        return E_POINTER;
    *pFound = VARIANT_FALSE;
    const wchar_t* szName = sName == nullptr ? L"" : sName;
    GNarrowText szNarrowName(szName);
    if (!IsNameAcceptable(szNarrowName.Get()))
        return RefuseName();

    ULONG nElements = 0;
    bool bVariantArray = false;
    HRESULT hr = ExchangeGet(connection, szNarrowName.Get(), pValue, nElements, bVariantArray);
    if (hr != S_OK)
        return hr == S_FALSE ? S_OK : hr;
    if (bVariantArray)
    {
        hr = FetchElements(connection, pSelf, szName, nElements, pValue);
        if (FAILED(hr))
            return hr;
    }
    *pFound = VARIANT_TRUE;
    return S_OK;
}
