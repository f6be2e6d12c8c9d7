// A simulated machine's folders and files and the account the process runs as, behind the
// seam's file calls (wide and ANSI), tokens and known folders. It keeps what Windows keeps
// and Wine does not: an owner and a DACL per object, junctions, ProgramData's inherited
// rights, volumes without permissions, and the refusals that follow. A layer over the
// others (a FakeOs): device paths and handles not its own go below. Any other path outside
// the model is refused, unless it lies under one of `realPrefixes`, which go below too (to
// RealFiles, where the test composed it).
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "StrictOs.h"

class FakeFolders : public OsLayer<FakeFolders> {
public:
    enum class Account { LocalSystem, Administrator, StandardUser };
    enum class Kind { Folder, File };

    // The standard user (S-1-5-21-1-2-3-1001) and the administrator (...-500); the
    // administrator's runs are elevated.
    static const wchar_t kUserSid[];
    static const wchar_t kAdminSid[];
    // C:\ProgramData as Windows makes it: SYSTEM and Administrators full control, Users
    // read and execute and may create folders and files, CREATOR OWNER full control.
    static const wchar_t kProgramDataSddl[];

    // C:\ProgramData; the account's C:\Users\<name>\AppData\Local, its own; E:\ a FAT
    // volume, which keeps no permissions.
    FakeFolders();

    Account account = Account::StandardUser;
    std::vector<std::wstring> realPrefixes;

    // Puts an object in place as an administrator would have made it, unchecked. A junction
    // is a folder that leads to `junctionTo`.
    void Put(const std::wstring& path, Kind kind, const std::wstring& sddl,
             const std::wstring& junctionTo = std::wstring(), const std::string& content = {});
    // What a standard user of the same PC can do: creates `path` with that user's token,
    // inheriting its parent's rights; false when Windows refuses.
    bool UserCreates(const std::wstring& path, Kind kind,
                     const std::wstring& junctionTo = std::wstring());

    bool Exists(const std::wstring& path) const;
    // The object's owner and DACL as SDDL (SIDs written out), "" when it is absent.
    std::wstring Sddl(const std::wstring& path) const;
    std::string Content(const std::wstring& path) const;
    // The names in a folder, in order.
    std::vector<std::wstring> Names(const std::wstring& folder) const;

    // Every object created, written or deleted, by its path as the process named it once
    // every junction was followed.
    std::vector<std::wstring> created, written, deleted;

    // One object of the model (public for the calls' bindings in FakeFolders.cpp).
    struct Ace {
        bool allow = true;
        BYTE flags = 0;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, INHERIT_ONLY_ACE, ...
        ACCESS_MASK mask = 0;
        std::wstring sid;  // "S-1-..."
    };
    struct Object {
        std::wstring path;  // as created, its case kept
        Kind kind = Kind::File;
        std::wstring owner;
        bool hasDacl = true;
        bool protectedDacl = false;
        std::vector<Ace> dacl;
        std::wstring junctionTo;
        std::string content;
        bool deletePending = false;
    };
    struct Open {
        std::wstring key;
        ACCESS_MASK access = 0;
        DWORD share = 0;
    };

    std::map<std::wstring, Object> objects;  // by lower-case path
    std::map<HANDLE, Open> opens;
    std::map<HANDLE, std::vector<std::wstring>> finds;  // names still to give
    HANDLE NewHandle();

private:
    std::uintptr_t m_nextHandle = 0x7FFC0000;
};
