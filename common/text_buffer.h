// GTextBuffer: the storage of one converted text, inline up to 128 units, on the heap beyond.
#pragma once

#include <cstdlib>
#include <cstring>
#include <windows.h>

#include "common/atl_exception.h"

template <class T>
class GTextBuffer
{
public:
    static constexpr int INLINE_UNITS = 128;

    GTextBuffer() noexcept = default;
    ~GTextBuffer() { FreeHeap(); }
    GTextBuffer(const GTextBuffer&) = delete;
    GTextBuffer& operator=(const GTextBuffer&) = delete;

    // Makes room for k units and returns where they start. Growth of a heap block is
    // zero-filled so that a text written short of its reservation stays terminated.
    T* Reserve(int k)
    {
        if (k < 0)
            throw CAtlException(E_INVALIDARG);
        if (k <= INLINE_UNITS)
        {
            FreeHeap();
            m_p = m_aInline;
            return m_p;
        }
        const size_t nBytes = static_cast<size_t>(k) * sizeof(T);
        if (m_p == nullptr || m_p == m_aInline)
        {
            T* p = static_cast<T*>(std::calloc(static_cast<size_t>(k), sizeof(T)));
            if (p == nullptr)
                throw CAtlException(E_OUTOFMEMORY);
            m_p = p;
        }
        else
        {
            T* p = static_cast<T*>(std::realloc(m_p, nBytes));
            if (p == nullptr)
                throw CAtlException(E_OUTOFMEMORY);
            if (static_cast<size_t>(k) > m_nHeap)
                std::memset(p + m_nHeap, 0, (static_cast<size_t>(k) - m_nHeap) * sizeof(T));
            m_p = p;
        }
        m_nHeap = static_cast<size_t>(k);
        return m_p;
    }

    T* Get() const noexcept { return m_p; }
    bool IsInline() const noexcept { return m_p == m_aInline; }
    size_t Capacity() const noexcept { return m_p == nullptr ? 0 : IsInline() ? INLINE_UNITS : m_nHeap; }

private:
    void FreeHeap() noexcept
    {
        if (m_p != nullptr && m_p != m_aInline)
            std::free(m_p);
        m_p = nullptr;
        m_nHeap = 0;
    }

    T m_aInline[INLINE_UNITS] = {};
    T* m_p = nullptr;
    size_t m_nHeap = 0;
};
