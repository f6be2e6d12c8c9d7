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
};

class ArgumentReader;

// Reads `update`'s arguments: PORT..., --auto or --all, and --report FILE, --record NAME and
// --verify anywhere. False,
// the reader holding the reason, when they do not make one request.
bool ParseUpdateArguments(ArgumentReader& args, UpdateRequest& request);

// Runs the updates the request names, writes the report and the record when asked, and says
// what the command exits with. A record that cannot be opened for writing refuses the command
// before any reader is touched.
ExitStatus RunUpdates(const UpdateRequest& request);
