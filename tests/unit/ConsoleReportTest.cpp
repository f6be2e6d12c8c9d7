// What `OrvaneCli update` leaves for a deployment tool: the report's times and its file,
// and the run's event in the Application log.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "ScratchDir.h"
#include "cli/Report.h"
#include "cli/RunEvent.h"

namespace {

TEST(Report, ATimeAndItsOffsetAreOneInstant)
{
    // Paris in 2026: summer time from 29 March to 25 October, 01:00 UTC both. Every reading
    // of the clock takes a millisecond, so a time and an offset read apart straddle a switch.
    const SYSTEMTIME summerFrom = {2026, 3, 0, 29, 1, 0, 0, 0};
    const SYSTEMTIME summerUntil = {2026, 10, 0, 25, 1, 0, 0, 0};
    const struct {
        const char* name;
        SYSTEMTIME utc;
        LONG bias;        // UTC minus standard local time, minutes
        bool paris;       // with Paris's summer time
        bool unreadable;
        bool withoutEx;   // a system without SystemTimeToTzSpecificLocalTimeEx
        const char* expected;
    } cases[] = {
        {"west", {2026, 12, 0, 8, 13, 30, 0, 0}, 240, false, false, false, "2026-12-08T09:30:00-04:00"},
        {"east by a half hour", {2026, 12, 0, 8, 4, 0, 0, 0}, -330, false, false, false,
         "2026-12-08T09:30:00+05:30"},
        {"west, the day and year before UTC's", {2027, 1, 0, 1, 2, 15, 0, 0}, 300, false, false, false,
         "2026-12-31T21:15:00-05:00"},
        {"summer time ends a millisecond later", {2026, 10, 0, 25, 0, 59, 59, 999}, -60, true, false, false,
         "2026-10-25T02:59:59+02:00"},
        {"summer time starts a millisecond later", {2026, 3, 0, 29, 0, 59, 59, 999}, -60, true, false, false,
         "2026-03-29T01:59:59+01:00"},
        {"no Ex form", {2026, 12, 0, 8, 8, 30, 0, 0}, -60, true, false, true, "2026-12-08T09:30:00+01:00"},
        {"unreadable zone", {2026, 12, 0, 8, 8, 30, 0, 0}, -60, true, true, false, "2026-12-08T08:30:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        os.utcStart = c.utc;
        os.msPerClockRead = 1;
        os.zoneBias = c.bias;
        if (c.paris) {
            os.daylightBias = -60;
            os.daylightFrom = summerFrom;
            os.daylightUntil = summerUntil;
        }
        os.zoneUnreadable = c.unreadable;
        if (c.withoutEx)
            Os().SystemTimeToTzSpecificLocalTimeEx = nullptr;
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
