#include "Report.h"

#include <windows.h>

#include <cstdio>
#include <exception>

#include <nlohmann/json.hpp>

#include "winfw/FileTime.h"
#include "winfw/FolderRule.h"
#include "winfw/Handle.h"
#include "winfw/HeldFolder.h"
#include "winfw/KnownPlaces.h"
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
    entry["sha256"] = OrNull(file.sha256);
    return entry;
}

// The reader as it answered after its final restart.
Json AfterJson(const RunRecord::Reader& reader)
{
    Json entry;
    entry["model"] = reader.model;
    entry["options"] = reader.options;
    entry["description"] = reader.description;
    Json applications = Json::array();
    for (const std::string& name : reader.applications)
        applications.push_back(Utf8(name));
    entry["applications"] = applications;
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
    entry["description"] = OrNull(run.record.description);
    entry["verified"] = run.record.verified;
    entry["after"] = run.record.after ? AfterJson(*run.record.after) : Json(nullptr);
    entry["journal"] = OrNull(Utf8(run.record.journal));
    Json files = Json::array();
    for (const RunRecord::File& file : run.record.files)
        files.push_back(FileJson(file));
    entry["files"] = files;
    return entry;
}

bool WriteWhole(HANDLE file, const std::string& text)
{
    DWORD written = 0;
    return Os().WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
           written == text.size() && Os().FlushFileBuffers(file) != 0;
}

