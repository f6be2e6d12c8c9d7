#include "FakeFolders.h"

#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "winfw/FolderRule.h"

namespace {

using Hold = std::lock_guard<std::recursive_mutex>;
using Account = FakeFolders::Account;
using Kind = FakeFolders::Kind;
using Object = FakeFolders::Object;
using Ace = FakeFolders::Ace;

constexpr wchar_t kSystemSid[] = L"S-1-5-18";
constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
constexpr wchar_t kUsersSid[] = L"S-1-5-32-545";
constexpr wchar_t kCreatorOwnerSid[] = L"S-1-3-0";

HANDLE RefuseHandle(DWORD error)
{
    ::SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// "\\?\C:\a/b\" as "C:\a\b".
std::wstring Normal(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        path.erase(0, 4);
    while (path.size() > 2 && path.back() == L'\\')
        path.pop_back();
    return path;
}

std::wstring Parent(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring LastName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

std::wstring Wide(const char* text)
{
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
    if (size > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 128 ? static_cast<char>(c) : '?';
    return narrow;
}

// ---- who the process is ----

std::vector<std::wstring> TokenSids(Account account)
{
    switch (account) {
    case Account::LocalSystem: return {kSystemSid, kAdministratorsSid, L"S-1-1-0", L"S-1-5-11"};
    case Account::Administrator:
        return {FakeFolders::kAdminSid, kAdministratorsSid, kUsersSid, L"S-1-1-0", L"S-1-5-11",
                L"S-1-5-4"};
    case Account::StandardUser:
        return {FakeFolders::kUserSid, kUsersSid, L"S-1-1-0", L"S-1-5-11", L"S-1-5-4"};
    }
    return {};
}

std::wstring UserSid(Account account)
{
    return TokenSids(account).front();
}

// The owner of what the token creates: an elevated administrator's objects belong to
// Administrators, other tokens' to their user.
std::wstring DefaultOwner(Account account)
{
    return account == Account::Administrator ? kAdministratorsSid : UserSid(account);
}

// Whether the token may name `sid` as an object's owner: its user, or a group it holds
// with SE_GROUP_OWNER (Administrators, for SYSTEM and an elevated administrator).
bool MayOwn(Account account, const std::wstring& sid)
{
    return sid == UserSid(account) ||
           (sid == kAdministratorsSid && account != Account::StandardUser);
}

// ---- security descriptors ----

ACCESS_MASK MapFileRights(ACCESS_MASK mask)
{
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    ::MapGenericMask(&mask, &mapping);
    return mask & ~static_cast<ACCESS_MASK>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE |
                                            GENERIC_ALL);
}

// The owner and DACL of a binary descriptor into `object`; the parts it lacks are kept.
bool TakeDescriptor(PSECURITY_DESCRIPTOR descriptor, Object& object)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision))
        return false;
    if (owner != nullptr)
        object.owner = SidText(owner);
    if (!present)
        return true;
    object.hasDacl = dacl != nullptr;
    object.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
    object.dacl.clear();
    ACL_SIZE_INFORMATION size = {};
    if (dacl != nullptr && !::GetAclInformation(dacl, &size, sizeof size, AclSizeInformation))
        return false;
    for (DWORD i = 0; dacl != nullptr && i < size.AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
            return false;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        Ace ace;
        ace.allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        ace.flags = header->AceFlags;
        ace.mask = allowed->Mask;
        ace.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
        object.dacl.push_back(ace);
    }
    return true;
}

bool TakeSddl(const std::wstring& sddl, Object& object)
{
    // Wine's parser makes an empty DACL of this, where Windows makes a NULL one.
    const std::wstring nullDacl = L"D:NO_ACCESS_CONTROL";
    const std::size_t at = sddl.find(nullDacl);
    if (at != std::wstring::npos) {
        object.hasDacl = false;
        object.dacl.clear();
        return at == 0 || TakeSddl(sddl.substr(0, at), object);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    const bool taken = TakeDescriptor(descriptor, object);
    ::LocalFree(descriptor);
    return taken;
}

std::wstring SddlOf(const Object& object)
{
    std::wstring text = L"O:" + object.owner + L"D:";
    if (!object.hasDacl)
        return text + L"NO_ACCESS_CONTROL";
    if (object.protectedDacl)
        text += L"P";
    for (const Ace& ace : object.dacl) {
        std::wstring flags;
        if (ace.flags & OBJECT_INHERIT_ACE) flags += L"OI";
        if (ace.flags & CONTAINER_INHERIT_ACE) flags += L"CI";
        if (ace.flags & NO_PROPAGATE_INHERIT_ACE) flags += L"NP";
        if (ace.flags & INHERIT_ONLY_ACE) flags += L"IO";
        if (ace.flags & INHERITED_ACE) flags += L"ID";
        wchar_t mask[16];
        std::swprintf(mask, 16, L"0x%lx", static_cast<unsigned long>(ace.mask));
        text += L"(" + std::wstring(ace.allow ? L"A" : L"D") + L";" + flags + L";" + mask +
                L";;;" + ace.sid + L")";
    }
    return text;
}

// The object's owner and DACL as a self-relative descriptor from LocalAlloc, as
// GetSecurityInfo hands it out; null when it cannot be made.
PSECURITY_DESCRIPTOR DescriptorOf(const Object& object)
{
    PSECURITY_DESCRIPTOR parsed = nullptr;
    if (object.hasDacl)
        return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                   SddlOf(object).c_str(), SDDL_REVISION_1, &parsed, nullptr)
                   ? parsed
                   : nullptr;
    // Built by hand: a NULL DACL is present but has no list at all.
    PSID owner = nullptr;
    if (!object.owner.empty() && !::ConvertStringSidToSidW(object.owner.c_str(), &owner))
        return nullptr;
    SECURITY_DESCRIPTOR absolute;
    ::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorOwner(&absolute, owner, FALSE);
    ::SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE);
    DWORD size = 0;
    ::MakeSelfRelativeSD(&absolute, nullptr, &size);
    PSECURITY_DESCRIPTOR made = ::LocalAlloc(LMEM_FIXED, size);
    if (made != nullptr && !::MakeSelfRelativeSD(&absolute, made, &size)) {
        ::LocalFree(made);
        made = nullptr;
    }
    ::LocalFree(owner);
    return made;
}

