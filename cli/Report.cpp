#include "Report.h"

#include <windows.h>

#include <cstdio>
#include <exception>

#include <nlohmann/json.hpp>

#include "winfw/FileTime.h"
#include "winfw/Handle.h"
#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

using Json = nlohmann::ordered_json;

// A Windows path or name of the ANSI code page, as UTF-8.
std::string Utf8(const std::string& ansi) { return AnsiToUtf8(ansi); }

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json FileJson(const RunRecord::File& file)
{
    Json entry;
    entry["name"] = Utf8(file.name);
    entry["module"] = Utf8(file.module);
    entry["bytes"] = file.bytes >= 0 ? Json(file.bytes) : Json(nullptr);
    entry["sent"] = file.sent;
    entry["seconds"] = file.seconds >= 0.0 ? Json(file.seconds) : Json(nullptr);
    return entry;
}

Json RunJson(const PortRun& run)
{
    Json entry;
    entry["port"] = run.port;
    entry["result"] = static_cast<int>(run.result);
    entry["message"] = run.message;
    entry["model"] = OrNull(run.record.model);
    entry["started"] = run.started;
    entry["finished"] = run.finished;
    entry["port_after_restart"] = OrNull(run.record.portAfterRestart);
    Json files = Json::array();
    for (const RunRecord::File& file : run.record.files)
        files.push_back(FileJson(file));
    entry["files"] = files;
    return entry;
}

bool WriteWhole(const std::string& path, const std::string& text)
{
    ScopedHandle file(Os().CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD written = 0;
    return Os().WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                          nullptr) != 0 &&
           written == text.size() && Os().FlushFileBuffers(file.Get()) != 0;
}

} // namespace

std::string IsoLocalNow()
{
    FILETIME utc, local;
    Os().GetSystemTimeAsFileTime(&utc);
    Os().FileTimeToLocalFileTime(&utc, &local);
    // The offset of the zone, as it stands now, in 100 ns ticks: its size is rounded to whole
    // minutes apart from its sign, so that a zone west of UTC is not a minute short.
    const bool west = TicksOf(local) < TicksOf(utc);
    const unsigned long long offsetTicks =
        west ? TicksOf(utc) - TicksOf(local) : TicksOf(local) - TicksOf(utc);
    const unsigned long long ticksPerMinute = 60 * kTicksPerSecond;
    const unsigned long long minutes = (offsetTicks + ticksPerMinute / 2) / ticksPerMinute;
    SYSTEMTIME time;
    ::FileTimeToSystemTime(&local, &time);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02llu:%02llu", time.wYear,
                  time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                  west ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string ReportJson(const UpdateReport& report)
{
    Json document;
    document["program"] = "OrvaneCli";
    document["version"] = OV_VERSION_TEXT;
    document["package"] = Utf8(report.package);
    document["started"] = report.started;
    document["finished"] = report.finished;
    document["result"] = report.result;
    Json runs = Json::array();
    for (const PortRun& run : report.runs)
        runs.push_back(RunJson(run));
    document["runs"] = runs;
    // A byte that is not UTF-8 is replaced rather than failing the whole report.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteReport(const std::string& path, const UpdateReport& report)
{
    std::string text;
    try {
        text = ReportJson(report);
    } catch (const std::exception&) {
        return false;
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%lu.tmp", Os().GetCurrentProcessId());
    const std::string temporary = path + suffix;
    if (!WriteWhole(temporary, text) ||
        !Os().MoveFileExA(temporary.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Os().DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}
