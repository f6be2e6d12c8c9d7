// What `OrvaneCli update` leaves for a deployment tool: the report's times and its file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "ScratchDir.h"
#include "cli/Report.h"

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

} // namespace
