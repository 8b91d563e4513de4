// GIHarbinetImpl_Distributed: the members of the class Harbinet.Distributed.
#pragma once

#include "common/com_ptr.h"
#include "common/report_error.h"
#include "common/result_codes.h"
#include "distributed/distributed_client.h"
#include "distributed/distributed_execute.h"
#include "harbinet_h.h"
#include "values/value_commands.h"

// Every forwarded member holds a reference to its own object for the time of the call:
// a callback during the call (an ADO event, a pumped message) may drop the host's last
// reference, and the call's end still writes the cookie back into the object.
template <class I>
class GIHarbinetImpl_Distributed : public I, protected GDistributedClient
{
public:
    HRESULT STDMETHODCALLTYPE put_Item(VARIANT* pName, VARIANT* pNewValue) override
    try { return PutItem(this, pName, pNewValue, SOURCE_DISTRIBUTED); }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT* pName, VARIANT* pValue) override
    try { return GetItem(this, pName, pValue, SOURCE_DISTRIBUTED); }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE Open(BSTR sURL) override
    try { return OpenPool(sURL); }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE Close() override
    {
        ClosePool();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE put_Cookie(BSTR sCookie) override
    try { return PutCookie(sCookie); }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE get_Cookie(BSTR* p) override
    try { return GetCookie(p); }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE Set(BSTR sName, VARIANT* pValue, long nTimeout, VARIANT_BOOL* pSet) override
    {
        try
        {
            if (!IsOpen())
                return RefuseClosed();
            if (nTimeout < 0)
                return S_FALSE;   // not an error: nothing is sent and pSet keeps its value
            GComPtr<I> pKeep;
            pKeep.Hold(this);
            return Forward(sName, [&](IHarbinet* pConn) { return pConn->Set(sName, pValue, nTimeout, pSet); });
        }
        catch (...)
        {
            return CaughtHResult();
        }
    }

    HRESULT STDMETHODCALLTYPE Get(BSTR sName, VARIANT* pValue, VARIANT_BOOL* pFound) override
    try
    {
        GComPtr<I> pKeep;
        pKeep.Hold(this);
        // A stream target stays the caller's: only a value that the call put in is freed.
        VARIANT varBefore = {};
        if (pValue != nullptr)
            varBefore = *pValue;
        return Forward(sName, [&](IHarbinet* pConn) { return pConn->Get(sName, pValue, pFound); },
                       [&] {
                           if (pValue->vt != varBefore.vt || pValue->byref != varBefore.byref)
                               VariantClear(pValue);
                       });
    }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE Delete(BSTR sName) override
    try
    {
        GComPtr<I> pKeep;
        pKeep.Hold(this);
        return Forward(sName, [&](IHarbinet* pConn) { return pConn->Delete(sName); });
    }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE Noop(BSTR sName) override
    try
    {
        GComPtr<I> pKeep;
        pKeep.Hold(this);
        return Forward(sName, [&](IHarbinet* pConn) { return pConn->Noop(sName); });
    }
    catch (...) { return CaughtHResult(); }

    HRESULT STDMETHODCALLTYPE Execute(IDispatch* pCommand, BSTR sName, long nTimeout, IDispatch** ppRecordset) override
    try
    {
        GComPtr<I> pKeep;
        pKeep.Hold(this);
        return ExecuteDistributed(*this, pCommand, sName, nTimeout, ppRecordset);
    }
    catch (...) { return CaughtHResult(); }

};
