// GIHarbinetImpl: the members of the single-server class Harbinet.
#pragma once

#include "client/server_connection.h"
#include "common/report_error.h"
#include "harbinet_h.h"

template <class I>
class GIHarbinetImpl : public I, protected GServerConnection
{
public:
    HRESULT STDMETHODCALLTYPE put_Item(VARIANT* pName, VARIANT* pNewValue) override
    {
        (void)pName;
        (void)pNewValue;
        return E_NOTIMPL;   // not built yet
    }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT* pName, VARIANT* pValue) override
    {
        (void)pName;
        (void)pValue;
        return E_NOTIMPL;   // not built yet
    }

    HRESULT STDMETHODCALLTYPE Open(BSTR sURL) override
    {
        try
        {
            return OpenConnection(sURL);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE Close() override
    {
        CloseConnection();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE put_Cookie(BSTR sCookie) override
    {
        try
        {
            return PutCookie(sCookie);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE get_Cookie(BSTR* p) override
    {
        try
        {
            return GetCookie(p);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE Set(BSTR sName, VARIANT* pValue, long nTimeout, VARIANT_BOOL* pSet) override
    {
        (void)sName;
        (void)pValue;
        (void)nTimeout;
        (void)pSet;
        return E_NOTIMPL;   // not built yet
    }

    HRESULT STDMETHODCALLTYPE Get(BSTR sName, VARIANT* pValue, VARIANT_BOOL* pFound) override
    {
        (void)sName;
        (void)pValue;
        (void)pFound;
        return E_NOTIMPL;   // not built yet
    }

    HRESULT STDMETHODCALLTYPE Delete(BSTR sName) override
    {
        try
        {
            return RunSimpleCommand("del", sName);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE Noop(BSTR sName) override
    {
        try
        {
            return RunSimpleCommand("nop", sName);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE Execute(IDispatch* pCommand, BSTR sName, long nTimeout, IDispatch** ppRecordset) override
    {
        (void)pCommand;
        (void)sName;
        (void)nTimeout;
        (void)ppRecordset;
        return E_NOTIMPL;   // not built yet: the query result cache comes later
    }
};
