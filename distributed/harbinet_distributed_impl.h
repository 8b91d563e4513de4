// GIHarbinetImpl_Distributed: the members of the class Harbinet.Distributed.
#pragma once

#include "harbinet_h.h"

// Server lists, pools and forwarding are not built yet; every member says so.
template <class I>
class GIHarbinetImpl_Distributed : public I
{
public:
    HRESULT STDMETHODCALLTYPE put_Item(VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Open(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Cookie(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Cookie(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Set(BSTR, VARIANT*, long, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Get(BSTR, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Noop(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Execute(IDispatch*, BSTR, long, IDispatch**) override { return E_NOTIMPL; }
};
