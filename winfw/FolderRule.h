// Whether a folder or file is out of standard users' reach: where a program that runs as
// SYSTEM or elevated may write, delete or load from. A user who can plant a junction, own
// the folder or write in it could steer the program's writes and deletes anywhere.
#pragma once
#include <windows.h>

#include <string>

// Why an object fails the rule; Sound when it passes.
enum class FolderFault {
    Sound,
    Unreadable,      // it could not be opened, or its security could not be read
    WrongKind,       // a file where a folder belongs, or a folder where a file belongs
    ReparsePoint,    // a junction, a symbolic link or any other reparse point
    UntrustedOwner,  // owned by someone other than the trusted owners
    NoDacl,          // no DACL at all: everyone may do everything
    OthersMayWrite,  // an allow entry grants another account more than read and execute
    UnknownAce,      // an entry of another type than allow or deny, which the rule cannot judge
    NoPersistentAcls // on a volume that keeps no permissions (FAT, exFAT)
};

// What the program gives the folders it creates for the machine's data: SYSTEM and
// Administrators full control, Users read and execute, nothing inherited from the parent.
constexpr wchar_t kMachineFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Read, execute and list: the most any account but the trusted owners may be granted.
constexpr ACCESS_MASK kReadAndExecute = 0x1200A9;

// SYSTEM, Administrators or TrustedInstaller; or `user` (the account whose own profile
// holds the object), when not null.
bool IsTrustedOwner(PSID sid, PSID user);

// The rule over an object's owner and DACL, with no call to the system beyond the SID and
// ACL functions: a trusted owner, a DACL, only allow and deny entries, and no allow entry
// that applies to the object itself and grants another account more than kReadAndExecute
// once generic rights are mapped for files.
FolderFault JudgeSecurity(PSID owner, PACL dacl, BOOL daclPresent, PSID user);

// The same rule over a whole security descriptor (its owner and DACL).
FolderFault JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, PSID user);

// "S-1-5-32-544" for a SID; empty when it cannot be written.
std::wstring SidText(PSID sid);

// A short English reason for a fault, for the console and the journal.
const char* FolderFaultText(FolderFault fault);
