#include "FolderRule.h"

#include <sddl.h>

namespace {

// TrustedInstaller's service SID: the owner of Windows' own folders and files.
constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsTrustedInstaller(PSID sid)
{
    PSID trusted = nullptr;
    if (!::ConvertStringSidToSidW(kTrustedInstallerSid, &trusted))
        return false;
    const bool equal = ::EqualSid(sid, trusted) != FALSE;
    ::LocalFree(trusted);
    return equal;
}

// What an allow entry grants, generic rights mapped as for a file or folder.
ACCESS_MASK FileRightsOf(ACCESS_MASK mask)
{
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    ::MapGenericMask(&mask, &mapping);
    return mask;
}

FolderFault JudgeEntry(const ACE_HEADER* header, PSID user)
{
    if (header->AceType == ACCESS_DENIED_ACE_TYPE)
        return FolderFault::Sound;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
        return FolderFault::UnknownAce;
    // An entry only for what will be created inside does not apply to the object itself.
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
        return FolderFault::Sound;
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    PSID trustee = const_cast<DWORD*>(&allowed->SidStart);
    if (!::IsValidSid(trustee))
        return FolderFault::UnknownAce;
    if (IsTrustedOwner(trustee, user))
        return FolderFault::Sound;
    return (FileRightsOf(allowed->Mask) & ~kReadAndExecute) == 0 ? FolderFault::Sound
                                                                 : FolderFault::OthersMayWrite;
}

} // namespace

bool IsTrustedOwner(PSID sid, PSID user)
{
    if (sid == nullptr || !::IsValidSid(sid))
        return false;
    if (::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    if (user != nullptr && ::IsValidSid(user) && ::EqualSid(sid, user))
        return true;
    return IsTrustedInstaller(sid);
}

FolderFault JudgeSecurity(PSID owner, PACL dacl, BOOL daclPresent, PSID user)
{
    if (!IsTrustedOwner(owner, user))
        return FolderFault::UntrustedOwner;
    if (!daclPresent || dacl == nullptr)
        return FolderFault::NoDacl;
    ACL_SIZE_INFORMATION size = {};
    if (!::GetAclInformation(dacl, &size, sizeof size, AclSizeInformation))
        return FolderFault::Unreadable;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry) || entry == nullptr)
            return FolderFault::Unreadable;
        const FolderFault fault = JudgeEntry(static_cast<const ACE_HEADER*>(entry), user);
        if (fault != FolderFault::Sound)
            return fault;
    }
    return FolderFault::Sound;
}

FolderFault JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, PSID user)
{
    if (descriptor == nullptr)
        return FolderFault::Unreadable;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    PACL dacl = nullptr;
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) ||
        !::GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted))
        return FolderFault::Unreadable;
    return JudgeSecurity(owner, dacl, daclPresent, user);
}

std::wstring SidText(PSID sid)
{
    if (sid == nullptr || !::IsValidSid(sid))
        return std::wstring();
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text) || text == nullptr)
        return std::wstring();
    std::wstring out(text);
    ::LocalFree(text);
    return out;
}

const char* FolderFaultText(FolderFault fault)
{
    switch (fault) {
    case FolderFault::Sound: return "sound";
    case FolderFault::Unreadable: return "its security cannot be read";
    case FolderFault::WrongKind: return "it is not what it should be (a file or a folder)";
    case FolderFault::ReparsePoint: return "it is a link (a reparse point)";
    case FolderFault::UntrustedOwner: return "its owner is not a trusted owner";
    case FolderFault::NoDacl: return "it has no access list: everyone may change it";
    case FolderFault::OthersMayWrite: return "another account than SYSTEM and Administrators may change it";
    case FolderFault::UnknownAce: return "its access list holds an entry that cannot be judged";
    case FolderFault::NoPersistentAcls: return "its volume keeps no permissions (FAT, exFAT)";
    }
    return "unknown";
}
