// `update`: a whole update without windows, in the package directory, on the console.
#pragma once
#include <string>

#include "engine/RunResult.h"

class CTerminal;

// Runs the update on the reader of `portText`; returns the run result.
RunResult RunUpdate(CTerminal& terminal, const std::string& portText);
