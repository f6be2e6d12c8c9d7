// The system's COM port database (which numbers are in use), reached through msports.dll
// loaded at run time from the system directory. Missing library or missing export: the
// object stays closed and claims nothing. A database that does not open has refused us:
// ComDBOpen's one failure is ERROR_ACCESS_DENIED (it needs write access).
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
    bool Refused() const { return m_refused; }
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
    bool m_refused = false;
};
