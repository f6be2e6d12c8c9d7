#include "KnownPlaces.h"

#include <vector>

#include "Handle.h"
#include "OsSeam.h"

namespace {

// A path from SHGetKnownFolderPath, freed whether the call succeeded or not, as its
// documentation asks.
struct TaskMemory : NullIsEmpty<PWSTR> {
    static void Close(PWSTR text) { Os().CoTaskMemFree(text); }
};

// A token's user, far larger than any SID can make it.
constexpr DWORD kMostTokenUserBytes = 1024;

} // namespace

RunningAccount CurrentAccount()
{
    RunningAccount account;
    HANDLE opened = nullptr;
    if (!Os().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return account;
    ScopedHandle token(opened);
    DWORD needed = 0;
    Os().GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
    if (needed < sizeof(TOKEN_USER) || needed > kMostTokenUserBytes)
        return account;
    // DWORD-sized cells keep the SID inside aligned as the structure wants.
    std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    if (!Os().GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &needed))
        return account;
    const TOKEN_USER* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    if (user->User.Sid == nullptr || !::IsValidSid(user->User.Sid))
        return account;
    const DWORD sidSize = ::GetLengthSid(user->User.Sid);
    account.sid.assign((sidSize + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    ::CopySid(sidSize, account.sid.data(), user->User.Sid);
    account.localSystem = ::IsWellKnownSid(account.Sid(), WinLocalSystemSid) != FALSE;
    TOKEN_ELEVATION elevation = {};
    account.elevated = Os().GetTokenInformation(token.Get(), TokenElevation, &elevation,
                                                sizeof elevation, &needed) &&
                       elevation.TokenIsElevated != 0;
    return account;
}

bool RunsAsLocalSystem() { return CurrentAccount().localSystem; }

std::wstring KnownFolderWidePath(REFKNOWNFOLDERID folder)
{
    Owned<PWSTR, TaskMemory> path;
    if (FAILED(Os().SHGetKnownFolderPath(folder, KF_FLAG_DEFAULT, nullptr, path.Receive())) ||
        path.Get() == nullptr)
        return std::wstring();
    return path.Get();
}

bool RunsElevated()
{
    const RunningAccount account = CurrentAccount();
    return account.localSystem || account.elevated;
}

std::wstring RunningProgramPath()
{
    // The longest path GetModuleFileNameW can give.
    constexpr DWORD kLongestPath = 32768;
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
