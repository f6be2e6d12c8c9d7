// Our framework layer for real under Wine: how its windows end, how a handler's failure
// is contained, how a message map matches.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <sddl.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "winfw/Dialog.h"
#include "winfw/FolderRule.h"
#include "winfw/OsSeam.h"
#include "winfw/Sha256.h"
#include "winfw/SystemLibrary.h"
#include "winfw/Text.h"
#include "winfw/TimerResolution.h"
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

// ---- the modal loop, handlers that throw, the message map ----

constexpr UINT_PTR kEndTimer = 1;
constexpr int kQuitCode = 7;

// Any dialog template of the test program serves.
class TimedDialog : public CDialog {
public:
    explicit TimedDialog(bool mayLeave) : CDialog(IDD_CHARGEMENT, nullptr), m_mayLeave(mayLeave) {}
    bool ended = false;

private:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        ::PostQuitMessage(kQuitCode);
        ::SetTimer(m_hWnd, kEndTimer, 50, nullptr);
        return TRUE;
    }
    bool MayLeaveBeforeEnd() const override { return m_mayLeave; }
    bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override
    {
        using Entry = MessageEntry<TimedDialog>;
        static constexpr Entry kEntries[] = {Entry::Timer(kEndTimer, &TimedDialog::OnEnd)};
        return DispatchMessageMap(this, kEntries, message, w, l, result);
    }
    LRESULT OnEnd(WPARAM, LPARAM)
    {
        ended = true;
        EndDialog(42);
        return 0;
    }

    bool m_mayLeave;
};

TEST(Dialog, OnlyEndDialogEndsTheLoopOfADialogThatMustOutliveItsWork)
{
    const struct {
        const char* name;
        bool mayLeave;
        INT_PTR result;
        bool ended;
    } cases[] = {
        {"may leave: the quit ends it", true, -1, false},
        {"must outlive: the quit waits for EndDialog", false, 42, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TimedDialog dialog(c.mayLeave);
        EXPECT_EQ(dialog.DoModal(), c.result);
        EXPECT_EQ(dialog.ended, c.ended);
        // Either way the quit is handed back to the loop outside.
        MSG msg = {};
        ASSERT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, static_cast<WPARAM>(kQuitCode));
    }
}

constexpr UINT kThrow = WM_APP;
constexpr UINT kAnswer = WM_APP + 1;

// The same two handlers in a dialog and in a window of ours: one throws, one answers.
template <class Base>
class Thrower : public Base {
public:
    using Base::Base;

protected:
    bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override
    {
        using Entry = MessageEntry<Thrower>;
        static constexpr Entry kEntries[] = {
            Entry::Message(kThrow, &Thrower::OnThrow),
            Entry::Message(kAnswer, &Thrower::OnAnswer),
        };
        return DispatchMessageMap(this, kEntries, message, w, l, result);
    }
    LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
    virtual LRESULT OnAnswer(WPARAM, LPARAM) = 0;
};

class ThrowingDialog : public Thrower<CDialog> {
public:
    ThrowingDialog() : Thrower<CDialog>(IDD_CHARGEMENT, nullptr) {}

private:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        PostMessageA(kThrow);
        PostMessageA(kAnswer);
        return TRUE;
    }
    LRESULT OnAnswer(WPARAM, LPARAM) override
    {
        EndDialog(9);
        return 0;
    }
};

class ThrowingWindow : public Thrower<CWindowImpl> {
public:
    bool Make(const char* className) { return CreateEx(0, className, "", WS_POPUP, 0, 0, 10, 10, nullptr); }

private:
    LRESULT OnAnswer(WPARAM, LPARAM) override { return 9; }
};

std::vector<std::string> g_lines;
void WINAPI RecordLine(LPCSTR line) { g_lines.push_back(line); }

