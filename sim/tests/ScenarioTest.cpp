#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "Scenario.h"

using namespace rsim;

namespace {

ParseOutcome load(std::vector<const char*> args, Scenario& scenario, std::string& error)
{
    args.insert(args.begin(), "readersim");
    return loadScenario(static_cast<int>(args.size()), args.data(), scenario, error);
}

Scenario loaded(std::vector<const char*> args)
{
    Scenario scenario;
    std::string error;
    EXPECT_EQ(ParseOutcome::Run, load(std::move(args), scenario, error)) << error;
    return scenario;
}

} // namespace

TEST(Scenario, DefaultsNeedOnlyTheComPath)
{
    const Scenario s = loaded({"--com", "/tmp/com5"});
    EXPECT_EQ("/tmp/com5", s.com);
    EXPECT_EQ("M30", s.description.model);
    EXPECT_EQ(LoaderMode::Present, s.loader);
    EXPECT_EQ(kAckNext, s.startStatus);
    EXPECT_EQ(2000U, s.restartSilenceMs.value_or(0));
    EXPECT_EQ(300U, s.lifetimeS);
    EXPECT_FALSE(s.pace);
    EXPECT_TRUE(s.apps.empty());
}

TEST(Scenario, ReadsEveryOptionInBothForms)
{
    const Scenario s = loaded({"--com=/tmp/c", "--model", "X12", "--options",
                               "0102030405060708090A0B0C0D", "--desc", "short", "--loader=absent",
                               "--baud", "115200", "--apps", "PAY,LOYALTY", "--announce", "ko",
                               "--auth", "refuse", "--start-status", "33", "--reject-block", "4:2",
                               "--stop-at", "7", "--silent-at", "8", "--status-at", "9:0x99", "--late-at", "10:2000",
                               "--fault-file", "APP.BIN", "--activate", "late:2500",
                               "--restart-silence", "never", "--silent-from-restart", "2",
                               "--options-from-restart", "2:00000000000000000000000001",
                               "--pace", "--lifetime", "20"});
    EXPECT_EQ("X12", s.description.model);
    EXPECT_EQ(0x01, s.description.options[0]);
    EXPECT_EQ(0x0D, s.description.options[12]);
    EXPECT_EQ(DescMode::Short, s.desc);
    EXPECT_EQ(LoaderMode::Absent, s.loader);
    EXPECT_EQ(115200U, s.baud);
    EXPECT_EQ((std::vector<std::string>{"PAY", "LOYALTY"}), s.apps);
    EXPECT_EQ(ReplyMode::Ko, s.announce);
    EXPECT_EQ(AuthMode::Refuse, s.auth);
    EXPECT_EQ(0x33, s.startStatus);
    EXPECT_EQ(4U, s.faults.rejectBlock.value_or(0));
    EXPECT_EQ(2U, s.faults.rejectTimes);
    EXPECT_EQ(7U, s.faults.stopAt.value_or(0));
    EXPECT_EQ(8U, s.faults.silentAt.value_or(0));
    EXPECT_EQ(9U, s.faults.statusAtBlock.value_or(0));
    EXPECT_EQ(0x99, s.faults.statusAtValue);
    EXPECT_EQ(10U, s.faults.lateAt.value_or(0));
    EXPECT_EQ(2000U, s.faults.lateMs);
    EXPECT_EQ("APP.BIN", s.faults.onlyFile);
    EXPECT_EQ(ActivateMode::Late, s.activate.kind);
    EXPECT_EQ(2500U, s.activate.lateMs);
    EXPECT_FALSE(s.restartSilenceMs.has_value());
    EXPECT_EQ(2U, s.silentFromRestart.value_or(0));
    EXPECT_EQ(0x01, s.optionsAfterRestart[12]);
    EXPECT_TRUE(s.pace);
    EXPECT_EQ(20U, s.lifetimeS);
}

TEST(Scenario, RejectsBadInput)
{
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"--com"},
        {"--com", "/c", "--frobnicate", "1"},
        {"--com", "/c", "stray"},
        {"--com", "/c", "--model", "M3"},
        {"--com", "/c", "--options", "0102"},
        {"--com", "/c", "--options", "0102030405060708090A0B0C0G"},
        {"--com", "/c", "--desc", "maybe"},
        {"--com", "/c", "--baud", "fast"},
        {"--com", "/c", "--apps", "A,,B"},
        {"--com", "/c", "--apps", "A,"},
        {"--com", "/c", "--reject-block", "3"},
        {"--com", "/c", "--status-at", "3:123"},
        {"--com", "/c", "--stop-at", "70000"},
        {"--com", "/c", "--activate", "late:"},
        {"--com", "/c", "--restart-silence", "-5"},
        {"--com", "/c", "--options-from-restart", "0102030405060708090A0B0C0D"},
        {"--com", "/c", "--lifetime", "0"},
        {"--com", "/c", "--scenario", "/nonexistent/readersim.scenario"},
    };
    for (const auto& args : bad) {
        Scenario s;
        std::string error;
        EXPECT_EQ(ParseOutcome::Error, load(args, s, error)) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(error.empty());
    }
    Scenario s;
    std::string error;
    EXPECT_EQ(ParseOutcome::Help, load({"--help"}, s, error));
}

TEST(Scenario, FileSettingsApplyAndTheCommandLineWins)
{
    const std::string path = ::testing::TempDir() + "readersim_scenario.txt";
    {
        std::ofstream out(path);
        out << "# a reader that refuses once\n"
               "com = /tmp/from-file\n"
               "model=F01   # inline comment\n"
               "\n"
               "reject-block=2:1\n"
               "pace\n"
               "desc=zero\n";
    }
    const Scenario s = loaded({"--scenario", path.c_str(), "--desc", "badcrc"});
    EXPECT_EQ("/tmp/from-file", s.com);
    EXPECT_EQ("F01", s.description.model);
    EXPECT_EQ(2U, s.faults.rejectBlock.value_or(0));
    EXPECT_TRUE(s.pace);
    EXPECT_EQ(DescMode::BadCrc, s.desc);
    std::remove(path.c_str());
}

TEST(Scenario, FileErrorsNameTheirLine)
{
    std::vector<Setting> settings;
    std::string error;
    EXPECT_FALSE(collectScenarioText("model=M30\nbogus=1\n", "s.txt", settings, error));
    EXPECT_NE(std::string::npos, error.find("s.txt:2"));
    EXPECT_FALSE(collectScenarioText("model\n", "s.txt", settings, error));
    EXPECT_FALSE(collectScenarioText("scenario=other\n", "s.txt", settings, error));
}
