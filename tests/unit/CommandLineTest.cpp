// The console's command line: what a misspelt command is taken for, and the reason a
// command's line is refused.
#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/UpdateCommand.h"
#include "cli/Watcher.h"
#include "terminal/Protocol.h"

namespace {

const std::vector<std::string> kNames = {"find", "describe", "apps", "send", "activate",
                                         "restart", "update", "check", "ports", "usb", "help"};

TEST(CommandLine, AMisspeltCommandIsTakenForTheOneCommandALetterAway)
{
    const struct {
        const char* word;
        const char* nearest;
    } cases[] = {
        {"fnd", "find"},       // a letter left out
        {"findd", "find"},     // one added
        {"fimd", "find"},      // one changed
        {"updaet", "update"},  // two neighbours swapped
        {"chekc", "check"},
        {"port", "ports"},
        {"find", ""},          // itself is no suggestion
        {"fn", ""},            // two letters away
        {"bogus", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NearestName(c.word, kNames), c.nearest) << c.word;
    // Two names one letter away: neither is offered.
    EXPECT_EQ(NearestName("bat", {"cat", "hat"}), "");
}

// --package takes its folder with it, wherever it stands: a folder named "check" is no
// command.
TEST(CommandLine, GlobalOptionsAreTakenAnywhere)
{
    const std::vector<std::string> check = {"check", "COM5"};
    const struct {
        std::vector<std::string> words, rest;
        bool verbose;
        const char* package;
        const char* refusal;
    } cases[] = {
        {{"find", "COM5", "-v"}, {"find", "COM5"}, true, "", ""},
        {{"check", "--package", "check", "COM5"}, check, false, "check", ""},
        {{"check", "COM5", "--package"}, check, false, "", "--package without its DIR"},
        {{"--package", "-v", "check", "COM5"}, check, true, "", "--package without its DIR"},
        {{"--package", "a", "check", "--package", "b", "COM5"}, check, false, "b",
         "--package given twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        GlobalOptions options;
        EXPECT_EQ(TakeGlobalOptions(c.words, options), c.rest);
        EXPECT_EQ(options.verbose, c.verbose);
        EXPECT_FALSE(options.help);
        EXPECT_EQ(options.package, c.package);
        EXPECT_EQ(options.refusal, c.refusal);
    }
}

// Why `command`'s line is refused (update's, or a one-port command's); empty when taken.
std::string Refusal(std::vector<std::string> words, const std::string& command)
{
    ArgumentReader args(command, std::move(words));
    UpdateRequest request;
    std::string port;
    if (command == "update")
        ParseUpdateArguments(args, request);
    else if (args.Take("PORT", port))
        args.Done();
    return args.Reason();
}

TEST(CommandLine, ARefusedLineSaysWhatWasWrong)
{
    const std::string longest(64, 'k');
    const char badName[] = "--record NAME takes 1 to 64 letters, digits, \"-\", \"_\" or \".\"";
    const struct {
        std::vector<std::string> words;
        const char* reason;
        const char* command = "update";
    } cases[] = {
        {{"COM5", "--report", "r.json"}, ""},
        {{"--report", "r.json", "--auto"}, ""},
        {{"COM5", "--report"}, "--report without its FILE"},
        {{"--report", "--auto"}, "--report without its FILE"},
        {{"--report", "a", "--report", "b", "COM5"}, "--report given twice"},
        {{"--force", "COM5"}, "\"--force\" is not an option of update"},
        // An option a letter away from one the command or every command reads is named.
        {{"--packge", "D:\\P", "COM5"},
         "\"--packge\" is not an option of update; did you mean \"--package\"?"},
        {{"COM5", "--reprot", "r.json"},
         "\"--reprot\" is not an option of update; did you mean \"--report\"?"},
        {{"--al"}, "\"--al\" is not an option of update; did you mean \"--all\"?"},
        {{"--packge", "D:\\P", "COM5"},
         "\"--packge\" is not an option of find; did you mean \"--package\"?", "find"},
        {{"--report", "r.json"}, "missing PORT (or --auto, or --all)"},
        // A record's name names one key below Records, and none other.
        {{"COM5", "--record", "Kavron-2026.11_M30"}, ""},
        {{"--record", longest, "--all"}, ""},
        {{"--record", longest + "k", "COM5"}, badName},
        {{"--record", "", "--auto"}, badName},  // a script's empty variable
        {{"--record", "Kavron\\M30", "COM5"}, badName},
        {{"--record", "Kavron 2026", "COM5"}, badName},
        {{"--record", "Mise\xC3\xA0jour", "COM5"}, badName},
        {{"COM5", "--record"}, "--record without its NAME"},
        // Port names ignore case, as Windows' do: com5 is COM5.
        {{"COM5", "com5"}, "COM5 is named twice"},
        {{"Port com5 (com5)", "COM5"}, "COM5 is named twice"},
        {{"com5", "cOm6"}, ""},
        {{"--verify"}, "missing PORT (or --auto, or --all)"},
        // A depot station takes every reader, and keeps no record of one moment's readers.
        {{"--watch", "--report", "r.json"}, ""},
        {{"--watch", "COM5"}, "--watch takes every reader plugged in: no PORT, --auto or --all"},
        {{"--all", "--watch"}, "--watch takes every reader plugged in: no PORT, --auto or --all"},
        {{"--watch", "--record", "Depot"}, "--record is not taken with --watch"},
        // A one-port command: a missing port, and anything after it.
        {{}, "missing PORT", "find"},
        {{"COM5", "COM6"}, "unexpected argument \"COM6\"", "find"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Refusal(c.words, c.command), c.reason) << ::testing::PrintToString(c.words);
    for (const char* form : {"--auto", "--all", "COM5", "--watch"}) {
        ArgumentReader args("update", {"--verify", form});
        UpdateRequest request;
        EXPECT_TRUE(ParseUpdateArguments(args, request) && request.verify) << form;
    }

    // A port in any case is taken, searched and written as COM and its number.
    const std::pair<const char*, const char*> ports[] = {
        {"com5", "COM5"}, {"Com12", "COM12"}, {"Port com5 (com5)", "COM5"},
        {"DORAN Kavron USB (cOM7)", "COM7"}};
    for (const auto& [text, name] : ports) {
        EXPECT_TRUE(IsComPortArgument(text)) << text;
        EXPECT_EQ(proto::PortNameOfText(text), name) << text;
    }
}

// "COM6@1.3 COM7@1.4": entries, each a port and the key of where its reader sits.
std::vector<WatchEntry> Entries(const std::string& text)
{
    std::vector<WatchEntry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(at, end - at);
        const std::size_t sign = word.find('@');
        entries.push_back({word.substr(0, sign), word.substr(sign + 1)});
        at = end + 1;
    }
    return entries;
}

// A depot station's polls, a second apart unless said: which readers start, which wait.
TEST(Watch, AReaderIsUpdatedOncePerPluggingAndRetriedWhileItCannotBeReached)
{
    struct Step {
        std::uint64_t ms;
        const char* entries;
        const char* starts;     // "COM6@1.3" each, "+n" for the n-th retry
        const char* ended = ""; // "1.3=0": the run at the key ends before the poll
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"started after two polls in a row, not after a flicker",
         {{0, "COM6@1.3", ""}, {1000, "", ""}, {2000, "COM6@1.3", ""},
          {3000, "COM6@1.3", "COM6@1.3"}, {4000, "COM6@1.3", ""}}},
        {"its own restart on another COM number, or another key on its port, is its own",
         {{0, "COM6@1.3", ""}, {1000, "COM6@1.3", "COM6@1.3"}, {2000, "", ""},
          {3000, "COM9@1.3", ""}, {4000, "COM9@1.3 COM6@PCI\\X", ""},
          {5000, "COM9@1.3 COM6@PCI\\X", ""}}},
        {"a position started again only once empty for 3 s",
         {{0, "COM6@1.3", ""}, {1000, "COM6@1.3", "COM6@1.3"},
          {50000, "COM6@1.3", "", "1.3=0"}, {60000, "COM6@1.3", ""},
          {61000, "", ""}, {63000, "COM6@1.3", ""}, {64000, "COM6@1.3", ""},  // 2 s empty
          {65000, "", ""}, {68000, "", ""}, {69000, "COM6@1.3", ""},
          {70000, "COM6@1.3", "COM6@1.3"}}},
        {"a failed reader left plugged in is not started again",
         {{0, "COM6@1.3", ""}, {1000, "COM6@1.3", "COM6@1.3"},
          {9000, "COM6@1.3", "", "1.3=23"}, {99000, "COM6@1.3", ""}}},
        {"busy or unreachable: every 10 s, 5 times at most",
         {{0, "COM6@1.3", ""}, {1000, "COM6@1.3", "COM6@1.3"},
          {5000, "COM6@1.3", "", "1.3=21"}, {14000, "COM6@1.3", ""},
          {15000, "COM6@1.3", "COM6@1.3+1"}, {16000, "COM6@1.3", "", "1.3=22"},
          {26000, "COM6@1.3", "COM6@1.3+2", ""}, {27000, "COM6@1.3", "", "1.3=22"},
          {37000, "COM6@1.3", "COM6@1.3+3", ""}, {38000, "COM6@1.3", "", "1.3=21"},
          {48000, "COM6@1.3", "COM6@1.3+4", ""}, {49000, "COM6@1.3", "", "1.3=21"},
          {59000, "COM6@1.3", "COM6@1.3+5", ""}, {60000, "COM6@1.3", "", "1.3=21"},
          {70000, "COM6@1.3", ""}, {200000, "COM6@1.3", ""}}},
        {"a retry waits for its reader; one unplugged meanwhile is a new reader",
         {{0, "COM6@1.3", ""}, {1000, "COM6@1.3", "COM6@1.3"},
          {2000, "", "", "1.3=22"}, {12000, "", ""}, {13000, "COM6@1.3", ""},
          {14000, "COM6@1.3", "COM6@1.3"}}},
        {"readers at two positions run side by side",
         {{0, "COM6@1.3", ""}, {1000, "COM6@1.3 COM7@1.4", "COM6@1.3"},
          {2000, "COM6@1.3 COM7@1.4", "COM7@1.4"}, {3000, "COM7@1.4", "", "1.3=0"},
          {6000, "COM7@1.4", ""},
          {7000, "COM8@1.3 COM7@1.4", ""}, {8000, "COM8@1.3 COM7@1.4", "COM8@1.3"}}},
    };
    for (const auto& c : cases) {
        Watcher watcher;
        for (const Step& step : c.steps) {
            const std::string ended = step.ended;
            if (!ended.empty()) {
                const std::size_t sign = ended.find('=');
                watcher.Ended(ended.substr(0, sign), std::stoi(ended.substr(sign + 1)), step.ms);
            }
            std::string starts;
            for (const WatchStart& start : watcher.Poll(Entries(step.entries), step.ms))
                starts += (starts.empty() ? "" : " ") + start.portText + "@" + start.key +
                          (start.retry > 0 ? "+" + std::to_string(start.retry) : "");
            EXPECT_EQ(starts, step.starts) << c.name << ", at " << step.ms << " ms";
        }
    }
}

// What a station says and exits with as it ends: a script reads the code.
TEST(Watch, TheEndCountsEachReaderAndExitsWithTheFirstFailureInTheOrderTheyEnded)
{
    const struct {
        std::vector<std::pair<std::string, int>> ended;
        const char* summary;
        int result;
    } cases[] = {
        {{}, "no reader was seen", 1},
        {{{"COM6", 0}}, "1 reader updated, 0 failed", 0},
        {{{"COM9", 0}, {"COM7", 23}, {"COM6", 0}, {"COM8", 26}, {"COM5", 0}},
         "3 readers updated, 2 failed (COM7: 23, COM8: 26)", 23},
        {{{"COM6", 26}}, "0 readers updated, 1 failed (COM6: 26)", 26},
    };
    for (const auto& c : cases) {
        WatchTally tally;
        for (const auto& [port, result] : c.ended)
            tally.Ended(port, result);
        EXPECT_EQ(tally.Summary(), c.summary);
        EXPECT_EQ(tally.Result(), c.result) << c.summary;
    }
}

} // namespace
