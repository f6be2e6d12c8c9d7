#include "KnownPlaces.h"

#include <vector>

#include "Handle.h"
#include "OsSeam.h"
#include "Text.h"

namespace {

// A path from SHGetKnownFolderPath, freed whether the call succeeded or not, as its
// documentation asks.
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

// A token's user, far larger than any SID can make it.
constexpr DWORD kMostTokenUserBytes = 1024;

} // namespace

bool RunsAsLocalSystem()
{
    HANDLE opened = nullptr;
    if (!Os().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return false;
    ScopedHandle token(opened);
    DWORD needed = 0;
    Os().GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed);
    if (needed < sizeof(TOKEN_USER) || needed > kMostTokenUserBytes)
        return false;
    // DWORD-sized cells keep the SID inside aligned as the structure wants.
    std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    if (!Os().GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &needed))
        return false;
    const TOKEN_USER* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    return user->User.Sid != nullptr && ::IsValidSid(user->User.Sid) &&
           ::IsWellKnownSid(user->User.Sid, WinLocalSystemSid);
}

bool RunsElevated()
{
    if (RunsAsLocalSystem())
        return true;
    HANDLE opened = nullptr;
    if (!Os().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return false;
    ScopedHandle token(opened);
    TOKEN_ELEVATION elevation = {};
    DWORD needed = 0;
    return Os().GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation,
                                    &needed) &&
           elevation.TokenIsElevated != 0;
}

std::string KnownFolderPath(REFKNOWNFOLDERID folder)
{
    TaskMemoryText path;
    if (FAILED(Os().SHGetKnownFolderPath(folder, KF_FLAG_DEFAULT, nullptr, path.Receive())) ||
        path.Get() == nullptr)
        return std::string();
    return WideToAnsi(path.Get());
}
