// The system's COM port database (which numbers are in use), reached through msports.dll
// loaded at run time from the system directory. Missing library, missing export or a
// database that does not open: the object stays closed and claims nothing.
#pragma once
#include <windows.h>

#include "Resources.h"

class PortDatabase {
public:
    PortDatabase();
    ~PortDatabase();
    PortDatabase(const PortDatabase&) = delete;
    PortDatabase& operator=(const PortDatabase&) = delete;

    bool IsOpen() const { return m_db != nullptr; }
    void Release(DWORD number);
    void Claim(DWORD number);

private:
    typedef HANDLE Db;
    typedef LONG(WINAPI* OpenFn)(Db*);
    typedef LONG(WINAPI* CloseFn)(Db);
    typedef LONG(WINAPI* ClaimFn)(Db, DWORD, BOOL, BOOL*);
    typedef LONG(WINAPI* ReleaseFn)(Db, DWORD);

    Module m_library;
    CloseFn m_close = nullptr;
    ClaimFn m_claim = nullptr;
    ReleaseFn m_release = nullptr;
    Db m_db = nullptr;
};
