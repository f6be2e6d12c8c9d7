// What `OrvaneCli update` leaves for a deployment tool: the report's times and its file,
// and the run's event in the Application log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FakeFolders.h"
#include "FakeOs.h"
#include "ScratchDir.h"
#include "cli/Report.h"
#include "cli/RunEvent.h"
#include "cli/UpdateCommand.h"
#include "winfw/FolderRule.h"
#include "winfw/Text.h"

namespace {

TEST(Report, TimesCarryTheZoneOffsetAsItStandsNow)
{
    const struct {
        DWORD id;
        LONG bias, standardBias, daylightBias;
        const char* expected;
    } cases[] = {
        {TIME_ZONE_ID_UNKNOWN, 240, 0, 0, "2026-12-08T09:30:00-04:00"},    // no saving time
        {TIME_ZONE_ID_STANDARD, -60, 0, -60, "2026-12-08T09:30:00+01:00"},  // Paris, winter
        {TIME_ZONE_ID_DAYLIGHT, -60, 0, -60, "2026-12-08T09:30:00+02:00"},  // Paris, summer
        {TIME_ZONE_ID_UNKNOWN, -330, 0, 0, "2026-12-08T09:30:00+05:30"},
        {TIME_ZONE_ID_DAYLIGHT, 210, 0, -60, "2026-12-08T09:30:00-02:30"},  // Newfoundland
        {TIME_ZONE_ID_UNKNOWN, 0, 0, 0, "2026-12-08T09:30:00+00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        FakeOs os;
        os.zoneGiven = true;
        os.zoneId = c.id;
        os.zone.Bias = c.bias;
        os.zone.StandardBias = c.standardBias;
        os.zone.DaylightBias = c.daylightBias;
        EXPECT_EQ(IsoLocalNow(), c.expected);
    }
}

TEST(Report, ARenameBrieflyRefusedIsTriedAgainForASecond)
{
    const struct {
        const char* name;
        int heldMoves;
        DWORD error;
        bool written;
        int moves;
        DWORD waited;
    } cases[] = {
        {"free", 0, ERROR_SHARING_VIOLATION, true, 1, 0},
        {"scanned for three tries", 3, ERROR_SHARING_VIOLATION, true, 4, 750},
        {"denied while scanned", 2, ERROR_ACCESS_DENIED, true, 3, 500},
        {"held for good", 100, ERROR_SHARING_VIOLATION, false, 5, 1000},
        {"a failure no wait mends", 100, ERROR_DISK_FULL, false, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        ScratchDir dir("ovreport");
        os.heldMoves = c.heldMoves;
        os.heldError = c.error;
        UpdateReport report;
        report.result = 21;
        const std::string path = dir.Path() + "\\rapport.json";
        EXPECT_EQ(WriteReport(path, report), c.written);
        EXPECT_EQ(os.moves, c.moves);
        EXPECT_EQ(os.TotalSleep(), c.waited);
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("\"result\": 21") != std::string::npos, c.written) << text;
        // No temporary file is left beside it, written or not.
        WIN32_FIND_DATAA found = {};
        const HANDLE search = ::FindFirstFileA((dir.Path() + "\\*.tmp").c_str(), &found);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
        if (search != INVALID_HANDLE_VALUE)
            ::FindClose(search);
    }
}

// A report SYSTEM writes where a standard user of the same PC may have been first: only a
// folder that passes the folder rule is written in, and the report ends up SYSTEM's and
// Administrators' whatever was planted there.
TEST(Report, OnlyTheRunCanHaveWrittenTheReport)
{
    using Kind = FakeFolders::Kind;
    using Account = FakeFolders::Account;
    const std::wstring user = FakeFolders::kUserSid;
    const std::wstring usersOwn = L"O:" + user + L"D:(A;;FA;;;" + user + L")";
    const struct {
        const char* name;
        Account account;
        const wchar_t* folder;
        void (*arrange)(FakeFolders&, const std::wstring& folder, const std::wstring& report);
        bool refused;   // exit 2 before any run
        bool written;
    } cases[] = {
        {"a planted report is replaced", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring& report) {
             f.Put(folder, Kind::Folder, kMachineFolderSddl);
             f.Put(report, Kind::File, L"O:" + std::wstring(FakeFolders::kUserSid) + L"D:(A;;FA;;;BU)",
                   L"", "{\"result\":0}");
         }, false, true},
        {"planted temporary names are passed over", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring& report) {
             f.Put(folder, Kind::Folder, kMachineFolderSddl);
             const std::wstring planted = L"O:" + std::wstring(FakeFolders::kUserSid) + L"D:(A;;FA;;;BU)";
             f.Put(report + L".0000000000000000.tmp", Kind::File, planted, L"", "planted");
             f.Put(report + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp", Kind::File,
                   planted, L"", "planted");
         }, false, true},
        {"a planted report held open", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring& report) {
             f.Put(folder, Kind::Folder, kMachineFolderSddl);
             f.Put(report, Kind::File, L"O:" + std::wstring(FakeFolders::kUserSid) + L"D:(A;;FA;;;BU)",
                   L"", "{\"result\":0}");
             // The user's process holds it, without FILE_SHARE_DELETE, for good.
             f.account = Account::StandardUser;
             ASSERT_NE(Os().CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
             f.account = Account::LocalSystem;
         }, false, false},
        {"a folder a user made first", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring&) {
             ASSERT_TRUE(f.UserCreates(folder, Kind::Folder));
         }, true, false},
        {"a junction where the folder belongs", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring&) {
             ASSERT_TRUE(f.UserCreates(folder, Kind::Folder, L"C:\\Users\\user\\AppData\\Local"));
         }, true, false},
        {"a standard user's own folder", Account::StandardUser, L"C:\\Users\\user\\AppData\\Local",
         [](FakeFolders&, const std::wstring&, const std::wstring&) {}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        FakeFolders folders;
        folders.account = c.account;
        // Random bytes 00..., then 01..., and so on.
        static BYTE next;
        next = 0;
        Os().RandomBytes = [](void* buffer, ULONG size) {
            std::memset(buffer, next++, size);
            return true;
        };
        const std::wstring folder = c.folder;
        const std::wstring report = folder + L"\\rapport.json";
        c.arrange(folders, folder, report);
        folders.created.clear();
        folders.written.clear();
        const std::vector<std::wstring> before = folders.Names(folder);
        const auto planted = [&folders, &before, &folder] {
            std::vector<std::wstring> names;
            for (const std::wstring& name : before)
                if (name.find(L".tmp") != std::wstring::npos)
                    names.push_back(folder + L"\\" + name);
            return names;
        }();
        if (c.refused) {
            UpdateRequest request;
            request.named = {"COM8"};
            request.reportPath = WideToAnsi(report);
            EXPECT_EQ(RunUpdates(request).Code(), 2);
            EXPECT_TRUE(os.opened.empty());
            EXPECT_TRUE(folders.created.empty());
            EXPECT_TRUE(folders.written.empty());
            continue;
        }
        UpdateReport written;
        written.result = 21;
        EXPECT_EQ(WriteReport(WideToAnsi(report), written), c.written);
        EXPECT_EQ(folders.Content(report).find("\"result\": 21") != std::string::npos, c.written);
        for (const std::wstring& name : planted)
            EXPECT_EQ(folders.Content(name), "planted") << WideToAnsi(name);
        // No temporary file of the run is left, written or not.
        std::vector<std::wstring> after = folders.Names(folder);
        after.erase(std::remove(after.begin(), after.end(), L"rapport.json"), after.end());
        std::vector<std::wstring> expected = before;
        expected.erase(std::remove(expected.begin(), expected.end(), L"rapport.json"), expected.end());
        EXPECT_EQ(after, expected);
        if (!c.written)
            continue;
        const std::wstring owner = c.account == Account::LocalSystem ? L"S-1-5-32-544" : user;
        EXPECT_EQ(folders.Sddl(report).compare(0, 2 + owner.size(), L"O:" + owner), 0)
            << WideToAnsi(folders.Sddl(report));
        if (c.account == Account::LocalSystem) {
            EXPECT_EQ(folders.Sddl(report),
                      L"O:S-1-5-32-544D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)"
                      L"(A;OICI;0x1200a9;;;S-1-5-32-545)");
        }
    }
}

