// What a run saw, as the summary reports it.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Frames.h"

namespace rsim {

using Micros = std::int64_t;
constexpr Micros kNoTime = -1;

struct FileRecord {
    std::string name;
    std::uint32_t announced = 0;
    Bytes data;
    std::uint32_t blocks = 0;
    std::uint32_t resends = 0;
    bool started = false;
    bool complete = false;
    bool crcOk = true;
    bool stored = false;
    Micros firstBlockAt = kNoTime;
    Micros lastReplyAt = kNoTime;
};

struct Stats {
    std::uint32_t probesA = 0;
    std::uint32_t probesB = 0;
    std::vector<std::uint32_t> probeBauds;
    std::map<int, std::uint32_t> commands;
    std::vector<FileRecord> files;
    std::uint32_t blocks = 0;
    std::uint32_t resends = 0;
    std::uint32_t activations = 0;
    std::uint32_t restarts = 0;
    std::vector<std::string> violations;
    std::uint32_t completedFiles = 0;
};

double downloadSeconds(const Stats& stats);
std::uint64_t downloadBytes(const Stats& stats);

} // namespace rsim
