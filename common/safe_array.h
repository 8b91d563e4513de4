// GSafeArray: a SAFEARRAY being filled, destroyed unless it is handed out.
#pragma once

#include <windows.h>
#include <oleauto.h>

class GSafeArray
{
public:
    explicit GSafeArray(SAFEARRAY* pArray) noexcept : m_pArray(pArray) {}
    ~GSafeArray()
    {
        if (m_pArray != nullptr)
            SafeArrayDestroy(m_pArray);
    }
    GSafeArray(const GSafeArray&) = delete;
    GSafeArray& operator=(const GSafeArray&) = delete;

    SAFEARRAY* Get() const noexcept { return m_pArray; }
    void Reset(SAFEARRAY* pArray) noexcept
    {
        if (m_pArray != nullptr)
            SafeArrayDestroy(m_pArray);
        m_pArray = pArray;
    }
    SAFEARRAY* Detach() noexcept
    {
        SAFEARRAY* pArray = m_pArray;
        m_pArray = nullptr;
        return pArray;
    }

private:
    SAFEARRAY* m_pArray;
};
