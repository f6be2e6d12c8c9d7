#include "FakeRegistry.h"

#include <algorithm>
#include <cstring>

namespace {

HKEY const kMachineKey = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x7FFE0001));
HANDLE const kEventSource = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFD0001));
HANDLE const kToken = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFB0001));

// The path a key of HKLM has in the view asked for (learn.microsoft.com, "Accessing an
// Alternate Registry View"): KEY_WOW64_32KEY, or a 32-bit process that does not ask for
// KEY_WOW64_64KEY, reaches SOFTWARE through WOW6432Node; both flags at once are refused.
std::wstring InView(const std::wstring& path, REGSAM access, bool wow64)
{
    const std::wstring software = L"SOFTWARE\\";
    const bool view32 =
        (access & KEY_WOW64_32KEY) != 0 || (wow64 && (access & KEY_WOW64_64KEY) == 0);
    if (!view32 || _wcsnicmp(path.c_str(), software.c_str(), software.size()) != 0)
        return path;
    return software + L"WOW6432Node\\" + path.substr(software.size());
}

// Only an elevated administrator or LocalSystem may change the machine's services or
// SOFTWARE, whose default access lists let Users read only.
bool Admitted()
{
    const FakeIdentity& who = FakeIdentity::Current();
    return who.localSystem || who.elevated;
}

// The token's user as Windows gives it: the size first, then the SID after the structure.
BOOL UserOfToken(bool system, LPVOID buffer, DWORD size, PDWORD needed)
{
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sid;
    // A standard user: S-1-5-21-1-2-3-1001.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID user = nullptr;
    if (system)
        ::CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &sidSize);
    else if (::AllocateAndInitializeSid(&nt, 5, SECURITY_NT_NON_UNIQUE, 1, 2, 3, 1001, 0, 0, 0,
                                        &user)) {
        sidSize = ::GetLengthSid(user);
        ::CopySid(sidSize, sid, user);
        ::FreeSid(user);
    }
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER)) + sidSize;
    if (buffer == nullptr || size < *needed)
        return Refuse(ERROR_INSUFFICIENT_BUFFER);
    auto* out = static_cast<TOKEN_USER*>(buffer);
    BYTE* sidCopy = static_cast<BYTE*>(buffer) + sizeof(TOKEN_USER);
    std::memcpy(sidCopy, sid, sidSize);
    out->User.Sid = sidCopy;
    out->User.Attributes = 0;
    return TRUE;
}

} // namespace

FakeIdentity::FakeIdentity()
{
    using Self = FakeIdentity;
    OsCalls calls = Below();
    calls.OpenProcessToken = [](HANDLE, DWORD, PHANDLE token) -> BOOL {
        *token = kToken;
        return TRUE;
    };
    calls.CloseHandle = [](HANDLE h) { return h == kToken ? TRUE : Current().Below().CloseHandle(h); };
    calls.CoTaskMemFree = RealOsCalls().CoTaskMemFree;
    calls.GetTokenInformation = Entry([](Self& i, HANDLE, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                                         DWORD size, PDWORD needed) {
        if (kind == TokenUser)
            return UserOfToken(i.localSystem, buffer, size, needed);
        if (kind != TokenElevation)
            return Refuse(ERROR_INVALID_PARAMETER);
        *needed = sizeof(TOKEN_ELEVATION);
        if (buffer == nullptr || size < sizeof(TOKEN_ELEVATION))
            return Refuse(ERROR_INSUFFICIENT_BUFFER);
        static_cast<TOKEN_ELEVATION*>(buffer)->TokenIsElevated = i.elevated || i.localSystem;
        return TRUE;
    });
    calls.SHGetKnownFolderPath = Entry([](Self& i, REFKNOWNFOLDERID folder, DWORD flags, HANDLE token,
                                          PWSTR* path) {
        const std::string& given = IsEqualGUID(folder, FOLDERID_ProgramData)    ? i.programData
                                   : IsEqualGUID(folder, FOLDERID_LocalAppData) ? i.localAppData
                                   : IsEqualGUID(folder, FOLDERID_ProgramFiles) ? i.programFiles
                                                                                : std::string();
        if (given.empty())
            return RealOsCalls().SHGetKnownFolderPath(folder, flags, token, path);
        const std::wstring wide(given.begin(), given.end());
        *path = static_cast<PWSTR>(::CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
        if (*path == nullptr)
            return E_OUTOFMEMORY;
        std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, *path);
        return S_OK;
    });
    Os() = calls;
}