TEST(WindowProcedure, AHandlerThatThrowsLeavesTheMessageToTheDefaultAndTheWindowGoesOn)
{
    constexpr char kThrowerClass[] = "OvThrowingWindow";
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CWindowImpl::Procedure();
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kThrowerClass;
    ASSERT_NE(::RegisterClassExA(&windowClass), 0);

    const struct {
        const char* name;
        std::function<LRESULT()> run; // the next handler's answer, once the throw is past
    } cases[] = {
        {"dialog", [] { return static_cast<LRESULT>(ThrowingDialog().DoModal()); }},
        {"window", [&] {
             ThrowingWindow window;
             if (!window.Make(kThrowerClass))
                 return LRESULT{-1};
             EXPECT_EQ(window.SendMessageA(kThrow), 0); // DefWindowProc's answer
             return window.SendMessageA(kAnswer);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OsCalls calls = RealOsCalls();
        calls.OutputDebugStringA = RecordLine;
        ScopedOsCalls swap(calls);
        g_lines.clear();
        EXPECT_EQ(c.run(), 9);
        EXPECT_EQ(g_lines, std::vector<std::string>{
                               "Erreur inattendue dans le traitement du message " + std::to_string(kThrow)});
    }
    ::UnregisterClassA(kThrowerClass, ::GetModuleHandleA(nullptr));
}

struct CommandTarget {
    int calls = 0;
    LRESULT OnStart(WPARAM, LPARAM)
    {
        ++calls;
        return 5;
    }
};

TEST(MessageMap, ACommandEntryTakesItsControlAndNotificationOnly)
{
    constexpr int kControl = 1001;
    using Entry = MessageEntry<CommandTarget>;
    static constexpr Entry kEntries[] = {Entry::Command(kControl, BN_CLICKED, &CommandTarget::OnStart)};
    const struct {
        const char* name;
        UINT message;
        WPARAM w;
        bool taken;
    } cases[] = {
        {"its control and notification", WM_COMMAND, MAKEWPARAM(kControl, BN_CLICKED), true},
        {"another notification", WM_COMMAND, MAKEWPARAM(kControl, BN_DOUBLECLICKED), false},
        {"another control", WM_COMMAND, MAKEWPARAM(kControl + 1, BN_CLICKED), false},
        {"another message", WM_NOTIFY, MAKEWPARAM(kControl, BN_CLICKED), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandTarget target;
        LRESULT result = 0;
        EXPECT_EQ(DispatchMessageMap(&target, kEntries, c.message, c.w, 0, result), c.taken);
        EXPECT_EQ(target.calls, c.taken ? 1 : 0);
        EXPECT_EQ(result, c.taken ? 5 : 0);
    }
}

// ---- the library loader, the process's DLL search and the timer ----

// A Windows whose loader, kernel32 and winmm answer through recorders, each export present
// or not.
struct SystemDouble {
    bool hasSetDefaultDllDirectories = true;
    BOOL setDefaultResult = TRUE;
    bool hasSetProcessInformation = true;
    DWORD loadError = 0;        // what a load with search flags fails with; 0: it succeeds
    std::wstring program = L"C:\\Lecteur\\Orvane.exe";
    std::vector<std::string> calls; // every call, with its arguments, in order
};
SystemDouble g_system;
HMODULE const kWinmm = reinterpret_cast<HMODULE>(0x30000);

HMODULE WINAPI SystemLoad(LPCSTR name, HANDLE, DWORD flags)
{
    g_system.calls.push_back("load " + std::string(name) + " " + std::to_string(flags));
    if (flags != 0 && g_system.loadError != 0) {
        ::SetLastError(g_system.loadError);
        return nullptr;
    }
    return kWinmm;
}

DWORD WINAPI ProgramPath(HMODULE, LPWSTR buffer, DWORD size)
{
    if (size <= g_system.program.size())
        return 0;
    g_system.program.copy(buffer, g_system.program.size());
    buffer[g_system.program.size()] = L'\0';
    return static_cast<DWORD>(g_system.program.size());
}

BOOL WINAPI SystemFree(HMODULE module)
{
    g_system.calls.push_back(module == kWinmm ? "free winmm" : "free other");
    return TRUE;
}

UINT WINAPI SystemDirectory(LPSTR buffer, UINT size)
{
    const std::string path = "C:\\windows\\system32";
    if (size <= path.size())
        return static_cast<UINT>(path.size() + 1);
    path.copy(buffer, path.size());
    buffer[path.size()] = '\0';
    return static_cast<UINT>(path.size());
}

BOOL WINAPI SetDllDirectoryRecord(LPCSTR path)
{
    g_system.calls.push_back("SetDllDirectoryA '" + std::string(path ? path : "null") + "'");
    return TRUE;
}

BOOL WINAPI SetDefaultDllDirectoriesRecord(DWORD flags)
{
    g_system.calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
    return g_system.setDefaultResult;
}

BOOL WINAPI SetProcessInformationRecord(HANDLE process, PROCESS_INFORMATION_CLASS kind, LPVOID data,
                                        DWORD size)
{
    const auto* state = static_cast<const PROCESS_POWER_THROTTLING_STATE*>(data);
    g_system.calls.push_back(
        "SetProcessInformation " + std::string(process == ::GetCurrentProcess() ? "self" : "other") +
        " " + std::to_string(kind) + " size " + std::to_string(size) + " version " +
        std::to_string(state->Version) + " control " + std::to_string(state->ControlMask) +
        " state " + std::to_string(state->StateMask));
    return TRUE;
}

MMRESULT WINAPI BeginPeriodRecord(UINT ms)
{
    g_system.calls.push_back("timeBeginPeriod " + std::to_string(ms));
    return TIMERR_NOERROR;
}

MMRESULT WINAPI EndPeriodRecord(UINT ms)
{
    g_system.calls.push_back("timeEndPeriod " + std::to_string(ms));
    return TIMERR_NOERROR;
}

template <typename Fn>
FARPROC Export(Fn fn)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fn));
}