TEST(RunEvent, EachResultHasItsTypeAndId)
{
    // Warnings for what the administrator's table says to retry later; errors for what
    // needs a person.
    const WORD info = EVENTLOG_INFORMATION_TYPE, warn = EVENTLOG_WARNING_TYPE,
               error = EVENTLOG_ERROR_TYPE;
    const WORD expected[] = {
        info,                                                   // 0
        warn,                                                   // 1 no reader's port
        error, error, error, error, error,                      // 2 to 6
        error, error, error, error, error, error,               // 7 to 12
        error, error, error, error, error, error,               // 13 to 18
        error, error,                                           // 19, 20
        warn, warn, warn,                                       // 21 to 23
        error,                                                  // 24
    };
    for (int result = 0; result < static_cast<int>(sizeof expected / sizeof expected[0]); ++result) {
        SCOPED_TRACE(result);
        FakeOs os;
        PortRun run;
        run.port = "COM5";
        run.result = static_cast<RunResult>(result);
        WriteRunEvent(run);
        ASSERT_EQ(os.events.size(), 1u);
        EXPECT_EQ(os.events[0].type, expected[result]);
        EXPECT_EQ(os.events[0].id, 1000u + static_cast<DWORD>(result));
        EXPECT_EQ(os.openEventSources, 0);
    }
}

TEST(RunEvent, TheEventIsWrittenWhetherOrNotTheSourceCanBeRegistered)
{
    wchar_t program[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    for (const bool system : {false, true}) {
        SCOPED_TRACE(system ? "LocalSystem" : "a standard user");
        FakeOs os;
        os.localSystem = system;
        PortRun run;
        run.port = "COM7";
        run.result = RUN_SUCCEEDED;
        run.message = "La mise à jour s'est effectuée avec succès";
        run.record.model = "M30";
        run.record.journal = "C:\\ProgramData\\Orvane\\Journal\\20261208-093000-COM7.log";
        WriteRunEvent(run);
        ASSERT_EQ(os.events.size(), 1u);
        EXPECT_EQ(os.events[0].strings,
                  (std::vector<std::wstring>{
                      L"COM7", L"M30", L"0", L"La mise à jour s'est effectuée avec succès",
                      L"C:\\ProgramData\\Orvane\\Journal\\20261208-093000-COM7.log"}));
        EXPECT_EQ(os.openKeys, 0);
        if (!system) {
            // Refused the machine's key: nothing registered, the event written all the same.
            EXPECT_TRUE(os.machineValues.empty());
            continue;
        }
        const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvane";
        EXPECT_EQ(os.machineKey, key);
        const FakeOs::Value& file = os.machineValues[{key, L"EventMessageFile"}];
        EXPECT_EQ(file.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(file.data.data())), program);
        const FakeOs::Value& types = os.machineValues[{key, L"TypesSupported"}];
        ASSERT_EQ(types.data.size(), sizeof(DWORD));
        EXPECT_EQ(*reinterpret_cast<const DWORD*>(types.data.data()),
                  static_cast<DWORD>(EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                                     EVENTLOG_INFORMATION_TYPE));
    }
}

} // namespace
