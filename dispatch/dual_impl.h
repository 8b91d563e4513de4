// GDualImpl: completes an implementation class into an object with reference
// counting, interface queries and dispatch by name through the type description.
#pragma once

#include <new>
#include <windows.h>
#include <oaidl.h>

#include "harbinet_h.h"

template <class I, template <class> class TImpl, ITypeInfo*& rpTypeInfo, LONG* pnModuleCount>
class GDualImpl final : public TImpl<I>
{
public:
    // A new object with one reference, or nullptr when there is no memory for it.
    static GDualImpl* Create() noexcept { return new (std::nothrow) GDualImpl(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IHarbinet)
        {
            *ppv = static_cast<I*>(this);
            static_cast<I*>(this)->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    // Apartment objects are called by one thread at a time: the object's own count
    // needs no atomic operation, the module count shared by all threads does.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_nRef); }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG nRef = --m_nRef;
        if (nRef > 0)
            return static_cast<ULONG>(nRef);
        InterlockedDecrement(pnModuleCount);
        delete this;
        return 0;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override
    {
        if (pctinfo == nullptr)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo == nullptr)
            return E_POINTER;
        *ppTInfo = rpTypeInfo;
        rpTypeInfo->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) override
    {
        return rpTypeInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override
    {
        return rpTypeInfo->Invoke(static_cast<I*>(this), dispIdMember, wFlags, pDispParams,
                                  pVarResult, pExcepInfo, puArgErr);
    }

private:
    GDualImpl() noexcept { InterlockedIncrement(pnModuleCount); }
    ~GDualImpl() = default;

    LONG m_nRef = 1;
};
