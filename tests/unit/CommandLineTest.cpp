// The console's command line: what a misspelt command is taken for, and the reason a
// command's line is refused.
#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/UpdateCommand.h"

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

TEST(CommandLine, GlobalOptionsAreTakenAnywhere)
{
    GlobalOptions options;
    const auto rest = TakeGlobalOptions({"find", "COM5", "-v"}, options);
    EXPECT_TRUE(options.verbose);
    EXPECT_FALSE(options.help);
    EXPECT_EQ(rest, (std::vector<std::string>{"find", "COM5"}));

    // --package takes its folder with it, wherever it stands: a folder named "check" is no
    // command.
    GlobalOptions package;
    EXPECT_EQ(TakeGlobalOptions({"check", "--package", "check", "COM5"}, package),
              (std::vector<std::string>{"check", "COM5"}));
    EXPECT_EQ(package.package, "check");
    EXPECT_EQ(package.refusal, "");
    const struct {
        std::vector<std::string> words;
        const char* refusal;
    } refused[] = {
        {{"check", "COM5", "--package"}, "--package without its DIR"},
        {{"--package", "-v", "check", "COM5"}, "--package without its DIR"},
        {{"--package", "a", "check", "--package", "b", "COM5"}, "--package given twice"},
    };
    for (const auto& c : refused) {
        GlobalOptions options;
        TakeGlobalOptions(c.words, options);
        EXPECT_EQ(options.refusal, c.refusal) << c.words.back();
    }
}

// The arguments of `update` as its parser takes them: ports, --auto, and --report FILE.
std::string UpdateRefusal(std::vector<std::string> words)
{
    ArgumentReader args("update", std::move(words));
    std::string report;
    const bool automatic = args.Flag("--auto");
    if (args.Option("--report", "FILE", report)) {
        const std::vector<std::string> ports = args.TakeRest();
        if (!args.Failed() && ports.empty() && !automatic)
            args.Refuse("missing PORT");
    }
    return args.Reason();
}

TEST(CommandLine, ARefusedLineSaysWhatWasWrong)
{
    const struct {
        std::vector<std::string> words;
        const char* reason;
    } cases[] = {
        {{"COM5", "--report", "r.json"}, ""},
        {{"--report", "r.json", "--auto"}, ""},
        {{"COM5", "--report"}, "--report without its FILE"},
        {{"--report", "--auto"}, "--report without its FILE"},
        {{"--report", "a", "--report", "b", "COM5"}, "--report given twice"},
        {{"--force", "COM5"}, "\"--force\" is not an option of update"},
        {{"--report", "r.json"}, "missing PORT"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpdateRefusal(c.words), c.reason) << ::testing::PrintToString(c.words);

    // A one-port command: a missing port, and anything after it.
    ArgumentReader none("find", {});
    std::string port;
    EXPECT_FALSE(none.Take("PORT", port));
    EXPECT_EQ(none.Reason(), "missing PORT");
    ArgumentReader extra("find", {"COM5", "COM6"});
    EXPECT_TRUE(extra.Take("PORT", port));
    EXPECT_FALSE(extra.Done());
    EXPECT_EQ(extra.Reason(), "unexpected argument \"COM6\"");
}

TEST(CommandLine, ARecordIsNamedWithAFewCharactersThatNameNoOtherKey)
{
    const std::string longest(64, 'k');
    const struct {
        std::vector<std::string> words;
        std::string reason;  // empty: taken, as `name`
        std::string name;
    } cases[] = {
        {{"COM5", "--record", "Kavron-2026.11_M30"}, "", "Kavron-2026.11_M30"},
        {{"--record", longest, "--all"}, "", longest},
        {{"COM5"}, "", ""},
        {{"--record", longest + "k", "COM5"}, "bad", ""},
        {{"--record", "", "--auto"}, "bad", ""},              // a script's empty variable
        {{"--record", "Kavron\\M30", "COM5"}, "bad", ""},    // a key below another
        {{"--record", "Kavron 2026", "COM5"}, "bad", ""},
        {{"--record", "Mise\xC3\xA0jour", "COM5"}, "bad", ""},  // not ASCII
        {{"COM5", "--record"}, "--record without its NAME", ""},
        {{"--record", "a", "--record", "b", "COM5"}, "--record given twice", ""},
    };
    const std::string bad = "--record NAME takes 1 to 64 letters, digits, \"-\", \"_\" or \".\"";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        ArgumentReader args("update", c.words);
        UpdateRequest request;
        EXPECT_EQ(ParseUpdateArguments(args, request), c.reason.empty());
        EXPECT_EQ(args.Reason(), c.reason == "bad" ? bad : c.reason);
        if (c.reason.empty()) {
            EXPECT_EQ(request.recordName, c.name);
        }
    }
}

} // namespace
