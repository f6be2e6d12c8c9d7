// What `OrvaneCli update` leaves for a deployment tool: the report's times and its file,
// and the run's event in the Application log.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "ScratchDir.h"
#include "cli/Registration.h"
#include "cli/Report.h"
#include "cli/RunEvent.h"
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

// Whoever runs it, a run leaves the source's key as the administrator's `register` made it.
TEST(RunEvent, RunsWriteTheirEventAndNeverTheSource)
{
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
        EXPECT_EQ(os.machineValues.count({kEventSourceKey, L"EventMessageFile"}), 0u);
    }
}

TEST(Registration, OnlyANameByNameInsideTheFolderCounts)
{
    const struct {
        const wchar_t* path;
        bool inside;
    } cases[] = {
        {L"\\\\?\\C:\\Program Files\\Orvane\\OrvaneCli.exe", true},
        {L"c:\\PROGRAM FILES\\orvane\\OrvaneCli.exe", true},
        {L"C:\\Program Files Evil\\OrvaneCli.exe", false},
        {L"C:\\Program FilesOrvaneCli.exe", false},
        {L"C:\\Program Files\\..\\Users\\Public\\OrvaneCli.exe", false},
        {L"C:\\Program Files", false},
        {L"D:\\Program Files\\Orvane\\OrvaneCli.exe", false},
        {L"\\\\?\\UNC\\C:\\Program Files\\OrvaneCli.exe", false},
        {L"\\\\srv\\C:\\Program Files\\OrvaneCli.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.path));
        EXPECT_EQ(LiesUnderFolder(c.path, L"C:\\Program Files\\"), c.inside);
    }
}

// The unit-test program stands for OrvaneCli.exe; "Program Files" is its folder, or a name
// its folder's name only begins with.
TEST(Registration, RegisterAndUnregisterAsTheAdministratorOnly)
{
    wchar_t program[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    std::wstring folder(program);
    folder.resize(folder.find_last_of(L'\\'));
    enum Who { User, Admin, System };
    const struct {
        const char* what;
        Who who;
        bool installed;   // the program inside Program Files
        bool registered;  // the source there before
        bool unregister;
        int code;
        bool sourceAfter;
    } cases[] = {
        {"a standard user registers", User, true, false, false, 2, false},
        {"outside Program Files", Admin, false, false, false, 2, false},
        {"an elevated administrator", Admin, true, false, false, 0, true},
        {"SYSTEM, the installer", System, true, true, false, 0, true},
        {"a standard user unregisters", User, true, true, true, 2, true},
        {"unregister", Admin, true, true, true, 0, false},
        {"unregister, none there", System, true, false, true, 0, false},
    };
    const std::pair<std::wstring, std::wstring> file{kEventSourceKey, L"EventMessageFile"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        os.elevated = c.who == Admin;
        os.localSystem = c.who == System;
        const std::wstring programFiles = c.installed ? folder : folder.substr(0, folder.size() - 1);
        os.programFiles = WideToAnsi(programFiles);
        if (c.registered)
            os.machineValues[file] = FakeOs::Value{REG_SZ, {'o', 0, 'l', 0, 'd', 0, 0, 0}};
        const ExitStatus status = c.unregister ? RunUnregister() : RunRegister();
        EXPECT_EQ(status.Code(), c.code);
        ASSERT_EQ(os.machineValues.count(file), c.sourceAfter ? 1u : 0u);
        EXPECT_EQ(os.openKeys, 0);
        if (c.unregister || !c.sourceAfter)
            continue;
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(os.machineValues[file].data.data())),
                  program);
        EXPECT_NE(os.machineKeyAccess & KEY_WOW64_64KEY, 0u);
    }
}

} // namespace
