// GComPtr: one owned interface reference, released when it goes out of scope.
#pragma once

#include <unknwn.h>

template <class T>
class GComPtr
{
public:
    GComPtr() noexcept = default;
    ~GComPtr()
    {
        if (m_p != nullptr)
            m_p->Release();
    }
    GComPtr(const GComPtr&) = delete;
    GComPtr& operator=(const GComPtr&) = delete;

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T** Out() noexcept { return &m_p; }
    // Takes a reference of its own on p, which must not be null.
    void Hold(T* p) noexcept
    {
        p->AddRef();
        m_p = p;
    }

private:
    T* m_p = nullptr;
};
