// `check`: what the update would decide about the reader and the package in the current
// directory, step by step, without sending anything.
#pragma once
#include <string>

class CTerminal;

// Exit codes beyond the update's own result codes.
constexpr int kCheckReaderNotFound = 30;

int RunCheck(CTerminal& terminal, const std::string& portText);
