#include <gtest/gtest.h>

#include "Summary.h"

using namespace rsim;

TEST(Summary, ReportsEveryCounterFileAndViolation)
{
    Stats stats;
    stats.probesA = 2;
    stats.probesB = 1;
    stats.probeBauds = {9600, 115200};
    stats.commands = {{2, 1}, {4, 3}};
    FileRecord file;
    file.name = "APP.BIN";
    file.announced = 300;
    file.data.assign(244, 0);
    file.blocks = 2;
    file.resends = 1;
    file.crcOk = false;
    file.firstBlockAt = 1000000;
    file.lastReplyAt = 3500000;
    stats.files.push_back(file);
    stats.blocks = 2;
    stats.resends = 1;
    stats.activations = 1;
    stats.restarts = 0;
    stats.violations = {"block 1: bad CRC"};

    const std::string json = summaryJson(stats);
    for (const char* expected : {
             "\"probes_a\": 2,", "\"probes_b\": 1,", "\"probe_bauds\": [9600, 115200],",
             "\"commands\": {\"2\": 1, \"4\": 3},",
             "{\"name\": \"APP.BIN\", \"announced_size\": 300, \"received\": 244, \"blocks\": 2, "
             "\"resends\": 1, \"complete\": false, \"crc_ok\": false}",
             "\"blocks\": 2,", "\"resends\": 1,", "\"activations\": 1,", "\"restarts\": 0,",
             "\"violations\": 1,", "\"violation_list\": [\"block 1: bad CRC\"],",
             "\"download_seconds\": 2.500000,", "\"download_bytes\": 244\n"})
        EXPECT_NE(std::string::npos, json.find(expected)) << expected << "\nin\n" << json;
    EXPECT_EQ('{', json.front());
    EXPECT_EQ("}\n", json.substr(json.size() - 2));
}

TEST(Summary, EmptyListsStayValidJson)
{
    const std::string json = summaryJson(Stats{});
    EXPECT_NE(std::string::npos, json.find("\"files\": [],"));
    EXPECT_NE(std::string::npos, json.find("\"commands\": {},"));
    EXPECT_NE(std::string::npos, json.find("\"violation_list\": [],"));
}

TEST(Summary, EscapesTextForJson)
{
    EXPECT_EQ("\"a\\\"b\\\\c\\u0001\\u00ff\"", jsonString("a\"b\\c\x01\xff"));
}