// The entries a new object takes from its parent, as "ACE Inheritance Rules"
// (learn.microsoft.com/windows/win32/secauthz/ace-inheritance-rules) describes them:
// CREATOR OWNER becomes the new owner, a folder keeps passing on what it inherits.
std::vector<Ace> Inherited(const Object& parent, Kind kind, const std::wstring& owner)
{
    std::vector<Ace> aces;
    for (const Ace& ace : parent.dacl) {
        const bool toFile = (ace.flags & OBJECT_INHERIT_ACE) != 0;
        const bool toFolder = (ace.flags & CONTAINER_INHERIT_ACE) != 0;
        if (kind == Kind::File ? !toFile : !(toFile || toFolder))
            continue;
        const bool propagates = kind == Kind::Folder && (ace.flags & NO_PROPAGATE_INHERIT_ACE) == 0;
        const bool effective = kind == Kind::File || toFolder;
        const bool creatorOwner = ace.sid == kCreatorOwnerSid;
        if (effective) {
            Ace own = ace;
            own.flags = INHERITED_ACE;
            own.mask = MapFileRights(ace.mask);
            if (creatorOwner)
                own.sid = owner;
            else if (propagates && toFolder)
                own.flags |= ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
            aces.push_back(own);
        }
        if (propagates && (creatorOwner || !effective || !toFolder)) {
            Ace passed = ace;
            passed.flags = static_cast<BYTE>((ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) |
                                             INHERIT_ONLY_ACE | INHERITED_ACE);
            aces.push_back(passed);
        }
    }
    return aces;
}

// What the token may do to an object: "How DACLs Control Access to an Object"
// (learn.microsoft.com/windows/win32/secauthz/how-dacls-control-access-to-an-object); the
// owner may always read and change the DACL.
ACCESS_MASK Granted(const Object& object, Account account)
{
    const std::vector<std::wstring> sids = TokenSids(account);
    const auto holds = [&sids](const std::wstring& sid) {
        return std::find(sids.begin(), sids.end(), sid) != sids.end();
    };
    ACCESS_MASK granted = holds(object.owner) ? READ_CONTROL | WRITE_DAC : 0;
    if (!object.hasDacl)
        return FILE_ALL_ACCESS;
    ACCESS_MASK denied = 0;
    for (const Ace& ace : object.dacl) {
        if ((ace.flags & INHERIT_ONLY_ACE) != 0 || !holds(ace.sid))
            continue;
        const ACCESS_MASK mask = MapFileRights(ace.mask);
        if (ace.allow)
            granted |= mask & ~denied;
        else
            denied |= mask & ~granted;
    }
    return granted;
}

bool OnVolumeWithoutAcls(const std::wstring& key) { return key.compare(0, 2, L"e:") == 0; }

// ---- paths ----

struct Resolved {
    std::wstring key;   // lower case, every junction followed but perhaps the last
    DWORD error = NO_ERROR;
    bool exists = false;
};

// Junctions inside a path are always followed; the last name's only when `followLast`
// (CreateFile's FILE_FLAG_OPEN_REPARSE_POINT).
Resolved Resolve(FakeFolders& model, const std::wstring& path, bool followLast)
{
    Resolved out;
    std::wstring rest = Lower(Normal(path));
    for (int hops = 0; hops < 32; ++hops) {
        std::vector<std::wstring> names;
        for (std::size_t at = 0, end; at <= rest.size(); at = end + 1) {
            end = rest.find(L'\\', at);
            if (end == std::wstring::npos)
                end = rest.size();
            names.push_back(rest.substr(at, end - at));
        }
        std::wstring current = names.front();
        if (model.objects.count(current) == 0) {
            out.error = ERROR_PATH_NOT_FOUND;
            return out;
        }
        bool followed = false;
        for (std::size_t i = 1; i < names.size() && !followed; ++i) {
            current += L"\\" + names[i];
            const bool last = i + 1 == names.size();
            auto found = model.objects.find(current);
            if (found == model.objects.end()) {
                out.key = current;
                out.error = last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
                return out;
            }
            const Object& object = found->second;
            if (!object.junctionTo.empty() && (!last || followLast)) {
                std::wstring remainder;
                for (std::size_t j = i + 1; j < names.size(); ++j)
                    remainder += L"\\" + names[j];
                rest = Lower(Normal(object.junctionTo)) + remainder;
                followed = true;
            } else if (!last && object.kind == Kind::File) {
                out.error = ERROR_PATH_NOT_FOUND;
                return out;
            }
        }
        if (!followed) {
            out.key = current;
            out.exists = true;
            return out;
        }
    }
    out.error = ERROR_CANT_RESOLVE_FILENAME;
    return out;
}

bool Outside(FakeFolders& model, const std::wstring& path)
{
    const std::wstring key = Lower(Normal(path));
    return model.objects.count(key.substr(0, 2)) == 0;
}

