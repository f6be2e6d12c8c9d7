// The console's command line: what a misspelt command is taken for, and the reason a
// command's line is refused.
#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/UpdateCommand.h"
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
        // A one-port command: a missing port, and anything after it.
        {{}, "missing PORT", "find"},
        {{"COM5", "COM6"}, "unexpected argument \"COM6\"", "find"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Refusal(c.words, c.command), c.reason) << ::testing::PrintToString(c.words);
    for (const char* form : {"--auto", "--all", "COM5"}) {
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

} // namespace
