// `update`: whole updates without windows, in the package directory, on the console: on
// one port, on the port the main window would choose, or on several readers at once.
#pragma once
#include <string>
#include <vector>

#include "ExitCodes.h"

struct UpdateRequest {
    enum class Ports { Named, Auto, All };
    Ports ports = Ports::Named;
    std::vector<std::string> named;  // port-list texts, for Named
    std::string reportPath;          // where the JSON report goes; none when empty
    std::string recordName;          // the machine's record written at the end; none when empty
    bool verify = false;             // each reader found and read again after its final restart
    bool watch = false;              // readers updated as they are plugged in, until asked to end
};

class ArgumentReader;

// Reads `update`'s arguments: PORT..., --auto, --all or --watch (which implies --verify and
// takes no record), and --report FILE, --record NAME and --verify anywhere. False,
// the reader holding the reason, when they do not make one request.
bool ParseUpdateArguments(ArgumentReader& args, UpdateRequest& request);

// The port texts the request names, or the maker's readers of the port list (the first of
// them for --auto), each said on standard error after `command`.
std::vector<std::string> PortTexts(const UpdateRequest& request, const std::string& command);

// Runs the updates the request names, writes the report and the record when asked, and says
// what the command exits with. A record that cannot be opened for writing refuses the command
// before any reader is touched.
ExitStatus RunUpdates(const UpdateRequest& request);
