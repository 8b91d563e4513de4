// GIHarbinetImpl: the members of the single-server class Harbinet, assembled from the
// connection (client/), the value commands (values/) and the query cache (query/) below it.
#pragma once

#include "client/server_connection.h"
#include "common/report_error.h"
#include "common/result_codes.h"
#include "harbinet_h.h"
#include "query/execute_command.h"
#include "values/value_commands.h"

template <class I>
class GIHarbinetImpl : public I, protected GServerConnection
{
public:
    // For the pools: whether the connection can serve the next exchange, without the
    // error information that Open would leave.
    bool IsConnectionLive() const noexcept { return IsLive(); }

    HRESULT STDMETHODCALLTYPE put_Item(VARIANT* pName, VARIANT* pNewValue) override
    {
        try
        {
            return PutItem(this, pName, pNewValue, SOURCE_HARBINET);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT* pName, VARIANT* pValue) override
    {
        try
        {
            return GetItem(this, pName, pValue, SOURCE_HARBINET);
        }
        catch (...)
        {
            return CaughtHResult();
        }
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
        try
        {
            return RunSet(*this, this, sName, pValue, nTimeout, pSet);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE Get(BSTR sName, VARIANT* pValue, VARIANT_BOOL* pFound) override
    {
        try
        {
            return RunGet(*this, this, sName, pValue, pFound);
        }
        catch (...)
        {
            return CaughtHResult();
        }
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
        try
        {
            return RunExecute(this, pCommand, sName, nTimeout, ppRecordset);
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }
};
