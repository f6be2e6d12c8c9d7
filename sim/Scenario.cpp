#include "Scenario.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace rsim {

namespace {

constexpr std::uint32_t kMaxBlockNumber = 0xFFFF;
constexpr std::uint32_t kMaxBaud = 4000000;
constexpr std::uint32_t kMaxMs = 3600 * 1000;
constexpr std::uint32_t kMaxLifetimeS = 7 * 24 * 3600;

using Apply = bool (*)(const std::string& value, Scenario& s, std::string& error);

struct OptionDef {
    const char* name;
    const char* arg; // nullptr: a flag
    const char* help;
    Apply apply;
};

bool parseUnsigned(const std::string& text, std::uint32_t max, std::uint32_t& out)
{
    if (text.empty())
        return false;
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, 10);
    if (result.ec != std::errc() || result.ptr != end || value > max)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool parseHexByte(std::string text, std::uint8_t& out)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = text.substr(2);
    if (text.empty() || text.size() > 2)
        return false;
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, 16);
    if (result.ec != std::errc() || result.ptr != end)
        return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

// "K:V" into its two halves.
bool splitPair(const std::string& text, std::string& left, std::string& right)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    left = text.substr(0, colon);
    right = text.substr(colon + 1);
    return true;
}

bool isPrintableText(const std::string& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool fail(std::string& error, const std::string& message)
{
    error = message;
    return false;
}

bool setBlockNumber(const std::string& v, std::optional<std::uint32_t>& slot, std::string& error)
{
    std::uint32_t k = 0;
    if (!parseUnsigned(v, kMaxBlockNumber, k))
        return fail(error, "want a block number 0.." + std::to_string(kMaxBlockNumber));
    slot = k;
    return true;
}

bool applyCom(const std::string& v, Scenario& s, std::string& error)
{
    if (v.empty())
        return fail(error, "want a path");
    s.com = v;
    return true;
}

bool applyModel(const std::string& v, Scenario& s, std::string& error)
{
    if (v.size() != kModelLength || !isPrintableText(v))
        return fail(error, "want 3 printable characters");
    s.description.model = v;
    return true;
}

bool parseOptionBytes(const std::string& v, std::array<std::uint8_t, kOptionsLength>& out)
{
    if (v.size() != 2 * kOptionsLength)
        return false;
    for (std::size_t i = 0; i < kOptionsLength; ++i)
        if (!parseHexByte(v.substr(2 * i, 2), out[i]))
            return false;
    return true;
}

bool applyOptions(const std::string& v, Scenario& s, std::string& error)
{
    if (!parseOptionBytes(v, s.description.options))
        return fail(error, "want 26 hex digits");
    return true;
}

bool parseRestartNumber(const std::string& v, std::optional<std::uint32_t>& slot)
{
    std::uint32_t n = 0;
    if (!parseUnsigned(v, kMaxBlockNumber, n) || n == 0)
        return false;
    slot = n;
    return true;
}

bool applySilentFromRestart(const std::string& v, Scenario& s, std::string& error)
{
    if (!parseRestartNumber(v, s.silentFromRestart))
        return fail(error, "want a restart number, 1 for the first");
    return true;
}

bool applyOptionsFromRestart(const std::string& v, Scenario& s, std::string& error)
{
    std::string n, hex;
    if (!splitPair(v, n, hex) || !parseRestartNumber(n, s.optionsFromRestart) ||
        !parseOptionBytes(hex, s.optionsAfterRestart))
        return fail(error, "want N:26 hex digits, N 1 for the first restart");
    return true;
}

bool applyDesc(const std::string& v, Scenario& s, std::string& error)
{
    if (v == "ok") s.desc = DescMode::Ok;
    else if (v == "badcrc") s.desc = DescMode::BadCrc;
    else if (v == "zero") s.desc = DescMode::Zero;
    else if (v == "short") s.desc = DescMode::Short;
    else if (v == "silent") s.desc = DescMode::Silent;
    else return fail(error, "want ok, badcrc, zero, short or silent");
    return true;
}

bool applyLoader(const std::string& v, Scenario& s, std::string& error)
{
    if (v == "present") s.loader = LoaderMode::Present;
    else if (v == "absent") s.loader = LoaderMode::Absent;
    else if (v == "silent") s.loader = LoaderMode::Silent;
    else return fail(error, "want present, absent or silent");
    return true;
}

bool applyBaud(const std::string& v, Scenario& s, std::string& error)
{
    if (!parseUnsigned(v, kMaxBaud, s.baud))
        return fail(error, "want a baud rate (0: any)");
    return true;
}

bool applyApps(const std::string& v, Scenario& s, std::string& error)
{
    s.apps.clear();
    if (v.empty())
        return true;
    std::stringstream in(v);
    std::string name;
    while (std::getline(in, name, ',')) {
        if (name.empty() || name.size() > kAppNameMax || !isPrintableText(name))
            return fail(error, "application names are 1 to 30 printable characters");
        s.apps.push_back(name);
    }
    if (v.back() == ',')
        return fail(error, "empty application name");
    return true;
}

bool applyAnnounce(const std::string& v, Scenario& s, std::string& error)
{
    if (v == "ok") s.announce = ReplyMode::Ok;
    else if (v == "ko") s.announce = ReplyMode::Ko;
    else if (v == "silent") s.announce = ReplyMode::Silent;
    else return fail(error, "want ok, ko or silent");
    return true;
}

bool applyAuth(const std::string& v, Scenario& s, std::string& error)
{
    if (v == "grant") s.auth = AuthMode::Grant;
    else if (v == "refuse") s.auth = AuthMode::Refuse;
    else if (v == "silent") s.auth = AuthMode::Silent;
    else return fail(error, "want grant, refuse or silent");
    return true;
}

bool applyStartStatus(const std::string& v, Scenario& s, std::string& error)
{
    if (!parseHexByte(v, s.startStatus))
        return fail(error, "want a hex byte");
    return true;
}

bool applyRejectBlock(const std::string& v, Scenario& s, std::string& error)
{
    std::string k;
    std::string n;
    if (!splitPair(v, k, n) || !setBlockNumber(k, s.faults.rejectBlock, error) ||
        !parseUnsigned(n, kMaxBlockNumber, s.faults.rejectTimes))
        return fail(error, "want K:N (block number, times)");
    return true;
}

bool applyStopAt(const std::string& v, Scenario& s, std::string& error)
{
    return setBlockNumber(v, s.faults.stopAt, error);
}

bool applySilentAt(const std::string& v, Scenario& s, std::string& error)
{
    return setBlockNumber(v, s.faults.silentAt, error);
}

bool applyUnplugAt(const std::string& v, Scenario& s, std::string& error)
{
    return setBlockNumber(v, s.faults.unplugAt, error);
}

bool applyLateAt(const std::string& v, Scenario& s, std::string& error)
{
    std::string k;
    std::string ms;
    if (!splitPair(v, k, ms) || !setBlockNumber(k, s.faults.lateAt, error) ||
        !parseUnsigned(ms, kMaxMs, s.faults.lateMs))
        return fail(error, "want K:MS (block number, milliseconds)");
    return true;
}

bool applyStatusAt(const std::string& v, Scenario& s, std::string& error)
{
    std::string k;
    std::string status;
    if (!splitPair(v, k, status) || !setBlockNumber(k, s.faults.statusAtBlock, error) ||
        !parseHexByte(status, s.faults.statusAtValue))
        return fail(error, "want K:HEX (block number, status byte)");
    return true;
}

bool applyFaultFile(const std::string& v, Scenario& s, std::string&)
{
    s.faults.onlyFile = v;
    return true;
}

bool applyActivate(const std::string& v, Scenario& s, std::string& error)
{
    std::string kind;
    std::string ms;
    if (v == "ok") s.activate.kind = ActivateMode::Ok;
    else if (v == "ko") s.activate.kind = ActivateMode::Ko;
    else if (v == "silent") s.activate.kind = ActivateMode::Silent;
    else if (v == "ko-first") s.activate.kind = ActivateMode::KoFirst;
    else if (splitPair(v, kind, ms) && kind == "late" && parseUnsigned(ms, kMaxMs, s.activate.lateMs))
        s.activate.kind = ActivateMode::Late;
    else return fail(error, "want ok, ko, ko-first, silent or late:MS");
    return true;
}

bool applyRestartSilence(const std::string& v, Scenario& s, std::string& error)
{
    if (v == "never") {
        s.restartSilenceMs.reset();
        return true;
    }
    std::uint32_t ms = 0;
    if (!parseUnsigned(v, kMaxMs, ms))
        return fail(error, "want milliseconds or never");
    s.restartSilenceMs = ms;
    return true;
}

bool applyFlag(const std::string& v, bool& flag, std::string& error)
{
    if (v == "1" || v == "true" || v == "yes" || v == "on") flag = true;
    else if (v == "0" || v == "false" || v == "no" || v == "off") flag = false;
    else return fail(error, "want yes or no");
    return true;
}

bool applyPace(const std::string& v, Scenario& s, std::string& e) { return applyFlag(v, s.pace, e); }
bool applyAppsEndless(const std::string& v, Scenario& s, std::string& e)
{
    return applyFlag(v, s.appsEndless, e);
}

bool applyText(const std::string& v, std::string& slot, std::string& error)
{
    if (v.empty())
        return fail(error, "want a path");
    slot = v;
    return true;
}

bool applyOutdir(const std::string& v, Scenario& s, std::string& e) { return applyText(v, s.outdir, e); }
bool applyLog(const std::string& v, Scenario& s, std::string& e) { return applyText(v, s.log, e); }
bool applySummary(const std::string& v, Scenario& s, std::string& e) { return applyText(v, s.summary, e); }

bool applyLifetime(const std::string& v, Scenario& s, std::string& error)
{
    if (!parseUnsigned(v, kMaxLifetimeS, s.lifetimeS) || s.lifetimeS == 0)
        return fail(error, "want seconds, at least 1");
    return true;
}

const char kScenarioKey[] = "scenario";
const char kHelpKey[] = "help";

const OptionDef kOptions[] = {
    {"com", "PATH", "symlink to create to the pty slave (required), e.g. $WINEPREFIX/dosdevices/com5", applyCom},
    {kScenarioKey, "FILE", "read key=value lines (same keys, # comments); options given here win", nullptr},
    {"model", "XXX", "3-character model code of the description (default M30)", applyModel},
    {"options", "HEX", "26 hex digits: the 13 option bytes of the description (default zeros)", applyOptions},
    {"desc", "MODE", "description reply: ok|badcrc|zero|short|silent (default ok)", applyDesc},
    {"loader", "MODE", "probe replies: present|absent|silent (default present)", applyLoader},
    {"baud", "N", "answer probes only when the line is set to N baud (0: any)", applyBaud},
    {"apps", "NAME,...", "application names listed (default none)", applyApps},
    {"apps-endless", nullptr, "list application names without end, one every 100 ms", applyAppsEndless},
    {"announce", "MODE", "announce reply: ok|ko|silent (default ok)", applyAnnounce},
    {"auth", "MODE", "authorise reply: grant|refuse|silent (default grant)", applyAuth},
    {"start-status", "HEX", "status replied to a download start (default 55)", applyStartStatus},
    {"reject-block", "K:N", "answer KO to block K, N times, then go on", applyRejectBlock},
    {"stop-at", "K", "answer STOP to block K, then silence until the next command or probe", applyStopAt},
    {"silent-at", "K", "no reply to block K, nor after it until the next command or probe", applySilentAt},
    {"status-at", "K:HEX", "reply this status to block K, once per file", applyStatusAt},
    {"late-at", "K:MS", "take block K but reply to it MS ms late", applyLateAt},
    {"unplug-at", "K", "at block K the cable is pulled: the pty is closed, the COM link removed", applyUnplugAt},
    {"fault-file", "NAME", "block faults apply to this file only (default every file)", applyFaultFile},
    {"activate", "MODE", "activation reply: ok|ko|ko-first|silent|late:MS (default ok)", applyActivate},
    {"restart-silence", "MS", "silence after a restart, in ms, or never (default 2000)", applyRestartSilence},
    {"silent-from-restart", "N", "from the Nth restart on (1: the first), never answer again", applySilentFromRestart},
    {"options-from-restart", "N:HEX", "from the Nth restart on, describe with these 13 option bytes", applyOptionsFromRestart},
    {"pace", nullptr, "pace reading and replies at the line's baud rate", applyPace},
    {"outdir", "DIR", "write each received file here (NAME, or NAME.partial)", applyOutdir},
    {"log", "FILE", "one line per frame, reply and violation", applyLog},
    {"summary", "FILE", "JSON summary, rewritten after each file and at exit", applySummary},
    {"lifetime", "S", "exit by itself after S seconds (default 300)", applyLifetime},
    {kHelpKey, nullptr, "this text", nullptr},
};

const OptionDef* findOption(const std::string& name)
{
    for (const OptionDef& def : kOptions)
        if (name == def.name)
            return &def;
    return nullptr;
}

std::string trim(const std::string& text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool readWholeFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

std::string scenarioPath(const std::vector<Setting>& settings)
{
    std::string path;
    for (const Setting& s : settings)
        if (s.key == kScenarioKey)
            path = s.value;
    return path;
}

} // namespace

ParseOutcome collectCommandLine(int argc, const char* const* argv, std::vector<Setting>& out,
                                std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            error = "unexpected argument: " + arg;
            return ParseOutcome::Error;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos
                                                                           : equals - 2);
        const OptionDef* def = findOption(name);
        if (def == nullptr) {
            error = "unknown option: --" + name;
            return ParseOutcome::Error;
        }
        if (name == kHelpKey)
            return ParseOutcome::Help;
        Setting setting{name, "1", "command line"};
        if (equals != std::string::npos) {
            setting.value = arg.substr(equals + 1);
        } else if (def->arg != nullptr) {
            if (i + 1 >= argc) {
                error = "--" + name + " needs " + def->arg;
                return ParseOutcome::Error;
            }
            setting.value = argv[++i];
        }
        out.push_back(setting);
    }
    return ParseOutcome::Run;
}

