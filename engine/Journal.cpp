#include "Journal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "winfw/FileTime.h"
#include "winfw/Handle.h"
#include "winfw/KnownPlaces.h"
#include "winfw/OsSeam.h"
#include "winfw/Text.h"

namespace {

constexpr char kJournalPattern[] = "*.log";
// Names of one second and one port, told apart by their suffix: far more than one
// person can start.
constexpr int kMaxAttempts = 100;

std::vector<std::string> JournalNames(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found = {};
    ScopedFind search((directory + "\\" + kJournalPattern).c_str(), &found);
    if (!search.IsValid())
        return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.emplace_back(found.cFileName);
    } while (search.Next(&found));
    return names;
}

// "YYYYMMDD": how a journal's name starts, so that names sort by day.
std::string DayDigits(const SYSTEMTIME& time)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04u%02u%02u", time.wYear, time.wMonth, time.wDay);
    return digits;
}

// The day digits of `days` days before today; empty (nothing counts as older) when the
// clock cannot be read back.
std::string DayDigitsBefore(int days)
{
    SYSTEMTIME now = {};
    Os().GetLocalTime(&now);
    FILETIME time = {};
    if (!::SystemTimeToFileTime(&now, &time))
        return std::string();
    const unsigned long long ticksPerDay = 24ULL * 60 * 60 * kTicksPerSecond;
    const FILETIME before =
        FileTimeOf(TicksOf(time) - static_cast<unsigned long long>(days) * ticksPerDay);
    SYSTEMTIME day = {};
    if (!::FileTimeToSystemTime(&before, &day))
        return std::string();
    return DayDigits(day);
}

} // namespace

std::shared_ptr<const JournalFolder> OpenJournalFolder()
{
    auto folder = std::make_shared<JournalFolder>();
    const RunningAccount account = CurrentAccount();
    // LocalSystem's own profile is where nobody looks: a deployment tool's runs keep their
    // journals with the machine's data, in a folder only SYSTEM and Administrators change.
    const std::wstring base = KnownFolderWidePath(account.localSystem ? FOLDERID_ProgramData
                                                                      : FOLDERID_LocalAppData);
    const PSID user = account.localSystem ? nullptr : account.Sid();
    const std::wstring sddl = account.localSystem ? std::wstring(kMachineFolderSddl)
                                                  : UserFolderSddl(user);
    const std::wstring orvane = base + L"\\Orvane";
    folder->m_path = orvane + L"\\Journal";
    if (base.empty() || sddl.empty()) {
        folder->m_refusal = "no folder for the journals can be had";
        return folder;
    }
    const std::wstring* failed = &orvane;
    Judgement judgement = HoldFolder(orvane, sddl, user, folder->m_orvane);
    if (judgement.fault == FolderFault::Sound) {
        failed = &folder->m_path;
        judgement = HoldFolder(folder->m_path, sddl, user, folder->m_journal);
    }
    if (judgement.fault == FolderFault::Sound)
        folder->m_finalPath = FinalPathOf(folder->m_journal.Handle());
    if (judgement.fault != FolderFault::Sound || folder->m_finalPath.empty()) {
        folder->m_journal.Release();
        folder->m_orvane.Release();
        folder->m_refusal = WideToAnsi(*failed) + " (owner " +
                            (judgement.owner.empty() ? std::string("unknown")
                                                     : WideToAnsi(judgement.owner)) +
                            "): " + FolderFaultText(judgement.fault);
    }
    return folder;
}

std::string JournalFileName(const SYSTEMTIME& start, const std::string& portName, int attempt)
{
    std::string port;
    for (char c : portName)
        if (std::isalnum(static_cast<unsigned char>(c)))
            port += c;
    char clock[16];
    std::snprintf(clock, sizeof clock, "-%02u%02u%02u-", start.wHour, start.wMinute, start.wSecond);
    std::string name = DayDigits(start) + clock + port;
    if (attempt > 1)
        name += "-" + std::to_string(attempt);
    return name + ".log";
}

std::string JournalLine(const SYSTEMTIME& at, const char* text)
{
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u ", at.wHour, at.wMinute, at.wSecond,
                  at.wMilliseconds);
    return stamp + std::string(text != nullptr ? text : "") + "\r\n";
}

RunJournal::RunJournal(const JournalFolder* folder, const std::string& portName)
{
    if (folder == nullptr || !folder->IsHeld())
        return;
    SYSTEMTIME start = {};
    Os().GetLocalTime(&start);
    for (int attempt = 1; attempt <= kMaxAttempts && !m_file.IsValid(); ++attempt) {
        const std::wstring path =
            folder->Path() + L"\\" + AnsiToWide(JournalFileName(start, portName, attempt));
        m_file.Reset(Os().CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_file.IsValid())
            m_path = WideToAnsi(path);
        else if (Os().GetLastError() != ERROR_FILE_EXISTS)
            return;
    }
    if (m_file.IsValid())
        DeleteOldest(*folder);
}

void RunJournal::Line(const char* text)
{
    if (!IsOpen())
        return;
    SYSTEMTIME now = {};
    Os().GetLocalTime(&now);
    const std::string line = JournalLine(now, text);
    DWORD written = 0;
    // A line that cannot be written is lost; the run goes on as if nothing happened.
    if (!Os().WriteFile(m_file.Get(), line.data(), static_cast<DWORD>(line.size()), &written,
                        nullptr))
        m_file.Reset();
}

void RunJournal::DeleteOldest(const JournalFolder& folder)
{
    const std::string directory = WideToAnsi(folder.Path());
    std::vector<std::string> names = JournalNames(directory);
    if (names.size() <= kKeptFiles)
        return;
    // The names start with the start time: their order is the runs' order, and a name
    // that sorts before the first day kept is older than that day.
    std::sort(names.begin(), names.end());
    const std::string firstDayKept = DayDigitsBefore(kKeptDays);
    for (std::size_t i = 0; i + kKeptFiles < names.size(); ++i)
        if (names[i] < firstDayKept || i + kMostFiles < names.size())
            Os().DeleteFileA((directory + "\\" + names[i]).c_str());
}
