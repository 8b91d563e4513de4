// Error information for failing interface methods.
#include "common/report_error.h"

#include <new>
#include <oleauto.h>

#include "common/atl_exception.h"

HRESULT ReportError(HRESULT hr, const wchar_t* szSource, const wchar_t* szDescription) noexcept
{
    ICreateErrorInfo* pCreate = nullptr;
    if (FAILED(CreateErrorInfo(&pCreate)) || pCreate == nullptr)
        return hr;
    pCreate->SetSource(const_cast<LPOLESTR>(szSource));
    pCreate->SetDescription(const_cast<LPOLESTR>(szDescription));
    IErrorInfo* pInfo = nullptr;
    if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo))))
    {
        SetErrorInfo(0, pInfo);
        pInfo->Release();
    }
    pCreate->Release();
    return hr;
}

HRESULT CaughtHResult() noexcept
{
    try
    {
        throw;
    }
    catch (const CAtlException& e)
    {
        return e;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