FakeRegistry::FakeRegistry()
{
    using Self = FakeRegistry;
    OsCalls calls = Below();
    calls.RegCreateKeyExW = Entry([](Self& r, HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                                     LPSECURITY_ATTRIBUTES, PHKEY key, LPDWORD) -> LSTATUS {
        constexpr REGSAM kBothViews = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
        if (root != HKEY_LOCAL_MACHINE || subKey == nullptr || (access & kBothViews) == kBothViews)
            return ERROR_INVALID_PARAMETER;
        if (!Admitted())
            return ERROR_ACCESS_DENIED;
        r.machineKeyAccess = access;
        ++r.openKeys;
        // A handle no open key holds, as Windows may give a closed one again.
        std::intptr_t handle = reinterpret_cast<std::intptr_t>(kMachineKey);
        while (r.m_keyPaths.count(reinterpret_cast<HKEY>(handle)) != 0)
            ++handle;
        *key = reinterpret_cast<HKEY>(handle);
        r.m_keyPaths[*key] = InView(subKey, access, r.wow64);
        return ERROR_SUCCESS;
    });
    calls.RegSetValueExW = Entry([](Self& r, HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                                    DWORD size) -> LSTATUS {
        const auto open = r.m_keyPaths.find(key);
        if (open == r.m_keyPaths.end())
            return ERROR_INVALID_HANDLE;
        if (r.machineWriteError != ERROR_SUCCESS)
            return r.machineWriteError;
        r.machineValues[{open->second, name != nullptr ? name : L""}] = {type, std::vector<BYTE>(data, data + size)};
        return ERROR_SUCCESS;
    });
    calls.RegCloseKey = Entry([](Self& r, HKEY key) -> LSTATUS {
        if (r.m_keyPaths.erase(key) == 0)
            return ERROR_INVALID_HANDLE;
        --r.openKeys;
        return ERROR_SUCCESS;
    });
    // Refused to a standard user; ERROR_FILE_NOT_FOUND for a key that holds no value here.
    calls.RegDeleteKeyExW = Entry([](Self& r, HKEY root, LPCWSTR subKey, REGSAM, DWORD) -> LSTATUS {
        if (root != HKEY_LOCAL_MACHINE || subKey == nullptr)
            return ERROR_INVALID_PARAMETER;
        if (!Admitted())
            return ERROR_ACCESS_DENIED;
        const std::size_t before = r.machineValues.size();
        for (auto it = r.machineValues.begin(); it != r.machineValues.end();)
            it = it->first.first == subKey ? r.machineValues.erase(it) : std::next(it);
        return r.machineValues.size() == before ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
    // Windows writes to the Application log under a source nobody registered.
    calls.RegisterEventSourceW = Entry([](Self& r, LPCWSTR server, LPCWSTR source) -> HANDLE {
        if (server != nullptr || source == nullptr) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        ++r.openEventSources;
        return kEventSource;
    });
    calls.ReportEventW = Entry([](Self& r, HANDLE source, WORD type, WORD, DWORD id, PSID, WORD count, DWORD,
                                  LPCWSTR* strings, LPVOID) {
        if (source != kEventSource || (count > 0 && strings == nullptr))
            return Refuse(ERROR_INVALID_PARAMETER);
        Event event{type, id, {}};
        for (WORD i = 0; i < count; ++i)
            event.strings.emplace_back(strings[i] != nullptr ? strings[i] : L"");
        r.events.push_back(event);
        return TRUE;
    });
    calls.DeregisterEventSource = Entry([](Self& r, HANDLE source) {
        if (source != kEventSource)
            return Refuse(ERROR_INVALID_HANDLE);
        --r.openEventSources;
        return TRUE;
    });
    Os() = calls;
}