FARPROC WINAPI SystemExport(HMODULE module, LPCSTR name)
{
    const std::string export_ = name;
    if (module == kWinmm && export_ == "timeBeginPeriod")
        return Export(BeginPeriodRecord);
    if (module == kWinmm && export_ == "timeEndPeriod")
        return Export(EndPeriodRecord);
    return nullptr;
}

OsCalls SystemCalls()
{
    OsCalls calls = RealOsCalls();
    calls.GetModuleFileNameW = ProgramPath;
    calls.LoadLibraryExA = SystemLoad;
    calls.FreeLibrary = SystemFree;
    calls.GetSystemDirectoryA = SystemDirectory;
    calls.SetDllDirectoryA = SetDllDirectoryRecord;
    calls.GetProcAddress = SystemExport;
    calls.SetDefaultDllDirectories =
        g_system.hasSetDefaultDllDirectories ? SetDefaultDllDirectoriesRecord : nullptr;
    calls.SetProcessInformation =
        g_system.hasSetProcessInformation ? SetProcessInformationRecord : nullptr;
    return calls;
}

TEST(OsSeam, LibraryIsLoadedByFullPathOnlyWhereSearchFlagsAreRefused)
{
    const std::string flagged = "load Tessock.dll 2560"; // the program's folder and System32
    const struct {
        const char* name;
        DWORD searchFlagsError;
        std::vector<std::string> attempts;
        bool loaded;
        const wchar_t* program = L"C:\\Lecteur\\Orvane.exe";
    } cases[] = {
        {"flags understood", 0, {flagged}, true},
        {"flags refused", ERROR_INVALID_PARAMETER, {flagged, "load C:\\Lecteur\\Tessock.dll 0"}, true},
        {"library absent", ERROR_MOD_NOT_FOUND, {flagged}, false},
        // A folder no ANSI code page holds: never the best-fitted C:\Users\?ukasz.
        {"folder out of the code page", ERROR_INVALID_PARAMETER, {flagged}, false,
         L"C:\\Users\\\u0141\u0101\u0448\u4e00\\Orvane.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_system = SystemDouble();
        g_system.loadError = c.searchFlagsError;
        g_system.program = c.program;
        ScopedOsCalls swap(SystemCalls());
        EXPECT_EQ(LoadBesideProgram("Tessock.dll") != nullptr, c.loaded);
        EXPECT_EQ(g_system.calls, c.attempts);
    }
}

TEST(DllSearch, TheProcessSearchesTheSystemDirectoryOnlyOrAtLeastNotTheCurrentOne)
{
    const struct {
        const char* name;
        bool present;
        BOOL result;
        std::vector<std::string> calls;
    } cases[] = {
        {"Windows 8 and later", true, TRUE, {"SetDefaultDllDirectories 2048"}},
        {"Windows 7 without the update", false, TRUE, {"SetDllDirectoryA ''"}},
        {"refused", true, FALSE, {"SetDefaultDllDirectories 2048", "SetDllDirectoryA ''"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_system = SystemDouble();
        g_system.hasSetDefaultDllDirectories = c.present;
        g_system.setDefaultResult = c.result;
        ScopedOsCalls swap(SystemCalls());
        RestrictDllSearchToSystem32();
        EXPECT_EQ(g_system.calls, c.calls);
    }
}

TEST(TimerResolution, KeptWhenHiddenWhereWindowsCanAndWinmmComesFromTheSystemDirectory)
{
    const std::string keep = "SetProcessInformation self 4 size 12 version 1 control 4 state 0";
    const struct {
        const char* name;
        bool hasSetProcessInformation;
        DWORD loadError;
        bool raised;
        std::vector<std::string> calls;
    } cases[] = {
        {"Windows 11", true, 0, true,
         {"load winmm.dll 2048", keep, "timeBeginPeriod 1", "timeEndPeriod 1", "free winmm"}},
        {"before Windows 11", false, 0, true,
         {"load winmm.dll 2048", "timeBeginPeriod 1", "timeEndPeriod 1", "free winmm"}},
        {"search flags refused", false, ERROR_INVALID_PARAMETER, true,
         {"load winmm.dll 2048", "load C:\\windows\\system32\\winmm.dll 0", "timeBeginPeriod 1",
          "timeEndPeriod 1", "free winmm"}},
        {"winmm missing", true, ERROR_MOD_NOT_FOUND, false, {"load winmm.dll 2048", keep}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_system = SystemDouble();
        g_system.hasSetProcessInformation = c.hasSetProcessInformation;
        g_system.loadError = c.loadError;
        ScopedOsCalls swap(SystemCalls());
        {
            TimerResolution resolution;
            EXPECT_EQ(resolution.Raised(), c.raised);
        }
        EXPECT_EQ(g_system.calls, c.calls);
    }
}

// The system's SHA-256, against the published test vectors (FIPS 180-2 appendix B).
TEST(Sha256, SystemProviderGivesThePublishedDigests)
{
    const std::string million(1000000, 'a');
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 8));
        std::string hex = "unchanged";
        ASSERT_TRUE(Sha256Hex(reinterpret_cast<const std::uint8_t*>(c.input.data()),
                              c.input.size(), &hex));
        EXPECT_EQ(hex, c.digest);
    }
}

// ---- text for the A calls ----

TEST(Text, AWideTextTheCodePageCannotHoldIsRefusedNotFittedToAnotherName)
{
    const struct {
        const wchar_t* text;
        unsigned int codePage;
        bool held;
        const char* bytes;  // what the code page holds when it does
    } cases[] = {
        {L"C:\\Paquets\\Mise a jour", 1252, true, "C:\\Paquets\\Mise a jour"},
        {L"C:\\Donn\u00e9es\\\u00e9t\u00e9 \u00e7a", 1252, true, "C:\\Donn\xe9" "es\\\xe9t\xe9 \xe7" "a"},
        {L"", 1252, true, ""},
        // Best fits that would name another folder: L, "/", "\\".
        {L"C:\\Users\\\u0141ukasz", 1252, false, ""},
        {L"C:\\Users\u2215x", 1252, false, ""},
        {L"C:\\Users\uff3cx", 1252, false, ""},
        {L"\u0141ukasz", 850, false, ""},
        // A UTF-8 code page holds every character, but no lone surrogate.
        {L"C:\\Users\\\u0141ukasz", CP_UTF8, true, "C:\\Users\\\xc5\x81ukasz"},
        {L"C:\\Users\\\xd800x", CP_UTF8, false, ""},
    };
    for (const auto& c : cases) {
        std::string out = "left over";
        EXPECT_EQ(WideToCodePage(c.text, c.codePage, out), c.held)
            << c.codePage << " " << out;
        EXPECT_EQ(out, c.bytes) << c.codePage;
    }
}

} // namespace

