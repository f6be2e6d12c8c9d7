// Folders and files a privileged run writes in, deletes in or loads from, opened by handle
// and judged by FolderRule before they are used. A held object is opened without following
// a reparse point and without FILE_SHARE_DELETE: while it is held nobody can rename,
// delete or replace it, so the path judged stays the object used.
#pragma once
#include <windows.h>

#include <string>

#include "FolderRule.h"
#include "Handle.h"

enum class ObjectKind { Folder, File };

// What the rule found at a path: Sound, or why not; `absent` when nothing is there.
struct Judgement {
    FolderFault fault = FolderFault::Unreadable;
    bool absent = false;
    std::wstring owner;  // the owner's SID text, when it could be read
};

class HeldObject;

// Opens the object at `path` (a reparse point itself, never its target) with
// `extraAccess` beside what judging needs, and judges it: of `kind`, not a reparse point,
// on a volume that keeps permissions, with a trusted owner (`user` too, when not null) and
// a DACL that lets no other account write. `held` keeps the handle only when it is sound.
Judgement HoldExisting(const std::wstring& path, ObjectKind kind, PSID user, HeldObject& held,
                       DWORD extraAccess = 0);

// One open handle to a folder or file, closed through the seam.
class HeldObject {
public:
    bool IsHeld() const { return m_handle.IsValid(); }
    HANDLE Handle() const { return m_handle.Get(); }
    // The path it was opened by.
    const std::wstring& Path() const { return m_path; }
    void Release();

private:
    friend Judgement HoldExisting(const std::wstring&, ObjectKind, PSID, HeldObject&, DWORD);
    ScopedHandle m_handle;
    std::wstring m_path;
};

// "PATH (owner SID): REASON", as the console and the journal say why a folder is refused.
std::string RefusalText(const std::wstring& path, const Judgement& judgement);

// The same judgement of an existing folder or file, whose handle is closed again.
Judgement JudgePath(const std::wstring& path, ObjectKind kind, PSID user);

// Holds the folder at `path`, first creating it with the owner and protected DACL of
// `sddl` when nothing is there. A folder found there, made by whoever came first, is
// judged like any other.
Judgement HoldFolder(const std::wstring& path, const std::wstring& sddl, PSID user,
                     HeldObject& held);

// The descriptor of a user's own folders: the user as owner; the user, SYSTEM and
// Administrators full control; nothing inherited.
std::wstring UserFolderSddl(PSID user);

// The final path of an open handle ("\\?\C:\..."); empty when it cannot be read.
std::wstring FinalPathOf(HANDLE handle);

// Whether two final paths name the same object: Windows compares names without case.
bool SamePath(const std::wstring& a, const std::wstring& b);

// The folder part of a path, without its last backslash; empty when there is none.
std::wstring ParentOf(const std::wstring& path);

// Gives the object of `handle` (opened with WRITE_DAC and WRITE_OWNER) the owner and
// protected DACL of `sddl`.
bool ProtectWith(HANDLE handle, const std::wstring& sddl);

// Deletes the file of `handle`, opened with DELETE, through that handle: it goes when the
// last handle to it closes.
bool DeleteThroughHandle(HANDLE handle);

// For a LocalSystem or elevated process: EnforceRedirectionTrust. True when it holds or
// the process is neither.
bool ForbidUsersLinksWhenPrivileged();

// Turns on the process's redirection trust (Windows 10 21H2 and later): junctions and
// links made by non-administrators are no longer followed by this process. False where
// the system lacks it or refuses.
bool EnforceRedirectionTrust();
