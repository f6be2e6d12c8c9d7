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

// Names of one second and one port, told apart by their suffix: far more than one
// person can start.
constexpr int kMaxAttempts = 100;

bool IsDigits(const std::wstring& text, std::size_t from, std::size_t count)
{
    if (from + count > text.size())
        return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool IsLetterOrDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// The names in the folder of the journal's own form, by their long names only: a search
// for "*.log" would also match the short name of "x.logx".
std::vector<std::wstring> JournalNames(const JournalFolder& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    const HANDLE search = Os().FindFirstFileW((folder.Path() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (IsJournalName(found.cFileName))
            names.emplace_back(found.cFileName);
    } while (Os().FindNextFileW(search, &found));
    Os().FindClose(search);
    return names;
}

// Deletes the journal `name` through a handle: only a plain file, not a link, whose final
// path lies in the held folder itself.
void DeleteJournal(const JournalFolder& folder, const std::wstring& name)
{
    ScopedHandle file(Os().CreateFileW((folder.Path() + L"\\" + name).c_str(),
                                       DELETE | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
    if (!file.IsValid())
        return;
    FILE_BASIC_INFO basic = {};
    if (!Os().GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return;
    const std::wstring finalPath = FinalPathOf(file.Get());
    if (finalPath.empty() || !SamePath(ParentOf(finalPath), folder.FinalPath()))
        return;
    DeleteThroughHandle(file.Get());
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
        folder->m_refusal = RefusalText(*failed, judgement);
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

bool IsJournalName(const std::wstring& name)
{
    // YYYYMMDD-HHMMSS-PORT[-K].log, the port of letters and digits, K from 2.
    constexpr std::size_t kStamp = 16;
    const std::wstring extension = L".log";
    if (name.size() <= kStamp + extension.size() || !IsDigits(name, 0, 8) || name[8] != L'-' ||
        !IsDigits(name, 9, 6) || name[15] != L'-' ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
        return false;
    const std::wstring rest = name.substr(kStamp, name.size() - kStamp - extension.size());
    const std::size_t dash = rest.find(L'-');
    const std::wstring port = rest.substr(0, dash);
    if (port.empty() || !std::all_of(port.begin(), port.end(), IsLetterOrDigit))
        return false;
    if (dash == std::wstring::npos)
        return true;
    const std::wstring attempt = rest.substr(dash + 1);
    return !attempt.empty() && attempt.size() <= 3 && attempt[0] != L'0' &&
           IsDigits(attempt, 0, attempt.size()) && attempt != L"1";
}

void RunJournal::DeleteOldest(const JournalFolder& folder)
{
    std::vector<std::wstring> names = JournalNames(folder);
    if (names.size() <= kKeptFiles)
        return;
    // The names start with the start time: their order is the runs' order, and a name
    // that sorts before the first day kept is older than that day.
    std::sort(names.begin(), names.end());
    const std::wstring firstDayKept = AnsiToWide(DayDigitsBefore(kKeptDays));
    for (std::size_t i = 0; i + kKeptFiles < names.size(); ++i)
        if (names[i] < firstDayKept || i + kMostFiles < names.size())
            DeleteJournal(folder, names[i]);
}