// A relative path is the current folder's, which is real (a package's folder).
std::wstring FullPath(const std::wstring& path)
{
    if (path.size() > 1 && (path[1] == L':' || path.compare(0, 2, L"\\\\") == 0))
        return path;
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

bool PassedThrough(FakeFolders& model, const std::wstring& path)
{
    const std::wstring key = Lower(Normal(FullPath(path)));
    for (const std::wstring& prefix : model.realPrefixes)
        if (key.compare(0, prefix.size(), Lower(prefix)) == 0)
            return true;
    return false;
}

bool IsDevicePath(const std::wstring& path) { return path.compare(0, 4, L"\\\\.\\") == 0; }

// How a call that names a file to delete or rename opens it: sharing everything, so that
// only another handle's own sharing stands in its way.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A conflict of sharing modes with the handles already open ("Creating and Opening
// Files", learn.microsoft.com/windows/win32/fileio/creating-and-opening-files).
bool SharingConflict(FakeFolders& model, const std::wstring& key, ACCESS_MASK access, DWORD share)
{
    const auto conflicts = [](ACCESS_MASK wanted, DWORD sharedByOther) {
        return ((wanted & (FILE_READ_DATA | FILE_EXECUTE)) && !(sharedByOther & FILE_SHARE_READ)) ||
               ((wanted & (FILE_WRITE_DATA | FILE_APPEND_DATA)) && !(sharedByOther & FILE_SHARE_WRITE)) ||
               ((wanted & DELETE) && !(sharedByOther & FILE_SHARE_DELETE));
    };
    for (const auto& open : model.opens)
        if (open.second.key == key &&
            (conflicts(access, open.second.share) || conflicts(open.second.access, share)))
            return true;
    return false;
}

// Whether the token may delete the object: DELETE on it or FILE_DELETE_CHILD on its parent.
bool MayDelete(FakeFolders& model, const std::wstring& key, Account account)
{
    const Object& parent = model.objects.at(Parent(key));
    return (Granted(model.objects.at(key), account) & DELETE) != 0 ||
           (Granted(parent, account) & FILE_DELETE_CHILD) != 0;
}

// Makes an object in an existing folder, with the explicit descriptor or the parent's
// inherited entries; NO_ERROR or why not.
DWORD MakeObject(FakeFolders& model, const std::wstring& key, const std::wstring& asNamed,
                 Kind kind, PSECURITY_DESCRIPTOR descriptor, Account account)
{
    const Object& parent = model.objects.at(Parent(key));
    if (parent.kind != Kind::Folder)
        return ERROR_PATH_NOT_FOUND;
    const ACCESS_MASK needed = kind == Kind::Folder ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE;
    if (!OnVolumeWithoutAcls(key) && (Granted(parent, account) & needed) == 0)
        return ERROR_ACCESS_DENIED;
    Object object;
    object.path = parent.path + L"\\" + LastName(Normal(asNamed));
    object.kind = kind;
    object.owner = DefaultOwner(account);
    object.dacl = Inherited(parent, kind, object.owner);
    if (descriptor != nullptr && !TakeDescriptor(descriptor, object))
        return ERROR_INVALID_SECURITY_DESCR;
    if (!MayOwn(account, object.owner))
        return ERROR_INVALID_OWNER;
    model.objects[key] = object;
    model.created.push_back(object.path);
    return NO_ERROR;
}

// ---- the calls ----

HANDLE FakeCreateFileW(FakeFolders& model, LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE templ)
{
    if (IsDevicePath(path) || PassedThrough(model, path))
        return model.Below().CreateFileW(path, access, share, sa, disposition, flags, templ);
    DWORD error = NO_ERROR;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (Outside(model, path))
        error = ERROR_PATH_NOT_FOUND;
    const Resolved at = error == NO_ERROR
                             ? Resolve(model, path, (flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0)
                             : Resolved{};
    const ACCESS_MASK wanted = MapFileRights(access);
    if (error != NO_ERROR) {
    } else if (!at.exists && at.error != ERROR_FILE_NOT_FOUND) {
        error = at.error;
    } else if (at.exists) {
        Object& object = model.objects.at(at.key);
        ACCESS_MASK granted = Granted(object, model.account) | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
        if (MayDelete(model, at.key, model.account))
            granted |= DELETE;
        if (OnVolumeWithoutAcls(at.key))
            granted = FILE_ALL_ACCESS;
        if (disposition == CREATE_NEW)
            error = ERROR_FILE_EXISTS;
        else if (object.kind == Kind::Folder &&
                 ((flags & FILE_FLAG_BACKUP_SEMANTICS) == 0 || disposition == CREATE_ALWAYS ||
                  disposition == TRUNCATE_EXISTING))
            error = ERROR_ACCESS_DENIED;
        else if (object.deletePending || (wanted & ~granted) != 0)
            error = ERROR_ACCESS_DENIED;
        else if (SharingConflict(model, at.key, wanted, share))
            error = ERROR_SHARING_VIOLATION;
        else if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
            object.content.clear();
            model.written.push_back(object.path);
        }
    } else if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
        error = ERROR_FILE_NOT_FOUND;
    } else {
        error = MakeObject(model, at.key, path, Kind::File,
                           sa != nullptr ? sa->lpSecurityDescriptor : nullptr, model.account);
    }
    if (error == NO_ERROR) {
        handle = model.NewHandle();
        model.opens[handle] = {at.key, wanted, share};
    }
    if (handle == INVALID_HANDLE_VALUE)
        return RefuseHandle(error);
    ::SetLastError(NO_ERROR);
    return handle;
}

BOOL FakeCreateDirectoryW(FakeFolders& model, LPCWSTR path, LPSECURITY_ATTRIBUTES sa)
{
    if (PassedThrough(model, path))
        return model.Below().CreateDirectoryW(path, sa);
    DWORD error = NO_ERROR;
    const Resolved at = Outside(model, path) ? Resolved{L"", ERROR_PATH_NOT_FOUND, false}
                                             : Resolve(model, path, false);
    if (at.exists)
        error = ERROR_ALREADY_EXISTS;
    else if (at.error != ERROR_FILE_NOT_FOUND)
        error = at.error;
    else
        error = MakeObject(model, at.key, path, Kind::Folder,
                           sa != nullptr ? sa->lpSecurityDescriptor : nullptr, model.account);
    return error == NO_ERROR ? TRUE : Refuse(error);
}

