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

// Owns a file search begun through the OS seam and ends it through the seam.
class ScopedFind {
public:
    // Begins the search for `pattern`; `found` then holds its first match.
    ScopedFind(const char* pattern, WIN32_FIND_DATAA* found)
        : m_h(Os().FindFirstFileA(pattern, found))
    {
    }
    ~ScopedFind()
    {
        if (IsValid())
            Os().FindClose(m_h);
    }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;

    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    // The next match into `found`; false when there is none.
    bool Next(WIN32_FIND_DATAA* found) { return IsValid() && Os().FindNextFileA(m_h, found) != 0; }

private:
    HANDLE m_h;
};
