// What the simulated loader does: every behaviour the command line or a scenario file
// can choose.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Frames.h"

namespace rsim {

enum class ReplyMode { Ok, Ko, Silent };
enum class AuthMode { Grant, Refuse, Silent };

struct ActivateMode {
    // KoFirst refuses the first activation (the loader's own) and accepts the others.
    enum Kind { Ok, Ko, Silent, Late, KoFirst } kind = Ok;
    std::uint32_t lateMs = 0;
};

// Faults on the blocks of a download, by block number within a file.
struct BlockFaults {
    std::optional<std::uint32_t> rejectBlock;
    std::uint32_t rejectTimes = 0;
    std::optional<std::uint32_t> stopAt;
    std::optional<std::uint32_t> silentAt;
    std::optional<std::uint32_t> unplugAt; // the cable is pulled when this block comes
    std::optional<std::uint32_t> statusAtBlock;
    std::uint8_t statusAtValue = kAckNext;
    std::optional<std::uint32_t> lateAt; // this block is taken, its reply coming lateMs late
    std::uint32_t lateMs = 0;
    std::string onlyFile; // empty: every file
};

struct Scenario {
    std::string com;
    DescriptionContent description;
    DescMode desc = DescMode::Ok;
    LoaderMode loader = LoaderMode::Present;
    std::uint32_t baud = 0; // 0: answer at any rate
    std::vector<std::string> apps;
    bool appsEndless = false; // the application list never ends
    ReplyMode announce = ReplyMode::Ok;
    AuthMode auth = AuthMode::Grant;
    std::uint8_t startStatus = kAckNext;
    BlockFaults faults;
    ActivateMode activate;
    std::optional<std::uint32_t> restartSilenceMs = 2000; // empty: never answers again
    // From this restart on (1: the first), the reader never answers again.
    std::optional<std::uint32_t> silentFromRestart;
    // From this restart on, the description gives these option bytes: another reader.
    std::optional<std::uint32_t> optionsFromRestart;
    std::array<std::uint8_t, kOptionsLength> optionsAfterRestart{};
    bool pace = false;
    std::string outdir;
    std::string log;
    std::string summary;
    std::uint32_t lifetimeS = 300;
};

struct Setting {
    std::string key;
    std::string value;
    std::string origin; // for messages: "command line" or "FILE:LINE"
};

enum class ParseOutcome { Run, Help, Error };

// Options as given, in order; a scenario file is read but not applied.
ParseOutcome collectCommandLine(int argc, const char* const* argv, std::vector<Setting>& out,
                                std::string& error);
bool collectScenarioText(const std::string& text, const std::string& fileName,
                         std::vector<Setting>& out, std::string& error);
bool applySettings(const std::vector<Setting>& settings, Scenario& scenario, std::string& error);

// The whole chain: command line, the scenario file it names, command line over file.
ParseOutcome loadScenario(int argc, const char* const* argv, Scenario& scenario,
                          std::string& error);

std::string usageText(const char* program);

} // namespace rsim