FakeFolders::Open* OpenOf(HANDLE handle)
{
    auto found = FakeFolders::Current().opens.find(handle);
    return found == FakeFolders::Current().opens.end() ? nullptr : &found->second;
}

BOOL WINAPI FakeWriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED ov)
{
    FakeFolders& model = FakeFolders::Current();
    {
        Hold hold(model.lock);
        if (FakeFolders::Open* open = OpenOf(h)) {
            if ((open->access & FILE_WRITE_DATA) == 0)
                return Refuse(ERROR_ACCESS_DENIED);
            Object& object = model.objects.at(open->key);
            object.content.append(static_cast<const char*>(buffer), size);
            model.written.push_back(object.path);
            *written = size;
            return TRUE;
        }
    }
    return model.Below().WriteFile(h, buffer, size, written, ov);
}

BOOL FakeFlushFileBuffers(FakeFolders& model, HANDLE h)
{
    if (OpenOf(h) != nullptr)
        return TRUE;
    return model.Below().FlushFileBuffers(h);
}

BOOL FakeCloseHandle(FakeFolders& model, HANDLE h)
{
    if (FakeFolders::Open* open = OpenOf(h)) {
        const std::wstring key = open->key;
        model.opens.erase(h);
        auto object = model.objects.find(key);
        const bool stillOpen = std::any_of(model.opens.begin(), model.opens.end(),
                                           [&key](const auto& o) { return o.second.key == key; });
        // A file marked for deletion goes when its last handle closes.
        if (object != model.objects.end() && object->second.deletePending && !stillOpen) {
            model.deleted.push_back(object->second.path);
            model.objects.erase(object);
        }
        return TRUE;
    }
    if (model.finds.erase(h) != 0)
        return TRUE;
    return model.Below().CloseHandle(h);
}

BOOL FakeFileInformation(FakeFolders& model, HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    FakeFolders::Open* open = OpenOf(h);
    if (open == nullptr)
        return model.Below().GetFileInformationByHandleEx(h, kind, info, size);
    if (kind != FileBasicInfo || size < sizeof(FILE_BASIC_INFO))
        return Refuse(ERROR_INVALID_PARAMETER);
    const Object& object = model.objects.at(open->key);
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = object.kind == Kind::Folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!object.junctionTo.empty())
        basic.FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    std::memcpy(info, &basic, sizeof basic);
    return TRUE;
}

DWORD FakeGetSecurityInfo(FakeFolders& model, HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                 PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                 PSECURITY_DESCRIPTOR* descriptor)
{
    FakeFolders::Open* open = OpenOf(h);
    if (open == nullptr)
        return model.Below().GetSecurityInfo(h, type, what, owner, group, dacl, sacl, descriptor);
    if ((open->access & READ_CONTROL) == 0)
        return ERROR_ACCESS_DENIED;
    Object object = model.objects.at(open->key);
    // A volume without permissions gives no owner and a NULL DACL.
    if (OnVolumeWithoutAcls(open->key)) {
        object.owner.clear();
        object.hasDacl = false;
    }
    PSECURITY_DESCRIPTOR made = DescriptorOf(object);
    if (made == nullptr)
        return ERROR_INVALID_SECURITY_DESCR;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (owner != nullptr)
        ::GetSecurityDescriptorOwner(made, owner, &defaulted);
    if (dacl != nullptr)
        ::GetSecurityDescriptorDacl(made, &present, dacl, &defaulted);
    if (group != nullptr)
        *group = nullptr;
    if (sacl != nullptr)
        *sacl = nullptr;
    if (descriptor != nullptr)
        *descriptor = made;
    else
        ::LocalFree(made);
    return ERROR_SUCCESS;
}

DWORD FakeSetSecurityInfo(FakeFolders& model, HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                 PSID owner, PSID group, PACL dacl, PACL sacl)
{
    FakeFolders::Open* open = OpenOf(h);
    if (open == nullptr)
        return model.Below().SetSecurityInfo(h, type, what, owner, group, dacl, sacl);
    if (((what & OWNER_SECURITY_INFORMATION) && !(open->access & WRITE_OWNER)) ||
        ((what & DACL_SECURITY_INFORMATION) && !(open->access & WRITE_DAC)))
        return ERROR_ACCESS_DENIED;
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (what & OWNER_SECURITY_INFORMATION)
        ::SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    if (what & DACL_SECURITY_INFORMATION)
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (what & PROTECTED_DACL_SECURITY_INFORMATION)
        ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    Object changed = model.objects.at(open->key);
    if (!TakeDescriptor(&descriptor, changed))
        return ERROR_INVALID_SECURITY_DESCR;
    if ((what & OWNER_SECURITY_INFORMATION) && !MayOwn(model.account, changed.owner))
        return ERROR_INVALID_OWNER;
    model.objects[open->key] = changed;
    model.written.push_back(changed.path);
    return ERROR_SUCCESS;
}

