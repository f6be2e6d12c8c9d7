#include "Registration.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "Progress.h"
#include "winfw/KnownPlaces.h"
#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

// The longest path GetModuleFileNameW can give.
constexpr DWORD kLongestPath = 32768;

class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey()
    {
        if (m_key != nullptr)
            Os().RegCloseKey(m_key);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    PHKEY Receive() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

class TaskMemoryText {
public:
    TaskMemoryText() = default;
    ~TaskMemoryText() { Os().CoTaskMemFree(m_text); }
    TaskMemoryText(const TaskMemoryText&) = delete;
    TaskMemoryText& operator=(const TaskMemoryText&) = delete;

    PWSTR* Receive() { return &m_text; }
    const wchar_t* Get() const { return m_text; }

private:
    PWSTR m_text = nullptr;
};

bool StartsWith(const std::wstring& text, const wchar_t* head)
{
    return text.compare(0, std::wcslen(head), head) == 0;
}

// A path's names from its root: "\\?\C:\a" and "C:\a" give {"C:", "a"}; a UNC path starts
// with "\\" so that no server is taken for a drive.
std::vector<std::wstring> PathNames(const std::wstring& path)
{
    std::wstring plain = path;
    if (StartsWith(plain, L"\\\\?\\UNC\\"))
        plain = L"\\\\" + plain.substr(8);
    else if (StartsWith(plain, L"\\\\?\\"))
        plain = plain.substr(4);
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

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsDotName(const std::wstring& name) { return name == L"." || name == L".."; }

std::wstring ProgramPath()
{
    for (DWORD size = MAX_PATH; size <= kLongestPath; size *= 2) {
        std::wstring path(size, L'\0');
        const DWORD length = Os().GetModuleFileNameW(nullptr, &path[0], size);
        if (length == 0)
            return std::wstring();
        if (length < size) {
            path.resize(length);
            return path;
        }
    }
    return std::wstring();
}

std::wstring ProgramFilesPath()
{
    TaskMemoryText path;
    if (FAILED(Os().SHGetKnownFolderPath(FOLDERID_ProgramFiles, KF_FLAG_DEFAULT, nullptr,
                                         path.Receive())) ||
        path.Get() == nullptr)
        return std::wstring();
    return path.Get();
}

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

ExitStatus Refuse(const char* command, const std::string& reason)
{
    WriteStderrLine(std::string(command) + ": " + reason);
    return ExitCode::BadArguments;
}

bool RefusedUnlessElevated(const char* command)
{
    if (RunsElevated())
        return false;
    Refuse(command, "the event source is the machine's: run it as an administrator "
                    "(elevated) or as SYSTEM");
    return true;
}

bool SetText(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return Os().RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               bytes) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value)
{
    return Os().RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value) == ERROR_SUCCESS;
}

LSTATUS WriteSource(const std::wstring& program)
{
    ScopedKey key;
    const LSTATUS created =
        Os().RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                             key.Receive(), nullptr);
    if (created != ERROR_SUCCESS)
        return created;
    if (!SetText(key.Get(), L"EventMessageFile", program) ||
        !SetNumber(key.Get(), L"TypesSupported",
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
        if (IsDotName(outer[i]) || !SameName(inner[i], outer[i]))
            return false;
    return true;
}

ExitStatus RunRegister()
{
    if (RefusedUnlessElevated("register"))
        return ExitCode::BadArguments;
    const std::wstring program = ProgramPath();
    const std::wstring programFiles = ProgramFilesPath();
    if (program.empty() || programFiles.empty())
        return Refuse("register", "the program's path or the Program Files folder cannot be read");
    if (!LiesUnderFolder(program, programFiles))
        return Refuse("register", Utf8(program) + " is not inside " + Utf8(programFiles) +
                                      ": install the programs there, then register that copy");
    const LSTATUS written = WriteSource(program);
    if (written != ERROR_SUCCESS) {
        WriteStderrLine("register: the event source cannot be written (error " +
                        std::to_string(written) + ")");
        return ExitCode::Failed;
    }
    WriteStderrLine("register: the event source Orvane reads its texts from " + Utf8(program));
    return ExitCode::Done;
}

ExitStatus RunUnregister()
{
    if (RefusedUnlessElevated("unregister"))
        return ExitCode::BadArguments;
    const LSTATUS removed =
        Os().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_WOW64_64KEY, 0);
    if (removed == ERROR_FILE_NOT_FOUND) {
        WriteStderrLine("unregister: there was no event source Orvane");
        return ExitCode::Done;
    }
    if (removed != ERROR_SUCCESS) {
        WriteStderrLine("unregister: the event source cannot be removed (error " +
                        std::to_string(removed) + ")");
        return ExitCode::Failed;
    }
    WriteStderrLine("unregister: the event source Orvane is removed; the journals stay");
    return ExitCode::Done;
}
