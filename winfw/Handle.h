// Owns a Win32 handle opened through the OS seam and closes it through the seam.
#pragma once
#include <windows.h>

#include "OsSeam.h"

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }
    void Reset(HANDLE h = INVALID_HANDLE_VALUE)
    {
        if (IsValid())
            Os().CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h;
};