DWORD FakeFinalPath(FakeFolders& model, HANDLE h, LPWSTR buffer, DWORD size, DWORD flags)
{
    FakeFolders::Open* open = OpenOf(h);
    if (open == nullptr)
        return model.Below().GetFinalPathNameByHandleW(h, buffer, size, flags);
    const std::wstring path = L"\\\\?\\" + model.objects.at(open->key).path;
    // Too small: the size needed, its null counted; else the length without it.
    if (size <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    std::copy(path.c_str(), path.c_str() + path.size() + 1, buffer);
    return static_cast<DWORD>(path.size());
}

// Renaming through a handle (FILE_RENAME_INFO, a full path, no root handle) needs DELETE on
// that handle and the right to add to the new parent; an existing name is replaced only when
// asked. The object moves whole, a link as itself: what it leads to stays.
BOOL RenameThroughHandle(FakeFolders& model, FakeFolders::Open& open, const FILE_RENAME_INFO* info,
                         DWORD size)
{
    const DWORD head = offsetof(FILE_RENAME_INFO, FileName);
    if (size < head || info->RootDirectory != nullptr || size - head < info->FileNameLength)
        return Refuse(ERROR_INVALID_PARAMETER);
    if ((open.access & DELETE) == 0)
        return Refuse(ERROR_ACCESS_DENIED);
    const std::wstring named(info->FileName, info->FileNameLength / sizeof(wchar_t));
    const std::wstring to = Lower(Normal(named));
    auto parent = model.objects.find(Parent(to));
    if (parent == model.objects.end())
        return Refuse(ERROR_PATH_NOT_FOUND);
    if (model.objects.count(to) != 0)
        return Refuse(ERROR_ALREADY_EXISTS);
    const bool folder = model.objects.at(open.key).kind == Kind::Folder;
    if ((Granted(parent->second, model.account) &
         (folder ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE)) == 0)
        return Refuse(ERROR_ACCESS_DENIED);
    const std::wstring from = open.key;
    std::map<std::wstring, Object> moved;
    for (auto it = model.objects.begin(); it != model.objects.end();) {
        const bool inside = it->first == from || it->first.compare(0, from.size() + 1, from + L"\\") == 0;
        if (!inside) {
            ++it;
            continue;
        }
        Object object = it->second;
        object.path = Normal(named) + object.path.substr(from.size());
        moved[to + it->first.substr(from.size())] = object;
        it = model.objects.erase(it);
    }
    model.objects.insert(moved.begin(), moved.end());
    for (auto& other : model.opens)
        if (other.second.key == from || other.second.key.compare(0, from.size() + 1, from + L"\\") == 0)
            other.second.key = to + other.second.key.substr(from.size());
    return TRUE;
}

// Deleting through a handle needs DELETE on that handle; a folder must be empty
// (SetFileInformationByHandle, FILE_DISPOSITION_INFO).
BOOL FakeSetFileInformation(FakeFolders& model, HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    FakeFolders::Open* open = OpenOf(h);
    if (open == nullptr)
        return model.Below().SetFileInformationByHandle(h, kind, info, size);
    if (kind == FileRenameInfo)
        return RenameThroughHandle(model, *open, static_cast<const FILE_RENAME_INFO*>(info), size);
    if (kind != FileDispositionInfo || size < sizeof(FILE_DISPOSITION_INFO))
        return Refuse(ERROR_INVALID_PARAMETER);
    if ((open->access & DELETE) == 0)
        return Refuse(ERROR_ACCESS_DENIED);
    Object& object = model.objects.at(open->key);
    const std::wstring prefix = open->key + L"\\";
    if (object.kind == Kind::Folder &&
        std::any_of(model.objects.begin(), model.objects.end(),
                    [&prefix](const auto& o) { return o.first.compare(0, prefix.size(), prefix) == 0; }))
        return Refuse(ERROR_DIR_NOT_EMPTY);
    object.deletePending = static_cast<const FILE_DISPOSITION_INFO*>(info)->DeleteFile != FALSE;
    return TRUE;
}

BOOL FakeVolumeInformation(FakeFolders& model, HANDLE h, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                  LPDWORD longest, LPDWORD flags, LPWSTR system, DWORD systemSize)
{
    FakeFolders::Open* open = OpenOf(h);
    if (open == nullptr)
        return model.Below().GetVolumeInformationByHandleW(h, name, nameSize, serial, longest,
                                                                flags, system, systemSize);
    if (flags != nullptr)
        *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                 (OnVolumeWithoutAcls(open->key) ? 0 : FILE_PERSISTENT_ACLS);
    return TRUE;
}

// The 8.3 name Windows gives a long name ("x.logx" is "X~1.LOG"); a search matches both
// ("FindFirstFileW", learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-findfirstfilew).
std::wstring ShortName(const std::wstring& name)
{
    const std::size_t dot = name.find_last_of(L'.');
    const std::wstring base = name.substr(0, dot);
    const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot + 1);
    if (base.size() <= 8 && extension.size() <= 3)
        return std::wstring();
    std::wstring made = base.substr(0, std::min<std::size_t>(base.size(), 6)) + L"~1";
    if (!extension.empty())
        made += L"." + extension.substr(0, 3);
    for (wchar_t& c : made)
        c = static_cast<wchar_t>(std::towupper(c));
    return made;
}

bool Matches(const wchar_t* mask, const wchar_t* name)
{
    if (*mask == L'\0')
        return *name == L'\0';
    if (*mask == L'*')
        return Matches(mask + 1, name) || (*name != L'\0' && Matches(mask, name + 1));
    return *name != L'\0' && (*mask == L'?' || std::towlower(*mask) == std::towlower(*name)) &&
           Matches(mask + 1, name + 1);
}

void FillFound(const Object& object, WIN32_FIND_DATAW* found)
{
    *found = WIN32_FIND_DATAW{};
    found->dwFileAttributes = object.kind == Kind::Folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!object.junctionTo.empty()) {
        found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        found->dwReserved0 = IO_REPARSE_TAG_MOUNT_POINT;
    }
    found->nFileSizeLow = static_cast<DWORD>(object.content.size());
    const std::wstring name = LastName(object.path);
    const std::wstring shortName = ShortName(name);
    name.copy(found->cFileName, MAX_PATH - 1);
    shortName.copy(found->cAlternateFileName, 13);
}

