// Owners of handles: one template for every handle given back by one call, and the kinds of
// handle the programs open through the OS seam.
#pragma once
#include <windows.h>

#include "OsSeam.h"

// Owns one handle and gives it back when it goes; moved, never copied. `Kind` says how a
// handle of its sort is given back (Close) and which value holds nothing (Empty, Holds); it
// may carry what closing needs, such as calls bound at run time.
template <typename H, typename Kind>
class Owned : private Kind {
public:
    Owned() = default;
    explicit Owned(H handle, Kind kind = Kind()) : Kind(kind), m_handle(handle) {}
    ~Owned() { Reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : Kind(other), m_handle(other.Release()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
            Kind::operator=(other);
        }
        return *this;
    }

    H Get() const { return m_handle; }
    bool IsValid() const { return Kind::Holds(m_handle); }
    explicit operator bool() const { return IsValid(); }
    // Where a call that opens writes the handle; what was held is given back first.
    H* Receive()
    {
        Reset();
        return &m_handle;
    }
    void Reset(H handle = Kind::Empty())
    {
        if (IsValid())
            this->Close(m_handle);
        m_handle = handle;
    }
    // Hands the handle over to a new owner (a window region belongs to its window).
    H Release()
    {
        const H handle = m_handle;
        m_handle = Kind::Empty();
        return handle;
    }

private:
    H m_handle = Kind::Empty();
};

// A kind of handle of which null holds nothing.
template <typename H>
struct NullIsEmpty {
    static H Empty() { return nullptr; }
    static bool Holds(H handle) { return handle != nullptr; }
};

// A kernel object: CreateFile fails with INVALID_HANDLE_VALUE, CreateThread with null.
struct KernelObject {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool Holds(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static void Close(HANDLE handle) { Os().CloseHandle(handle); }
};
using ScopedHandle = Owned<HANDLE, KernelObject>;

// A file search begun by FindFirstFile.
struct FileSearch : KernelObject {
    static bool Holds(HANDLE search) { return search != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE search) { Os().FindClose(search); }
};

// Owns a file search begun through the OS seam and ends it through the seam.
class ScopedFind {
public:
    // Begins the search for `pattern`; `found` then holds its first match.
    ScopedFind(const char* pattern, WIN32_FIND_DATAA* found)
        : m_search(Os().FindFirstFileA(pattern, found))
    {
    }

    bool IsValid() const { return m_search.IsValid(); }
    // The next match into `found`; false when there is none.
    bool Next(WIN32_FIND_DATAA* found)
    {
        return IsValid() && Os().FindNextFileA(m_search.Get(), found) != 0;
    }

private:
    Owned<HANDLE, FileSearch> m_search;
};
