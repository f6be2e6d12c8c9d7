// Our framework layer for real under Wine: how its windows end.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "winfw/OsSeam.h"
#include "winfw/WindowImpl.h"

namespace {

constexpr char kClassName[] = "OvTestWindow";

// A window whose creation is refused at WM_CREATE when asked, counting its ends.
class Probe : public CWindowImpl {
public:
    Probe(bool refuseCreate, int& ends) : m_refuse(refuseCreate), m_ends(ends) {}
    bool Make(const char* className)
    {
        return CreateEx(0, className, "", WS_POPUP, 0, 0, 10, 10, nullptr);
    }

private:
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override
    {
        if (message != WM_CREATE || !m_refuse)
            return false;
        result = -1;
        return true;
    }
    void PostNcDestroy() override { ++m_ends; }

    bool m_refuse;
    int& m_ends;
};

TEST(WindowImpl, FailedCreationEndsTheObjectExactlyOnce)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CWindowImpl::Procedure();
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    ASSERT_NE(::RegisterClassExA(&windowClass), 0);

    const struct {
        const char* name;
        bool refuse;
        const char* className;
    } cases[] = {
        {"refused after WM_NCCREATE", true, kClassName},
        {"class unknown", false, "OvNoSuchClass"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int ends = 0;
        Probe probe(c.refuse, ends);
        EXPECT_FALSE(probe.Make(c.className));
        EXPECT_EQ(ends, 1);
    }
    int ends = 0;
    {
        Probe made(false, ends);
        ASSERT_TRUE(made.Make(kClassName));
        EXPECT_EQ(ends, 0);
        ::DestroyWindow(made.GetSafeHwnd());
    }
    EXPECT_EQ(ends, 1);
    ::UnregisterClassA(kClassName, ::GetModuleHandleA(nullptr));
}

// ---- the library loader behind the seam ----

struct LoadAttempt {
    std::string name;
    DWORD flags;
};
std::vector<LoadAttempt> g_attempts;
DWORD g_searchFlagsError = 0; // what a load with search flags fails with; 0: it succeeds
HMODULE const kLoaded = reinterpret_cast<HMODULE>(0x10000);

HMODULE WINAPI RecordLoad(LPCSTR name, HANDLE, DWORD flags)
{
    g_attempts.push_back({name, flags});
    if (flags != 0 && g_searchFlagsError != 0) {
        ::SetLastError(g_searchFlagsError);
        return nullptr;
    }
    return kLoaded;
}

DWORD WINAPI ProgramPath(HMODULE, LPSTR buffer, DWORD size)
{
    const std::string path = "C:\\Lecteur\\Orvane.exe";
    if (size <= path.size())
        return 0;
    path.copy(buffer, path.size());
    buffer[path.size()] = '\0';
    return static_cast<DWORD>(path.size());
}

TEST(OsSeam, LibraryIsLoadedByFullPathOnlyWhereSearchFlagsAreRefused)
{
    const struct {
        const char* name;
        DWORD searchFlagsError;
        std::vector<std::string> attempts;
        bool loaded;
    } cases[] = {
        {"flags understood", 0, {"Tessock.dll"}, true},
        {"flags refused", ERROR_INVALID_PARAMETER,
         {"Tessock.dll", "C:\\Lecteur\\Tessock.dll"}, true},
        {"library absent", ERROR_MOD_NOT_FOUND, {"Tessock.dll"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OsCalls calls = RealOsCalls();
        calls.LoadLibraryExA = RecordLoad;
        calls.GetModuleFileNameA = ProgramPath;
        ScopedOsCalls swap(calls);
        g_attempts.clear();
        g_searchFlagsError = c.searchFlagsError;
        EXPECT_EQ(Os().LoadLibraryA("Tessock.dll") != nullptr, c.loaded);
        std::vector<std::string> names;
        for (const LoadAttempt& a : g_attempts)
            names.push_back(a.name);
        EXPECT_EQ(names, c.attempts);
        EXPECT_NE(g_attempts.front().flags, 0u); // the first load never searches the defaults
    }
}

} // namespace