bool NextFound(HANDLE h, WIN32_FIND_DATAW* found)
{
    auto search = FakeFolders::Current().finds.find(h);
    if (search->second.empty())
        return false;
    FillFound(FakeFolders::Current().objects.at(search->second.front()), found);
    search->second.erase(search->second.begin());
    return true;
}

HANDLE FakeFindFirstFileW(FakeFolders& model, LPCWSTR pattern, LPWIN32_FIND_DATAW found)
{
    if (PassedThrough(model, pattern))
        return model.Below().FindFirstFileW(pattern, found);
    const std::wstring folder = Parent(Normal(pattern));
    const std::wstring mask = LastName(Normal(pattern));
    if (Outside(model, folder))
        return RefuseHandle(ERROR_PATH_NOT_FOUND);
    const Resolved at = Resolve(model, folder, true);
    if (!at.exists)
        return RefuseHandle(ERROR_PATH_NOT_FOUND);
    if ((Granted(model.objects.at(at.key), model.account) & FILE_LIST_DIRECTORY) == 0)
        return RefuseHandle(ERROR_ACCESS_DENIED);
    std::vector<std::wstring> keys;
    for (const auto& o : model.objects) {
        if (Parent(o.first) != at.key)
            continue;
        const std::wstring name = LastName(o.second.path);
        const std::wstring shortName = ShortName(name);
        if (Matches(mask.c_str(), name.c_str()) ||
            (!shortName.empty() && Matches(mask.c_str(), shortName.c_str())))
            keys.push_back(o.first);
    }
    if (keys.empty())
        return RefuseHandle(ERROR_FILE_NOT_FOUND);
    const HANDLE h = model.NewHandle();
    model.finds[h] = keys;
    NextFound(h, found);
    return h;
}

BOOL FakeFindNextFileW(FakeFolders& model, HANDLE h, LPWIN32_FIND_DATAW found)
{
    if (model.finds.count(h) != 0)
        return NextFound(h, found) ? TRUE : Refuse(ERROR_NO_MORE_FILES);
    return model.Below().FindNextFileW(h, found);
}

BOOL FakeFindClose(FakeFolders& model, HANDLE h)
{
    if (model.finds.erase(h) != 0)
        return TRUE;
    return model.Below().FindClose(h);
}

// ---- the ANSI calls, for code that still names paths in the code page ----

HANDLE FakeCreateFileA(FakeFolders& model, LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE templ)
{
    const std::wstring wide = Wide(path);
    if (IsDevicePath(wide) || PassedThrough(model, wide))
        return model.Below().CreateFileA(path, access, share, sa, disposition, flags, templ);
    return FakeCreateFileW(model, wide.c_str(), access, share, sa, disposition, flags, templ);
}

BOOL FakeCreateDirectoryA(FakeFolders& model, LPCSTR path, LPSECURITY_ATTRIBUTES sa)
{
    return FakeCreateDirectoryW(model, Wide(path).c_str(), sa);
}

void Narrowed(const WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA* found)
{
    *found = WIN32_FIND_DATAA{};
    found->dwFileAttributes = wide.dwFileAttributes;
    found->nFileSizeLow = wide.nFileSizeLow;
    found->dwReserved0 = wide.dwReserved0;
    Narrow(wide.cFileName).copy(found->cFileName, MAX_PATH - 1);
    Narrow(wide.cAlternateFileName).copy(found->cAlternateFileName, 13);
}

HANDLE FakeFindFirstFileA(FakeFolders& model, LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    if (PassedThrough(model, Wide(pattern)))
        return model.Below().FindFirstFileA(pattern, found);
    WIN32_FIND_DATAW wide = {};
    const HANDLE h = FakeFindFirstFileW(model, Wide(pattern).c_str(), &wide);
    if (h != INVALID_HANDLE_VALUE)
        Narrowed(wide, found);
    return h;
}

BOOL FakeFindNextFileA(FakeFolders& model, HANDLE h, LPWIN32_FIND_DATAA found)
{
    if (model.finds.count(h) == 0)
        return model.Below().FindNextFileA(h, found);
    WIN32_FIND_DATAW wide = {};
    if (!FakeFindNextFileW(model, h, &wide))
        return FALSE;
    Narrowed(wide, found);
    return TRUE;
}

