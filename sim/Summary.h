// The machine-readable end of a run.
#pragma once
#include <string>

#include "Stats.h"

namespace rsim {

std::string summaryJson(const Stats& stats);
std::string jsonString(const std::string& text);

} // namespace rsim