// The rule for folders a privileged run writes in, over security descriptors written as
// Windows gives them: what ProgramData hands down to a folder created without one, what a
// user who creates the folder first gets, and what the program gives its own folders.
TEST(FolderRule, OnlyTrustedOwnersAndNoWriteForOthersPass)
{
    const wchar_t* user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    struct Case {
        const wchar_t* sddl;
        bool userProfile;  // judged as that user's own folder
        FolderFault expected;
    } cases[] = {
        {kMachineFolderSddl, false, FolderFault::Sound},
        // Created under ProgramData with no descriptor: Users may add files and folders.
        {L"O:SYD:(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
         L"(A;CIID;0x100116;;;BU)",
         false, FolderFault::OthersMayWrite},
        // Created first by a standard user.
        {L"O:S-1-5-21-1004336348-1177238915-682003330-1001D:P(A;OICI;FA;;;SY)", false,
         FolderFault::UntrustedOwner},
        {L"O:S-1-5-21-1004336348-1177238915-682003330-1001D:P(A;OICI;FA;;;SY)"
         L"(A;OICI;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)",
         true, FolderFault::Sound},
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;;FA;;;SY)",
         false, FolderFault::Sound},
        // Generic write, mapped for files, is write.
        {L"O:BAD:P(A;;GW;;;BU)", false, FolderFault::OthersMayWrite},
        {L"O:BAD:P(A;;GRGX;;;BU)(D;;FA;;;WD)", false, FolderFault::Sound},
        // Delete-child alone lets another account remove and replace what is inside.
        {L"O:BAD:P(A;;0x1200e9;;;AU)", false, FolderFault::OthersMayWrite},
        {L"O:BAD:P(A;OICIIO;FA;;;CO)", false, FolderFault::Sound},
        {L"O:BAD:P(A;;FA;;;CO)", false, FolderFault::OthersMayWrite},
    };
    PSID userSid = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(user, &userSid));
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            c.sddl, SDDL_REVISION_1, &descriptor, nullptr))
            << std::wstring(c.sddl).size();
        EXPECT_EQ(JudgeDescriptor(descriptor, c.userProfile ? userSid : nullptr), c.expected)
            << "case " << (&c - cases);
        ::LocalFree(descriptor);
    }
    ::LocalFree(userSid);

    // A NULL DACL, and an entry the rule cannot read (a callback entry, laid out as an allow).
    PSID admins = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(L"BA", &admins));
    EXPECT_EQ(JudgeSecurity(admins, nullptr, TRUE, nullptr), FolderFault::NoDacl);
    DWORD cells[64] = {};
    PACL acl = reinterpret_cast<PACL>(cells);
    ASSERT_TRUE(::InitializeAcl(acl, sizeof cells, ACL_REVISION));
    ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, admins));
    void* entry = nullptr;
    ASSERT_TRUE(::GetAce(acl, 0, &entry));
    EXPECT_EQ(JudgeSecurity(admins, acl, TRUE, nullptr), FolderFault::Sound);
    static_cast<ACE_HEADER*>(entry)->AceType = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    EXPECT_EQ(JudgeSecurity(admins, acl, TRUE, nullptr), FolderFault::UnknownAce);
    ::LocalFree(admins);
}
