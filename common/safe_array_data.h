// GSafeArrayData: the data of a SAFEARRAY, locked for as long as the holder lives.
#pragma once

#include <windows.h>
#include <oleauto.h>

class GSafeArrayData
{
public:
    explicit GSafeArrayData(SAFEARRAY* pArray) noexcept : m_pArray(pArray)
    {
        if (m_pArray != nullptr && SUCCEEDED(SafeArrayAccessData(m_pArray, &m_pData)))
            m_nCount = m_pArray->rgsabound[0].cElements;
        else
            m_pArray = nullptr;
    }
    ~GSafeArrayData()
    {
        if (m_pArray != nullptr)
            SafeArrayUnaccessData(m_pArray);
    }
    GSafeArrayData(const GSafeArrayData&) = delete;
    GSafeArrayData& operator=(const GSafeArrayData&) = delete;

    bool IsLocked() const noexcept { return m_pArray != nullptr; }
    void* Data() const noexcept { return m_pData; }
    ULONG Count() const noexcept { return m_nCount; }

private:
    SAFEARRAY* m_pArray;
    void* m_pData = nullptr;
    ULONG m_nCount = 0;
};
