// `check`: what the update would decide about the reader and the package in the current
// directory, step by step, without sending anything.
#pragma once
#include <string>

#include "ExitCodes.h"

class CTerminal;

// The result the update would end with (RUN_SUCCEEDED when it would be allowed), or
// ExitStatus::ReaderNotFound.
ExitStatus RunCheck(CTerminal& terminal, const std::string& portText);