bool collectScenarioText(const std::string& text, const std::string& fileName,
                         std::vector<Setting>& out, std::string& error)
{
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        const std::string line = trim(raw.substr(0, raw.find('#')));
        if (line.empty())
            continue;
        const std::string origin = fileName + ":" + std::to_string(lineNumber);
        const std::size_t equals = line.find('=');
        const std::string key = trim(line.substr(0, equals));
        const OptionDef* def = findOption(key);
        if (def == nullptr || key == kScenarioKey || key == kHelpKey) {
            error = origin + ": unknown key " + key;
            return false;
        }
        if (equals == std::string::npos && def->arg != nullptr) {
            error = origin + ": " + key + " needs =" + def->arg;
            return false;
        }
        out.push_back({key, equals == std::string::npos ? "1" : trim(line.substr(equals + 1)),
                       origin});
    }
    return true;
}

bool applySettings(const std::vector<Setting>& settings, Scenario& scenario, std::string& error)
{
    for (const Setting& s : settings) {
        const OptionDef* def = findOption(s.key);
        if (def == nullptr || def->apply == nullptr)
            continue;
        std::string why;
        if (!def->apply(s.value, scenario, why)) {
            error = s.origin + ": --" + s.key + " " + s.value + ": " + why;
            return false;
        }
    }
    return true;
}

