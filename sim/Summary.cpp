#include "Summary.h"

#include <cstdio>

namespace rsim {

double downloadSeconds(const Stats& stats)
{
    Micros total = 0;
    for (const FileRecord& f : stats.files)
        if (f.firstBlockAt != kNoTime && f.lastReplyAt >= f.firstBlockAt)
            total += f.lastReplyAt - f.firstBlockAt;
    return static_cast<double>(total) / 1e6;
}

std::uint64_t downloadBytes(const Stats& stats)
{
    std::uint64_t total = 0;
    for (const FileRecord& f : stats.files)
        total += f.data.size();
    return total;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

const char* jsonBool(bool value) { return value ? "true" : "false"; }

template <typename T, typename Format>
std::string jsonList(const std::vector<T>& items, Format format, const char* separator)
{
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : separator) + format(items[i]);
    return out + "]";
}

std::string fileJson(const FileRecord& f)
{
    return "{\"name\": " + jsonString(f.name) +
           ", \"announced_size\": " + std::to_string(f.announced) +
           ", \"received\": " + std::to_string(f.data.size()) +
           ", \"blocks\": " + std::to_string(f.blocks) +
           ", \"resends\": " + std::to_string(f.resends) +
           ", \"complete\": " + jsonBool(f.complete) + ", \"crc_ok\": " + jsonBool(f.crcOk) + "}";
}

std::string commandsJson(const std::map<int, std::uint32_t>& commands)
{
    std::string out = "{";
    for (const auto& entry : commands) {
        if (out.size() > 1)
            out += ", ";
        out += "\"" + std::to_string(entry.first) + "\": " + std::to_string(entry.second);
    }
    return out + "}";
}

} // namespace

std::string summaryJson(const Stats& stats)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", downloadSeconds(stats));
    const auto number = [](std::uint32_t v) { return std::to_string(v); };
    std::string out = "{\n";
    out += "  \"probes_a\": " + number(stats.probesA) + ",\n";
    out += "  \"probes_b\": " + number(stats.probesB) + ",\n";
    out += "  \"probe_bauds\": " + jsonList(stats.probeBauds, number, ", ") + ",\n";
    out += "  \"commands\": " + commandsJson(stats.commands) + ",\n";
    out += "  \"files\": " + jsonList(stats.files, fileJson, ",\n    ") + ",\n";
    out += "  \"blocks\": " + number(stats.blocks) + ",\n";
    out += "  \"resends\": " + number(stats.resends) + ",\n";
    out += "  \"activations\": " + number(stats.activations) + ",\n";
    out += "  \"restarts\": " + number(stats.restarts) + ",\n";
    out += "  \"violations\": " + std::to_string(stats.violations.size()) + ",\n";
    out += "  \"violation_list\": " + jsonList(stats.violations, jsonString, ",\n    ") + ",\n";
    out += "  \"download_seconds\": " + std::string(seconds) + ",\n";
    out += "  \"download_bytes\": " + std::to_string(downloadBytes(stats)) + "\n";
    return out + "}\n";
}

} // namespace rsim
