#include "Registration.h"

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "ConsoleWriter.h"
#include "PackageTrust.h"
#include "Refusals.h"
#include "winfw/FolderRule.h"
#include "winfw/Handle.h"
#include "winfw/HeldFolder.h"
#include "winfw/KnownPlaces.h"
#include "winfw/OsSeam.h"
#include "winfw/RegistryValue.h"
#include "winfw/Text.h"

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* head)
{
    return text.compare(0, std::wcslen(head), head) == 0;
}

// The path a "\\?\" path stands for, as the event viewer and people read it.
std::wstring PlainPath(const std::wstring& path)
{
    if (StartsWith(path, L"\\\\?\\UNC\\"))
        return L"\\\\" + path.substr(8);
    if (StartsWith(path, L"\\\\?\\"))
        return path.substr(4);
    return path;
}

// A path's names from its root: "\\?\C:\a" and "C:\a" give {"C:", "a"}; a UNC path starts
// with "\\" so that no server is taken for a drive.
std::vector<std::wstring> PathNames(const std::wstring& path)
{
    const std::wstring plain = PlainPath(path);
    std::vector<std::wstring> names;
    if (StartsWith(plain, L"\\\\"))
        names.push_back(L"\\\\");
    std::wstring name;
    for (const wchar_t c : plain + L"\\") {
        if (c != L'\\' && c != L'/') {
            name += c;
            continue;
        }
        if (!name.empty())
            names.push_back(name);
        name.clear();
    }
    return names;
}

bool IsDotName(const std::wstring& name) { return name == L"." || name == L".."; }

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

// The program and every folder from Program Files down to it, held while the source is
// written; their final paths, so no link or short name hides where the program is. False,
// with the reason, when one of them may be changed by users or lies elsewhere.
bool HoldInstalledProgram(const std::wstring& program, std::vector<HeldObject>& held,
                          std::wstring& finalProgram, std::string& reason)
{
    const std::wstring programFiles = KnownFolderWidePath(FOLDERID_ProgramFiles);
    const std::string outside = Utf8(program) + " is not inside " + Utf8(programFiles) +
                                ": install the programs there, then register that copy";
    // As named first, then as the handles show them once held.
    if (!LiesUnderFolder(program, programFiles)) {
        reason = outside;
        return false;
    }
    HeldObject root;
    Judgement judgement = HoldExisting(programFiles, ObjectKind::Folder, nullptr, root);
    if (judgement.fault != FolderFault::Sound) {
        reason = "the Program Files folder " + Utf8(programFiles) + ": " + JudgementText(judgement);
        return false;
    }
    HeldObject file;
    judgement = HoldExisting(program, ObjectKind::File, nullptr, file);
    if (judgement.fault != FolderFault::Sound) {
        reason = Utf8(program) + ": " + JudgementText(judgement);
        return false;
    }
    const std::wstring finalRoot = FinalPathOf(root.Handle());
    finalProgram = FinalPathOf(file.Handle());
    if (finalRoot.empty() || !LiesUnderFolder(finalProgram, finalRoot)) {
        reason = outside;
        return false;
    }
    held.push_back(std::move(root));
    held.push_back(std::move(file));
    for (std::wstring folder = ParentOf(finalProgram); LiesUnderFolder(folder, finalRoot);
         folder = ParentOf(folder)) {
        HeldObject step;
        judgement = HoldExisting(folder, ObjectKind::Folder, nullptr, step);
        if (judgement.fault != FolderFault::Sound) {
            reason = "the folder " + Utf8(folder) + ": " + JudgementText(judgement);
            return false;
        }
        held.push_back(std::move(step));
    }
    return true;
}

