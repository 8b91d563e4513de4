// Holders that hand back what ITypeLib and ITypeInfo lend out, and GUIDs written as text.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <objbase.h>

// A GUID from its registry spelling, so that expected ids read as they are written down.
inline GUID GuidOf(const wchar_t* szGuid)
{
    GUID guid = {};
    IIDFromString(const_cast<LPOLESTR>(szGuid), &guid);
    return guid;
}

template <class T>
class GComRef
{
public:
    GComRef() = default;
    ~GComRef() { Reset(); }
    GComRef(const GComRef&) = delete;
    GComRef& operator=(const GComRef&) = delete;

    T** operator&() { Reset(); return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void Reset()
    {
        if (m_p != nullptr)
            m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

class GTypeAttr
{
public:
    explicit GTypeAttr(ITypeInfo* pInfo) : m_pInfo(pInfo) { m_hr = pInfo->GetTypeAttr(&m_pAttr); }
    ~GTypeAttr()
    {
        if (m_pAttr != nullptr)
            m_pInfo->ReleaseTypeAttr(m_pAttr);
    }
    GTypeAttr(const GTypeAttr&) = delete;
    GTypeAttr& operator=(const GTypeAttr&) = delete;

    HRESULT Result() const { return m_hr; }
    const TYPEATTR* operator->() const { return m_pAttr; }

private:
    ITypeInfo* m_pInfo;
    TYPEATTR* m_pAttr = nullptr;
    HRESULT m_hr;
};

class GFuncDesc
{
public:
    GFuncDesc(ITypeInfo* pInfo, UINT nIndex) : m_pInfo(pInfo) { m_hr = pInfo->GetFuncDesc(nIndex, &m_pDesc); }
    ~GFuncDesc()
    {
        if (m_pDesc != nullptr)
            m_pInfo->ReleaseFuncDesc(m_pDesc);
    }
    GFuncDesc(const GFuncDesc&) = delete;
    GFuncDesc& operator=(const GFuncDesc&) = delete;

    HRESULT Result() const { return m_hr; }
    const FUNCDESC* operator->() const { return m_pDesc; }

private:
    ITypeInfo* m_pInfo;
    FUNCDESC* m_pDesc = nullptr;
    HRESULT m_hr;
};

class GLibAttr
{
public:
    explicit GLibAttr(ITypeLib* pLib) : m_pLib(pLib) { m_hr = pLib->GetLibAttr(&m_pAttr); }
    ~GLibAttr()
    {
        if (m_pAttr != nullptr)
            m_pLib->ReleaseTLibAttr(m_pAttr);
    }
    GLibAttr(const GLibAttr&) = delete;
    GLibAttr& operator=(const GLibAttr&) = delete;

    HRESULT Result() const { return m_hr; }
    const TLIBATTR* operator->() const { return m_pAttr; }

private:
    ITypeLib* m_pLib;
    TLIBATTR* m_pAttr = nullptr;
    HRESULT m_hr;
};
