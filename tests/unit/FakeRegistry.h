// Who the process runs as, the folders Windows names for it, and the machine's registry and
// event log, which refuse a standard user.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "StrictOs.h"

struct FakeIdentity : OsLayer<FakeIdentity> {
    FakeIdentity();

    // A standard user, or LocalSystem (S-1-5-18).
    bool localSystem = false;
    // An administrator's token that UAC did not filter (TokenElevation).
    bool elevated = false;
    // What SHGetKnownFolderPath gives for these folders; the real folder when empty.
    std::string programData;
    std::string localAppData;
    std::string programFiles;
};

// Stacks on a FakeIdentity, whose account it admits or refuses.
struct FakeRegistry : OsLayer<FakeRegistry> {
    FakeRegistry();

    // Every event reported, and the values written under the machine's keys (key path,
    // value name) as their type and bytes.
    struct Event {
        WORD type;
        DWORD id;
        std::vector<std::wstring> strings;
    };
    std::vector<Event> events;
    struct Value {
        DWORD type;
        std::vector<BYTE> data;
    };
    std::map<std::pair<std::wstring, std::wstring>, Value> machineValues;
    REGSAM machineKeyAccess = 0;  // the access the last key was created with
    int openKeys = 0;
    // A 32-bit process on 64-bit Windows, which sees HKLM\SOFTWARE through WOW6432Node.
    bool wow64 = false;
    // What RegSetValueExW answers once it fails (ERROR_KEY_DELETED: an administrator deleted
    // the key while it was held).
    LSTATUS machineWriteError = ERROR_SUCCESS;
    int openEventSources = 0;

private:
    std::map<HKEY, std::wstring> m_keyPaths;  // each open key's path, by its handle
};
