// `check`: what the update would decide about the reader and the package in the current
// directory, step by step, without sending anything; on one reader or on several at once.
#pragma once
#include <string>

#include "ExitCodes.h"
#include "UpdateCommand.h"

// Checks the readers the request names (its record unused): one port alone says each step
// and the load list; several ports, --auto or --all give one line per port
// "COMn<TAB>VERDICT<TAB>MODEL<TAB>REASON". Writes the report when asked. Exits with the
// first verdict that is not 0, in the ports' order.
ExitStatus RunChecks(const UpdateRequest& request);
