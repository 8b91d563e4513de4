// GTestStream: an IStream over bytes in memory whose behaviour a test can bend.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <oaidl.h>

#include <string>
#include <vector>

// Also an IDispatch, so that it can travel as VT_DISPATCH; its IDispatch members do
// nothing. Made with a reference count of 1, which the test releases.
class GTestStream : public IStream, public IDispatch
{
public:
    explicit GTestStream(std::string sContent = std::string());
    virtual ~GTestStream() = default;

    // The count the test can compare before and after a call.
    ULONG References() const { return m_nReferences; }

    std::string m_sContent;
    ULONGLONG m_nPosition = 0;
    // Stat reports this size instead of the content's when it is set.
    bool m_bClaimSize = false;
    ULONGLONG m_nClaimedSize = 0;
    bool m_bRefuseStream = false;   // QueryInterface gives no IStream
    bool m_bFailSeek = false;
    bool m_bFailStat = false;
    bool m_bFailRead = false;
    // What each call asked for, in order.
    std::vector<ULONG> m_vecReadSizes;
    std::vector<ULONG> m_vecWriteSizes;
    int m_nSeeksToStart = 0;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISequentialStream and IStream
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER nMove, DWORD dwOrigin, ULARGE_INTEGER* pNewPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pStat, DWORD grfStatFlag) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pn) override
    {
        *pn = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

private:
    ULONG m_nReferences = 1;
};

// The whole content of a platform stream and where it stands.
std::string ContentOf(IStream* pStream);
ULONGLONG PositionOf(IStream* pStream);
// A platform stream on global memory, holding sContent and positioned at its end.
IStream* MakeMemoryStream(const std::string& sContent);