// "PATH.<16 hex digits>.tmp" from the system's random source: a name nobody can make first.
bool TemporaryName(const std::string& path, std::string& name)
{
    unsigned char bytes[8];
    if (!Os().RtlGenRandom(bytes, sizeof bytes))
        return false;
    char hex[2 * sizeof bytes + 1];
    for (std::size_t i = 0; i < sizeof bytes; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
    name = path + "." + hex + ".tmp";
    return true;
}

// Names tried before the random source is taken to be broken.
constexpr int kNameTries = 8;

// A new temporary file beside `path`, never one that was already there.
HANDLE CreateTemporary(const std::string& path, bool protect, std::string& temporary)
{
    const DWORD access = GENERIC_WRITE | DELETE | (protect ? WRITE_DAC | WRITE_OWNER : 0);
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!TemporaryName(path, temporary))
            return INVALID_HANDLE_VALUE;
        // Shared for deletion alone: the move into place renames it while it is held.
        const HANDLE file = Os().CreateFileW(AnsiToWide(temporary).c_str(), access,
                                             FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || Os().GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

// The zone's local time of one UTC instant; false when the zone cannot give it.
bool LocalTimeOf(const SYSTEMTIME& utc, SYSTEMTIME& local)
{
    if (Os().SystemTimeToTzSpecificLocalTimeEx != nullptr)
        return Os().SystemTimeToTzSpecificLocalTimeEx(nullptr, &utc, &local) != 0;
    return Os().SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) != 0;
}

// Local minus UTC in minutes, both readings of one instant; false when either is no date.
bool OffsetMinutes(const SYSTEMTIME& utc, const SYSTEMTIME& local, long& minutes)
{
    FILETIME u = {}, l = {};
    if (!::SystemTimeToFileTime(&utc, &u) || !::SystemTimeToFileTime(&local, &l))
        return false;
    const long long ticks = static_cast<long long>(TicksOf(l)) - static_cast<long long>(TicksOf(u));
    minutes = static_cast<long>(ticks / static_cast<long long>(60 * kTicksPerSecond));
    return true;
}

std::string IsoDateTime(const SYSTEMTIME& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
    return text;
}

// Another process (an anti-virus scanning the new file, an indexer) may hold the target
// for a moment: the move is tried again over about a second before the report is given up.
constexpr int kMoveTries = 5;
constexpr DWORD kMovePauseMs = 250;

bool IsBrieflyHeld(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool MoveIntoPlace(const std::string& from, const std::string& to)
{
    for (int attempt = 1;; ++attempt) {
        if (Os().MoveFileExA(from.c_str(), to.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (attempt == kMoveTries || !IsBrieflyHeld(Os().GetLastError()))
            return false;
        Os().Sleep(kMovePauseMs);
    }
}

} // namespace

std::string IsoLocalNow()
{
    // One reading of the clock: a time and an offset read apart are an hour off when the
    // zone changes between them.
    SYSTEMTIME utc = {};
    Os().GetSystemTime(&utc);
    SYSTEMTIME local = {};
    long offset = 0;
    if (!LocalTimeOf(utc, local) || !OffsetMinutes(utc, local, offset))
        return IsoDateTime(utc) + "Z";
    const long minutes = offset < 0 ? -offset : offset;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return IsoDateTime(local) + zone;
}

namespace {

// The document's top-level fields, its runs left to the caller.
Json ReportHead(const UpdateReport& report)
{
    Json document;
    document["program"] = "OrvaneCli";
    document["version"] = OV_VERSION_TEXT;
    document["package"] = Utf8(report.package);
    document["started"] = report.started;
    document["finished"] = report.finished;
    document["result"] = report.watching ? Json() : Json(report.result);
    document["package_writable"] = report.packageWritable;
    return document;
}

// A byte that is not UTF-8 is replaced rather than failing the whole report.
std::string DocumentText(const Json& document)
{
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json CheckRunJson(const CheckRun& run)
{
    Json entry;
    entry["port"] = run.port;
    entry["verdict"] = run.verdict;
    entry["reason"] = run.reason;
    entry["model"] = OrNull(run.model);
    entry["options"] = OrNull(run.options);
    Json applications = Json::array();
    for (const std::string& name : run.applications)
        applications.push_back(Utf8(name));
    entry["applications"] = run.applicationsRead ? applications : Json(nullptr);
    Json files = Json::array();
    for (const RunRecord::File& file : run.files)
        files.push_back({{"name", Utf8(file.name)},
                         {"module", Utf8(file.module)},
                         {"bytes", file.bytes >= 0 ? Json(file.bytes) : Json(nullptr)},
                         {"sha256", OrNull(file.sha256)}});
    entry["files"] = files;
    return entry;
}

// Writes `text` to `path` through a temporary file beside it (see WriteReport).
bool PlaceReport(const std::string& path, const std::string& text)
{
    const bool protect = RunsElevated();
    std::string temporary;
    ScopedHandle file(CreateTemporary(path, protect, temporary));
    if (!file.IsValid())
        return false;
    // Protected before the move: a report planted there is replaced by one its planter
    // cannot change.
    const bool placed = WriteWhole(file.Get(), text) &&
                        (!protect || ProtectWith(file.Get(), kMachineFolderSddl)) &&
                        MoveIntoPlace(temporary, path);
    if (!placed)
        DeleteThroughHandle(file.Get());
    return placed;
}

} // namespace

std::string ReportJson(const UpdateReport& report)
{
    Json document = ReportHead(report);
    Json runs = Json::array();
    for (const PortRun& run : report.runs)
        runs.push_back(RunJson(run));
    document["runs"] = runs;
    return DocumentText(document);
}

std::string CheckReportJson(const UpdateReport& head, const std::vector<CheckRun>& runs)
{
    Json document = ReportHead(head);
    Json entries = Json::array();
    for (const CheckRun& run : runs)
        entries.push_back(CheckRunJson(run));
    document["runs"] = entries;
    return DocumentText(document);
}

bool HoldReportFolder(const std::string& path, HeldObject& folder, std::string& reason)
{
    if (!CurrentAccount().localSystem)
        return true;
    wchar_t full[MAX_PATH];
    const DWORD length = Os().GetFullPathNameW(AnsiToWide(path).c_str(), MAX_PATH, full, nullptr);
    const std::wstring parent =
        length > 0 && length < MAX_PATH ? ParentOf(std::wstring(full, length)) : std::wstring();
    const Judgement judgement = parent.empty() ? Judgement()
                                               : HoldExisting(parent, ObjectKind::Folder, nullptr, folder);
    if (judgement.fault == FolderFault::Sound)
        return true;
    reason = RefusalText(parent, judgement);
    return false;
}

bool WriteReport(const std::string& path, const UpdateReport& report)
{
    std::string text;
    try {
        text = ReportJson(report);
    } catch (const std::exception&) {
        return false;
    }
    return PlaceReport(path, text);
}

bool WriteCheckReport(const std::string& path, const UpdateReport& head,
                      const std::vector<CheckRun>& runs)
{
    std::string text;
    try {
        text = CheckReportJson(head, runs);
    } catch (const std::exception&) {
        return false;
    }
    return PlaceReport(path, text);
}
