// The console's command line, as pure rules: the options every command reads, the known
// command nearest a misspelt one, and a command's own arguments taken one by one, each
// refusal with a reason that names what was wrong.
#pragma once
#include <string>
#include <vector>

// Options that hold for every command, wherever they stand on the line.
struct GlobalOptions {
    bool verbose = false;  // -v: every diagnostic line echoed on standard error
    bool help = false;     // -h, --help
    bool version = false;  // --version
    std::string package;   // --package DIR: the folder the package is read from
    std::string refusal;   // why the options were refused; empty when they were not
};

// Takes the global options out of `words`; what is left, in order, is the command and its
// own arguments. An option without its value, or given twice, leaves its reason in
// `options.refusal`.
std::vector<std::string> TakeGlobalOptions(const std::vector<std::string>& words,
                                           GlobalOptions& options);

// The one name of `names` that `word` is one letter away from (one letter changed, added or
// left out, or two neighbours swapped); empty when none is, or when several are.
std::string NearestName(const std::string& word, const std::vector<std::string>& names);

// The options every command reads (-v, -h, --help, --version, --package).
const std::vector<std::string>& GlobalOptionNames();

// The reason to refuse `word`, an option nobody takes here, with the one of `known` a letter
// away when there is one: "\"--packge\" is not an option of update; did you mean
// \"--package\"?" (`where` is " of update", or empty).
std::string UnknownOptionReason(const std::string& word, const std::string& where,
                                std::vector<std::string> known);

// Whether `portText` names a COM port, the only device a command opens (not "E:", NUL or a
// pipe).
bool IsComPortArgument(const std::string& portText);

// One command's arguments, taken in the order the command reads them. A taking that fails
// keeps the first reason; the command then refuses its line.
class ArgumentReader {
public:
    ArgumentReader(std::string command, std::vector<std::string> args);

    // A flag anywhere on the line (`--auto`), taken out; false when it is absent.
    bool Flag(const char* name);
    // An option and its value anywhere on the line (`--report FILE`), taken out. True when
    // it is absent (`value` left as it was) or whole; false, refused, when its value is
    // missing or it is given twice.
    bool Option(const char* name, const char* what, std::string& value);
    // Whether `name` is on the line still, as an argument of its own.
    bool Has(const char* name);
    // The next argument, `what` naming it (PORT, FILE); refused when there is none.
    bool Take(const char* what, std::string& value);
    // The next argument when one is left.
    bool TakeOptional(std::string& value);
    // Every argument left.
    std::vector<std::string> TakeRest();
    // Whether every argument was taken; otherwise refuses the first one left.
    bool Done();
    // Refuses the line for a reason of the command's own.
    bool Refuse(const std::string& reason);

    const std::string& Command() const { return m_command; }
    bool Failed() const { return !m_reason.empty(); }
    const std::string& Reason() const { return m_reason; }

private:
    // The first word left that looks like an option and was not taken: refused.
    bool NoUnknownOption();

    std::string m_command;
    std::vector<std::string> m_args;
    std::vector<std::string> m_asked;  // the options the command reads, for a misspelt one
    std::string m_reason;
};
