#include "HeldFolder.h"

#include <sddl.h>

#include <utility>
#include <vector>

#include "KnownPlaces.h"
#include "OsSeam.h"
#include "Text.h"

namespace {

// What judging an object needs of its handle.
constexpr DWORD kJudgeAccess = READ_CONTROL | FILE_READ_ATTRIBUTES;

// Opened as itself (a junction is not followed), a folder as well as a file.
constexpr DWORD kHoldFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

// A descriptor made from SDDL text, freed with its owner.
struct LocalMemory : NullIsEmpty<PSECURITY_DESCRIPTOR> {
    static void Close(PSECURITY_DESCRIPTOR memory) { ::LocalFree(memory); }
};
using SddlDescriptor = Owned<PSECURITY_DESCRIPTOR, LocalMemory>;

SddlDescriptor DescriptorOf(const std::wstring& sddl)
{
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &made, nullptr))
        made = nullptr;
    return SddlDescriptor(made);
}

// The owner's SID text and the rule's verdict on the owner and DACL of an open object.
FolderFault JudgeSecurityOf(HANDLE handle, PSID user, std::wstring& ownerText)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        Os().GetSecurityInfo(handle, SE_FILE_OBJECT,
                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                             nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS || descriptor == nullptr)
        return FolderFault::Unreadable;
    ownerText = SidText(owner);
    const FolderFault fault = JudgeDescriptor(descriptor, user);
    ::LocalFree(descriptor);
    return fault;
}

bool KeepsPermissions(HANDLE handle)
{
    DWORD flags = 0;
    return Os().GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags,
                                              nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

Judgement JudgeHandle(HANDLE handle, ObjectKind kind, PSID user)
{
    Judgement judgement;
    FILE_BASIC_INFO basic = {};
    if (!Os().GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return judgement;
    // The owner is read first, so that whatever fails is reported with who made it.
    const FolderFault security = JudgeSecurityOf(handle, user, judgement.owner);
    const bool folder = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        judgement.fault = FolderFault::ReparsePoint;
    else if (folder != (kind == ObjectKind::Folder))
        judgement.fault = FolderFault::WrongKind;
    else if (!KeepsPermissions(handle))
        judgement.fault = FolderFault::NoPersistentAcls;
    else
        judgement.fault = security;
    return judgement;
}

bool IsAbsence(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

} // namespace

void HeldObject::Release()
{
    m_handle.Reset();
    m_path.clear();
}

Judgement HoldExisting(const std::wstring& path, ObjectKind kind, PSID user, HeldObject& held,
                       DWORD extraAccess)
{
    held.Release();
    // Read and write shared, delete not: nobody renames or deletes it while it is held.
    ScopedHandle handle(Os().CreateFileW(path.c_str(), kJudgeAccess | extraAccess,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, kHoldFlags, nullptr));
    if (handle.Get() == INVALID_HANDLE_VALUE) {
        Judgement judgement;
        judgement.absent = IsAbsence(Os().GetLastError());
        return judgement;
    }
    Judgement judgement = JudgeHandle(handle.Get(), kind, user);
    if (judgement.fault != FolderFault::Sound)
        return judgement;
    held.m_handle = std::move(handle);
    held.m_path = path;
    return judgement;
}

std::string RefusalText(const std::wstring& path, const Judgement& judgement)
{
    const std::string owner =
        judgement.owner.empty() ? std::string("unknown") : WideToAnsi(judgement.owner);
    return WideToAnsi(path) + " (owner " + owner + "): " + FolderFaultText(judgement.fault);
}

Judgement JudgePath(const std::wstring& path, ObjectKind kind, PSID user)
{
    HeldObject held;
    return HoldExisting(path, kind, user, held);
}

Judgement HoldFolder(const std::wstring& path, const std::wstring& sddl, PSID user,
                     HeldObject& held)
{
    Judgement found = HoldExisting(path, ObjectKind::Folder, user, held);
    if (!found.absent)
        return found;
    const SddlDescriptor descriptor = DescriptorOf(sddl);
    if (descriptor.Get() == nullptr)
        return Judgement();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    // Whoever made it between the look and the creation made what is judged next.
    if (!Os().CreateDirectoryW(path.c_str(), &attributes) &&
        Os().GetLastError() != ERROR_ALREADY_EXISTS)
        return Judgement();
    return HoldExisting(path, ObjectKind::Folder, user, held);
}

std::wstring UserFolderSddl(PSID user)
{
    const std::wstring sid = SidText(user);
    if (sid.empty())
        return std::wstring();
    return L"O:" + sid + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
}

std::wstring FinalPathOf(HANDLE handle)
{
    std::vector<wchar_t> path(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = Os().GetFinalPathNameByHandleW(
            handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::wstring();
        if (length < path.size())
            return std::wstring(path.data(), length);
        // Too small: the length asked for counts the terminating null.
        path.resize(length);
    }
    return std::wstring();
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ParentOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool ProtectWith(HANDLE handle, const std::wstring& sddl)
{
    const SddlDescriptor descriptor = DescriptorOf(sddl);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (descriptor.Get() == nullptr ||
        !::GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) || !present)
        return false;
    return Os().SetSecurityInfo(handle, SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

bool DeleteThroughHandle(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return Os().SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                           sizeof disposition) != FALSE;
}

bool EnforceRedirectionTrust()
{
    // Declared by hand: the headers show them only to programs that need Windows 8 or later.
    constexpr int kProcessRedirectionTrustPolicy = 16;
    struct RedirectionTrustPolicy {
        DWORD flags;
    };
    constexpr DWORD kEnforceRedirectionTrust = 0x1;
    if (Os().SetProcessMitigationPolicy == nullptr)
        return false;
    RedirectionTrustPolicy policy = {kEnforceRedirectionTrust};
    return Os().SetProcessMitigationPolicy(kProcessRedirectionTrustPolicy, &policy,
                                           sizeof policy) != FALSE;
}

bool ForbidUsersLinksWhenPrivileged()
{
    return !RunsElevated() || EnforceRedirectionTrust();
}
