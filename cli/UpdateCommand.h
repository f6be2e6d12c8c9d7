// `update`: a whole update without windows, in the package directory, on the console.
#pragma once
#include <string>

class CTerminal;

// Runs the update on the reader of `portText`; returns the run result code.
int RunUpdate(CTerminal& terminal, const std::string& portText);