ParseOutcome loadScenario(int argc, const char* const* argv, Scenario& scenario,
                          std::string& error)
{
    std::vector<Setting> given;
    const ParseOutcome outcome = collectCommandLine(argc, argv, given, error);
    if (outcome != ParseOutcome::Run)
        return outcome;
    std::vector<Setting> all;
    const std::string path = scenarioPath(given);
    if (!path.empty()) {
        std::string text;
        if (!readWholeFile(path, text)) {
            error = "cannot read scenario file " + path;
            return ParseOutcome::Error;
        }
        if (!collectScenarioText(text, path, all, error))
            return ParseOutcome::Error;
    }
    all.insert(all.end(), given.begin(), given.end());
    if (!applySettings(all, scenario, error))
        return ParseOutcome::Error;
    if (scenario.com.empty()) {
        error = "--com PATH is required";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

std::string usageText(const char* program)
{
    std::string text = std::string("usage: ") + program + " --com PATH [options]\n"
                       "Plays a card reader's loader on a pseudo-terminal.\n\n";
    for (const OptionDef& def : kOptions) {
        std::string left = std::string("  --") + def.name;
        if (def.arg != nullptr)
            left += std::string(" ") + def.arg;
        left.resize(std::max<std::size_t>(left.size() + 1, 26), ' ');
        text += left + def.help + "\n";
    }
    text += "\nK counts blocks within a file from 0. Exits after --lifetime, or on SIGTERM/SIGINT,\n"
            "with the summary written and the symlink removed.\n";
    return text;
}

} // namespace rsim