// Deleting by name follows every junction on the way, which is what makes it dangerous.
BOOL FakeDeleteFileA(FakeFolders& model, LPCSTR path)
{
    const std::wstring wide = Wide(path);
    if (PassedThrough(model, wide))
        return model.Below().DeleteFileA(path);
    DWORD error = NO_ERROR;
    const Resolved at = Outside(model, wide) ? Resolved{L"", ERROR_PATH_NOT_FOUND, false}
                                             : Resolve(model, wide, false);
    if (!at.exists)
        error = at.error;
    else if (model.objects.at(at.key).kind == Kind::Folder || !MayDelete(model, at.key, model.account))
        error = ERROR_ACCESS_DENIED;
    else if (SharingConflict(model, at.key, DELETE, kShareAll))
        error = ERROR_SHARING_VIOLATION;
    else {
        model.deleted.push_back(model.objects.at(at.key).path);
        model.objects.erase(at.key);
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

// A rename by name within the model: DELETE on the source, room in the target's folder,
// and a target nobody holds open.
BOOL FakeMoveFileExA(FakeFolders& model, LPCSTR from, LPCSTR to, DWORD flags)
{
    const std::wstring source = Wide(from);
    const std::wstring target = Wide(to);
    if (PassedThrough(model, source))
        return model.Below().MoveFileExA(from, to, flags);
    DWORD error = NO_ERROR;
    const Resolved a = Outside(model, source) ? Resolved{L"", ERROR_PATH_NOT_FOUND, false}
                                              : Resolve(model, source, false);
    const Resolved b = Outside(model, target) ? Resolved{L"", ERROR_PATH_NOT_FOUND, false}
                                              : Resolve(model, target, false);
    if (!a.exists)
        error = a.error;
    else if (!b.exists && b.error != ERROR_FILE_NOT_FOUND)
        error = b.error;
    else if (!MayDelete(model, a.key, model.account) || SharingConflict(model, a.key, DELETE, kShareAll))
        error = ERROR_ACCESS_DENIED;
    else if (b.exists && ((flags & MOVEFILE_REPLACE_EXISTING) == 0))
        error = ERROR_ALREADY_EXISTS;
    else if (b.exists && (!MayDelete(model, b.key, model.account) ||
                          std::any_of(model.opens.begin(), model.opens.end(),
                                      [&b](const auto& o) { return o.second.key == b.key; })))
        error = ERROR_ACCESS_DENIED;
    else if ((Granted(model.objects.at(Parent(b.key)), model.account) & FILE_ADD_FILE) == 0)
        error = ERROR_ACCESS_DENIED;
    else {
        Object moved = model.objects.at(a.key);
        moved.path = model.objects.at(Parent(b.key)).path + L"\\" + LastName(Normal(target));
        model.objects.erase(a.key);
        model.objects[b.key] = moved;
        for (auto& open : model.opens)
            if (open.second.key == a.key)
                open.second.key = b.key;
        model.written.push_back(moved.path);
    }
    return error == NO_ERROR ? TRUE : Refuse(error);
}

BOOL FakeFileAttributesA(FakeFolders& model, LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info)
{
    const std::wstring wide = Wide(path);
    if (PassedThrough(model, wide))
        return model.Below().GetFileAttributesExA(path, level, info);
    const Resolved at = Outside(model, wide) ? Resolved{L"", ERROR_PATH_NOT_FOUND, false}
                                             : Resolve(model, wide, true);
    if (!at.exists)
        return Refuse(at.error);
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    *data = WIN32_FILE_ATTRIBUTE_DATA{};
    const Object& object = model.objects.at(at.key);
    data->dwFileAttributes = object.kind == Kind::Folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    data->nFileSizeLow = static_cast<DWORD>(object.content.size());
    return TRUE;
}

// ---- the account and its folders ----

HANDLE const kToken = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFB0001));

BOOL WINAPI FakeOpenProcessToken(HANDLE, DWORD, PHANDLE token)
{
    *token = kToken;
    return TRUE;
}

BOOL FakeTokenInformation(FakeFolders& model, HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                                 DWORD size, PDWORD needed)
{
    if (token != kToken)
        return model.Below().GetTokenInformation(token, kind, buffer, size, needed);
    Account account;
    account = model.account;
    if (kind == TokenElevation) {
        *needed = sizeof(TOKEN_ELEVATION);
        if (buffer == nullptr || size < *needed)
            return Refuse(ERROR_INSUFFICIENT_BUFFER);
        static_cast<TOKEN_ELEVATION*>(buffer)->TokenIsElevated = account != Account::StandardUser;
        return TRUE;
    }
    if (kind != TokenUser)
        return Refuse(ERROR_INVALID_PARAMETER);
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(UserSid(account).c_str(), &sid))
        return Refuse(ERROR_INVALID_SID);
    const DWORD sidSize = ::GetLengthSid(sid);
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER)) + sidSize;
    if (buffer == nullptr || size < *needed) {
        ::LocalFree(sid);
        return Refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    BYTE* copy = static_cast<BYTE*>(buffer) + sizeof(TOKEN_USER);
    ::CopySid(sidSize, copy, sid);
    ::LocalFree(sid);
    static_cast<TOKEN_USER*>(buffer)->User.Sid = copy;
    static_cast<TOKEN_USER*>(buffer)->User.Attributes = 0;
    return TRUE;
}

BOOL FakeCloseToken(FakeFolders& model, HANDLE h)
{
    return h == kToken ? TRUE : FakeCloseHandle(model, h);
}

std::wstring LocalAppData(Account account)
{
    switch (account) {
    case Account::LocalSystem: return L"C:\\Windows\\System32\\config\\systemprofile\\AppData\\Local";
    case Account::Administrator: return L"C:\\Users\\admin\\AppData\\Local";
    case Account::StandardUser: return L"C:\\Users\\user\\AppData\\Local";
    }
    return std::wstring();
}

HRESULT FakeKnownFolderPath(FakeFolders& model, REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path)
{
    std::wstring given;
    if (IsEqualGUID(folder, FOLDERID_ProgramData))
        given = L"C:\\ProgramData";
    else if (IsEqualGUID(folder, FOLDERID_LocalAppData))
        given = LocalAppData(model.account);
    if (given.empty())
        return model.Below().SHGetKnownFolderPath(folder, flags, token, path);
    *path = static_cast<PWSTR>(::CoTaskMemAlloc((given.size() + 1) * sizeof(wchar_t)));
    if (*path == nullptr)
        return E_OUTOFMEMORY;
    std::copy(given.c_str(), given.c_str() + given.size() + 1, *path);
    return S_OK;
}

