// GLock: holds a critical section for the life of one scope.
#pragma once

#include <windows.h>

class GLock
{
public:
    explicit GLock(CRITICAL_SECTION* pcs) noexcept : m_pcs(pcs) { EnterCriticalSection(m_pcs); }
    ~GLock() { LeaveCriticalSection(m_pcs); }
    GLock(const GLock&) = delete;
    GLock& operator=(const GLock&) = delete;

private:
    CRITICAL_SECTION* m_pcs;
};
