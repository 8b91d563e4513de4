// The Item property, the default member: a name stores or fetches, a command object
// fetches the cached result of its query.
#include "values/value_commands.h"

#include "common/report_error.h"
#include "common/result_codes.h"

HRESULT PutItem(IHarbinet* pSelf, VARIANT* pName, VARIANT* pNewValue, const wchar_t* szSource)
{
    if (pName == nullptr || pName->vt != VT_BSTR)
        return ReportError(E_NAME_TYPE, szSource, MSG_NAME_TYPE);
    // Whether the server kept the value is not the property's concern.
    VARIANT_BOOL bSet = VARIANT_FALSE;
    return pSelf->Set(pName->bstrVal, pNewValue, 0, &bSet);
}

HRESULT GetItem(IHarbinet* pSelf, VARIANT* pName, VARIANT* pValue, const wchar_t* szSource)
{
    if (pName != nullptr && pName->vt == VT_BSTR)
    {
        VARIANT_BOOL bFound = VARIANT_FALSE;
        return pSelf->Get(pName->bstrVal, pValue, &bFound);
    }
    if (pName != nullptr && pName->vt == VT_DISPATCH)
    {
        if (pValue == nullptr)
            return E_POINTER;
        IDispatch* pRecordset = nullptr;
        const HRESULT hr = pSelf->Execute(pName->pdispVal, nullptr, 0, &pRecordset);
        if (FAILED(hr))
        {
            if (pRecordset != nullptr)
                pRecordset->Release();
            return hr;
        }
        VariantClear(pValue);
        pValue->vt = VT_DISPATCH;
        pValue->pdispVal = pRecordset;
        return S_OK;
    }
    return ReportError(E_NAME_TYPE, szSource, MSG_NAME_TYPE);
}