OsCalls FolderCalls(const OsCalls& below)
{
    OsCalls calls = below;
    calls.CreateFileW = FakeFolders::Entry<FakeCreateFileW>();
    calls.CreateDirectoryW = FakeFolders::Entry<FakeCreateDirectoryW>();
    calls.WriteFile = FakeWriteFile;
    calls.FlushFileBuffers = FakeFolders::Entry<FakeFlushFileBuffers>();
    calls.CloseHandle = FakeFolders::Entry<FakeCloseToken>();
    calls.GetFileInformationByHandleEx = FakeFolders::Entry<FakeFileInformation>();
    calls.GetSecurityInfo = FakeFolders::Entry<FakeGetSecurityInfo>();
    calls.SetSecurityInfo = FakeFolders::Entry<FakeSetSecurityInfo>();
    calls.GetFinalPathNameByHandleW = FakeFolders::Entry<FakeFinalPath>();
    calls.SetFileInformationByHandle = FakeFolders::Entry<FakeSetFileInformation>();
    calls.GetVolumeInformationByHandleW = FakeFolders::Entry<FakeVolumeInformation>();
    calls.FindFirstFileW = FakeFolders::Entry<FakeFindFirstFileW>();
    calls.FindNextFileW = FakeFolders::Entry<FakeFindNextFileW>();
    calls.FindClose = FakeFolders::Entry<FakeFindClose>();
    calls.GetFullPathNameW = RealOsCalls().GetFullPathNameW;  // names only: no file is reached
    calls.CreateFileA = FakeFolders::Entry<FakeCreateFileA>();
    calls.CreateDirectoryA = FakeFolders::Entry<FakeCreateDirectoryA>();
    calls.FindFirstFileA = FakeFolders::Entry<FakeFindFirstFileA>();
    calls.FindNextFileA = FakeFolders::Entry<FakeFindNextFileA>();
    calls.DeleteFileA = FakeFolders::Entry<FakeDeleteFileA>();
    calls.MoveFileExA = FakeFolders::Entry<FakeMoveFileExA>();
    calls.GetFileAttributesExA = FakeFolders::Entry<FakeFileAttributesA>();
    calls.OpenProcessToken = FakeOpenProcessToken;
    calls.GetTokenInformation = FakeFolders::Entry<FakeTokenInformation>();
    calls.SHGetKnownFolderPath = FakeFolders::Entry<FakeKnownFolderPath>();
    return calls;
}

} // namespace

const wchar_t FakeFolders::kUserSid[] = L"S-1-5-21-1-2-3-1001";
const wchar_t FakeFolders::kAdminSid[] = L"S-1-5-21-1-2-3-500";
const wchar_t FakeFolders::kProgramDataSddl[] =
    L"O:SYD:P(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
    L"(A;CI;0x116;;;BU)";

FakeFolders::FakeFolders()
{
    Os() = FolderCalls(Below());
    const std::wstring windows = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    Put(L"C:", Kind::Folder, windows);
    Put(L"C:\\ProgramData", Kind::Folder, kProgramDataSddl);
    Put(L"C:\\Users", Kind::Folder, windows);
    Put(L"C:\\Windows", Kind::Folder, windows);
    for (const wchar_t* tail : {L"\\System32", L"\\System32\\config", L"\\System32\\config\\systemprofile",
                                L"\\System32\\config\\systemprofile\\AppData",
                                L"\\System32\\config\\systemprofile\\AppData\\Local"})
        Put(L"C:\\Windows" + std::wstring(tail), Kind::Folder, windows);
    for (const wchar_t* name : {L"user", L"admin"}) {
        const std::wstring sid = name == std::wstring(L"user") ? kUserSid : kAdminSid;
        const std::wstring own = L"O:" + sid + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
        const std::wstring home = L"C:\\Users\\" + std::wstring(name);
        Put(home, Kind::Folder, own);
        Put(home + L"\\AppData", Kind::Folder, own);
        Put(home + L"\\AppData\\Local", Kind::Folder, own);
    }
    Put(L"E:", Kind::Folder, L"D:NO_ACCESS_CONTROL");
}

HANDLE FakeFolders::NewHandle() { return reinterpret_cast<HANDLE>(m_nextHandle++); }

void FakeFolders::Put(const std::wstring& path, Kind kind, const std::wstring& sddl,
                      const std::wstring& junctionTo, const std::string& content)
{
    Hold hold(lock);
    Object object;
    object.path = Normal(path);
    object.kind = kind;
    object.junctionTo = junctionTo;
    object.content = content;
    TakeSddl(sddl, object);
    objects[Lower(object.path)] = object;
}

bool FakeFolders::UserCreates(const std::wstring& path, Kind kind, const std::wstring& junctionTo)
{
    Hold hold(lock);
    const Account saved = account;
    account = Account::StandardUser;
    const Resolved at = Resolve(*this, path, false);
    DWORD error = at.exists ? ERROR_ALREADY_EXISTS : at.error;
    if (error == ERROR_FILE_NOT_FOUND)
        error = MakeObject(*this, at.key, path, kind, nullptr, account);
    account = saved;
    if (error != NO_ERROR)
        return false;
    created.pop_back();
    objects.at(at.key).junctionTo = junctionTo;
    return true;
}

bool FakeFolders::Exists(const std::wstring& path) const
{
    return objects.count(Lower(Normal(path))) != 0;
}

std::wstring FakeFolders::Sddl(const std::wstring& path) const
{
    auto found = objects.find(Lower(Normal(path)));
    return found == objects.end() ? std::wstring() : SddlOf(found->second);
}

std::string FakeFolders::Content(const std::wstring& path) const
{
    auto found = objects.find(Lower(Normal(path)));
    return found == objects.end() ? std::string() : found->second.content;
}

std::vector<std::wstring> FakeFolders::Names(const std::wstring& folder) const
{
    std::vector<std::wstring> names;
    const std::wstring key = Lower(Normal(folder));
    for (const auto& o : objects)
        if (Parent(o.first) == key)
            names.push_back(LastName(o.second.path));
    return names;
}