// Renames what stands at `path` (a folder a user made, a link, a file) to a name of its
// own beside it, through a handle to the object itself: a link is moved, not followed.
bool MoveAside(const std::wstring& path)
{
    const HANDLE opened = Os().CreateFileW(
        path.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    ScopedHandle handle(opened);
    const std::wstring aside = path + L".moved-" + std::to_wstring(Os().GetTickCount64());
    const std::size_t nameBytes = aside.size() * sizeof(wchar_t);
    // DWORD cells keep the structure aligned; the name runs on past its declared one letter.
    std::vector<DWORD> buffer((sizeof(FILE_RENAME_INFO) + nameBytes) / sizeof(DWORD) + 1);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::wmemcpy(rename->FileName, aside.c_str(), aside.size());
    return Os().SetFileInformationByHandle(handle.Get(), FileRenameInfo, rename,
                                           static_cast<DWORD>(buffer.size() * sizeof(DWORD))) !=
           FALSE;
}

// The machine's folder at `path` held, made with the protected DACL when missing; one that
// fails the rule is moved aside and made anew.
bool MakeMachineFolder(const std::wstring& path, HeldObject& held, std::string& reason)
{
    Judgement judgement = HoldFolder(path, kMachineFolderSddl, nullptr, held);
    if (judgement.fault == FolderFault::Sound)
        return true;
    const std::string found = JudgementText(judgement);
    if (!MoveAside(path)) {
        reason = Utf8(path) + " (" + found + ") cannot be moved aside";
        return false;
    }
    WriteStderrLine("register: " + Utf8(path) + " (" + found + ") was moved aside");
    judgement = HoldFolder(path, kMachineFolderSddl, nullptr, held);
    if (judgement.fault == FolderFault::Sound)
        return true;
    reason = Utf8(path) + " cannot be made: " + JudgementText(judgement);
    return false;
}

// %ProgramData%\Orvane and its Journal, as only SYSTEM and Administrators may change them.
bool MakeDataFolders(std::string& reason)
{
    const std::wstring programData = KnownFolderWidePath(FOLDERID_ProgramData);
    if (programData.empty()) {
        reason = "the ProgramData folder cannot be read";
        return false;
    }
    HeldObject orvane;
    HeldObject journal;
    return MakeMachineFolder(programData + L"\\Orvane", orvane, reason) &&
           MakeMachineFolder(programData + L"\\Orvane\\Journal", journal, reason);
}

LSTATUS WriteSource(const std::wstring& program)
{
    ScopedRegistryKey key;
    const LSTATUS created = CreateMachineKey(kEventSourceKey, key);
    if (created != ERROR_SUCCESS)
        return created;
    if (!SetTextValue(key.Get(), L"EventMessageFile", program) ||
        !SetNumberValue(key.Get(), L"TypesSupported",
                   EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE))
        return ERROR_WRITE_FAULT;
    return ERROR_SUCCESS;
}

} // namespace

bool LiesUnderFolder(const std::wstring& path, const std::wstring& folder)
{
    const std::vector<std::wstring> inner = PathNames(path);
    const std::vector<std::wstring> outer = PathNames(folder);
    if (outer.empty() || inner.size() <= outer.size())
        return false;
    for (const std::wstring& name : inner)
        if (IsDotName(name))
            return false;
    for (std::size_t i = 0; i < outer.size(); ++i)
        if (IsDotName(outer[i]) || !SamePath(inner[i], outer[i]))
            return false;
    return true;
}

ExitStatus RunRegister()
{
    if (!RunsElevated())
        return Say({Refusal::Kind::NotElevated, "register"});
    const std::wstring program = RunningProgramPath();
    if (program.empty())
        return Say({Refusal::Kind::Other, "register", "", "the program's own path cannot be read"});
    std::vector<HeldObject> held;
    std::wstring finalProgram;
    std::string reason;
    if (!HoldInstalledProgram(program, held, finalProgram, reason))
        return Say({Refusal::Kind::Other, "register", "", reason});
    if (!MakeDataFolders(reason)) {
        WriteStderrLine("register: the machine's data folder: " + reason);
        return ExitStatus::Failed;
    }
    // The final path: the file the handles held, not a name that could lead elsewhere.
    const std::wstring source = PlainPath(finalProgram);
    const LSTATUS written = WriteSource(source);
    if (written != ERROR_SUCCESS) {
        WriteStderrLine("register: the event source cannot be written (error " +
                        std::to_string(written) + ")");
        return ExitStatus::Failed;
    }
    WriteStderrLine("register: the event source Orvane reads its texts from " + Utf8(source));
    return ExitStatus::Done;
}

ExitStatus RunUnregister()
{
    if (!RunsElevated())
        return Say({Refusal::Kind::NotElevated, "unregister"});
    const LSTATUS removed =
        Os().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_WOW64_64KEY, 0);
    if (removed == ERROR_FILE_NOT_FOUND) {
        WriteStderrLine("unregister: there was no event source Orvane");
        return ExitStatus::Done;
    }
    if (removed != ERROR_SUCCESS) {
        WriteStderrLine("unregister: the event source cannot be removed (error " +
                        std::to_string(removed) + ")");
        return ExitStatus::Failed;
    }
    WriteStderrLine("unregister: the event source Orvane is removed; the journals stay");
    return ExitStatus::Done;
}
