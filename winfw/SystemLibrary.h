// Libraries loaded at run time from trusted folders only. The programs import statically only
// DLLs that Windows always takes from System32 (its KnownDLLs, and comctl32 through the
// manifest): any other DLL named in an import table is looked for in the program's own folder
// first, and that folder may be an update package on a USB stick.
#pragma once
#include <windows.h>

#include "OsSeam.h"

// `name` from the program's own folder or System32, never from the current folder (the
// update package) or PATH; left loaded.
HMODULE LoadBesideProgram(const char* name);

// A system library, loaded from System32 only and freed with the object.
class SystemLibrary {
public:
    explicit SystemLibrary(const char* name);
    ~SystemLibrary();
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    // An export as a typed function pointer; null when the library or the export is missing.
    template <typename Fn>
    Fn Bind(const char* name) const
    {
        return m_module == nullptr ? nullptr : BindExport<Fn>(m_module, name);
    }

private:
    HMODULE m_module;
};

// A program's first act: every later load without search flags looks in System32 only;
// where Windows cannot do that, the current directory at least leaves the search.
void RestrictDllSearchToSystem32();
