// What `OrvaneCli update` leaves for a deployment tool: the report's times and its file,
// and the run's event in the Application log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "FakeFolders.h"
#include "FakeOs.h"
#include "ScratchDir.h"
#include "cli/PackageTrust.h"
#include "cli/Registration.h"
#include "cli/Report.h"
#include "cli/RunEvent.h"
#include "cli/UpdateCommand.h"
#include "winfw/FolderRule.h"
#include "winfw/HeldFolder.h"
#include "winfw/Text.h"

namespace {

TEST(Report, ATimeAndItsOffsetAreOneInstant)
{
    // Paris in 2026: summer time from 29 March to 25 October, 01:00 UTC both. Every reading
    // of the clock takes a millisecond, so a time and an offset read apart straddle a switch.
    const SYSTEMTIME summerFrom = {2026, 3, 0, 29, 1, 0, 0, 0};
    const SYSTEMTIME summerUntil = {2026, 10, 0, 25, 1, 0, 0, 0};
    const struct {
        const char* name;
        SYSTEMTIME utc;
        LONG bias;        // UTC minus standard local time, minutes
        bool paris;       // with Paris's summer time
        bool unreadable;
        bool withoutEx;   // a system without SystemTimeToTzSpecificLocalTimeEx
        const char* expected;
    } cases[] = {
        {"west", {2026, 12, 0, 8, 13, 30, 0, 0}, 240, false, false, false, "2026-12-08T09:30:00-04:00"},
        {"east by a half hour", {2026, 12, 0, 8, 4, 0, 0, 0}, -330, false, false, false,
         "2026-12-08T09:30:00+05:30"},
        {"west, the day and year before UTC's", {2027, 1, 0, 1, 2, 15, 0, 0}, 300, false, false, false,
         "2026-12-31T21:15:00-05:00"},
        {"summer time ends a millisecond later", {2026, 10, 0, 25, 0, 59, 59, 999}, -60, true, false, false,
         "2026-10-25T02:59:59+02:00"},
        {"summer time starts a millisecond later", {2026, 3, 0, 29, 0, 59, 59, 999}, -60, true, false, false,
         "2026-03-29T01:59:59+01:00"},
        {"no Ex form", {2026, 12, 0, 8, 8, 30, 0, 0}, -60, true, false, true, "2026-12-08T09:30:00+01:00"},
        {"unreadable zone", {2026, 12, 0, 8, 8, 30, 0, 0}, -60, true, true, false, "2026-12-08T08:30:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        os.utcStart = c.utc;
        os.msPerClockRead = 1;
        os.zoneBias = c.bias;
        if (c.paris) {
            os.daylightBias = -60;
            os.daylightFrom = summerFrom;
            os.daylightUntil = summerUntil;
        }
        os.zoneUnreadable = c.unreadable;
        if (c.withoutEx)
            Os().SystemTimeToTzSpecificLocalTimeEx = nullptr;
        EXPECT_EQ(IsoLocalNow(), c.expected);
    }
}

TEST(Report, ARenameBrieflyRefusedIsTriedAgainForASecond)
{
    const struct {
        const char* name;
        int heldMoves;
        DWORD error;
        bool written;
        int moves;
        DWORD waited;
    } cases[] = {
        {"free", 0, ERROR_SHARING_VIOLATION, true, 1, 0},
        {"scanned for three tries", 3, ERROR_SHARING_VIOLATION, true, 4, 750},
        {"denied while scanned", 2, ERROR_ACCESS_DENIED, true, 3, 500},
        {"held for good", 100, ERROR_SHARING_VIOLATION, false, 5, 1000},
        {"a failure no wait mends", 100, ERROR_DISK_FULL, false, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOsOnRealFiles os;
        ScratchDir dir("ovreport");
        os.heldMoves = c.heldMoves;
        os.heldError = c.error;
        UpdateReport report;
        report.result = 21;
        const std::string path = dir.Path() + "\\rapport.json";
        EXPECT_EQ(WriteReport(path, report), c.written);
        EXPECT_EQ(os.moves, c.moves);
        EXPECT_EQ(os.TotalSleep(), c.waited);
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("\"result\": 21") != std::string::npos, c.written) << text;
        // No temporary file is left beside it, written or not.
        WIN32_FIND_DATAA found = {};
        const HANDLE search = ::FindFirstFileA((dir.Path() + "\\*.tmp").c_str(), &found);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
        if (search != INVALID_HANDLE_VALUE)
            ::FindClose(search);
    }
}

// A report SYSTEM writes where a standard user of the same PC may have been first: only a
// folder that passes the folder rule is written in, and the report ends up SYSTEM's and
// Administrators' whatever was planted there.
TEST(Report, OnlyTheRunCanHaveWrittenTheReport)
{
    using Kind = FakeFolders::Kind;
    using Account = FakeFolders::Account;
    const std::wstring user = FakeFolders::kUserSid;
    const std::wstring usersOwn = L"O:" + user + L"D:(A;;FA;;;" + user + L")";
    const struct {
        const char* name;
        Account account;
        const wchar_t* folder;
        void (*arrange)(FakeFolders&, const std::wstring& folder, const std::wstring& report);
        bool refused;   // exit 2 before any run
        bool written;
    } cases[] = {
        {"a planted report is replaced", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring& report) {
             f.Put(folder, Kind::Folder, kMachineFolderSddl);
             f.Put(report, Kind::File, L"O:" + std::wstring(FakeFolders::kUserSid) + L"D:(A;;FA;;;BU)",
                   L"", "{\"result\":0}");
         }, false, true},
        {"planted temporary names are passed over", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring& report) {
             f.Put(folder, Kind::Folder, kMachineFolderSddl);
             const std::wstring planted = L"O:" + std::wstring(FakeFolders::kUserSid) + L"D:(A;;FA;;;BU)";
             f.Put(report + L".0000000000000000.tmp", Kind::File, planted, L"", "planted");
             f.Put(report + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp", Kind::File,
                   planted, L"", "planted");
         }, false, true},
        {"a planted report held open", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring& report) {
             f.Put(folder, Kind::Folder, kMachineFolderSddl);
             f.Put(report, Kind::File, L"O:" + std::wstring(FakeFolders::kUserSid) + L"D:(A;;FA;;;BU)",
                   L"", "{\"result\":0}");
             // The user's process holds it, without FILE_SHARE_DELETE, for good.
             f.account = Account::StandardUser;
             ASSERT_NE(Os().CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
             f.account = Account::LocalSystem;
         }, false, false},
        {"a folder a user made first", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring&) {
             ASSERT_TRUE(f.UserCreates(folder, Kind::Folder));
         }, true, false},
        {"a junction where the folder belongs", Account::LocalSystem, L"C:\\ProgramData\\Orvane",
         [](FakeFolders& f, const std::wstring& folder, const std::wstring&) {
             ASSERT_TRUE(f.UserCreates(folder, Kind::Folder, L"C:\\Users\\user\\AppData\\Local"));
         }, true, false},
        {"a standard user's own folder", Account::StandardUser, L"C:\\Users\\user\\AppData\\Local",
         [](FakeFolders&, const std::wstring&, const std::wstring&) {}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        FakeFolders folders;
        folders.account = c.account;
        // Random bytes 00..., then 01..., and so on.
        static BYTE next;
        next = 0;
        Os().RtlGenRandom = [](PVOID buffer, ULONG size) -> BOOLEAN {
            std::memset(buffer, next++, size);
            return TRUE;
        };
        const std::wstring folder = c.folder;
        const std::wstring report = folder + L"\\rapport.json";
        c.arrange(folders, folder, report);
        folders.created.clear();
        folders.written.clear();
        const std::vector<std::wstring> before = folders.Names(folder);
        const auto planted = [&folders, &before, &folder] {
            std::vector<std::wstring> names;
            for (const std::wstring& name : before)
                if (name.find(L".tmp") != std::wstring::npos)
                    names.push_back(folder + L"\\" + name);
            return names;
        }();
        if (c.refused) {
            UpdateRequest request;
            request.named = {"COM8"};
            request.reportPath = WideToAnsi(report);
            EXPECT_EQ(RunUpdates(request).Code(), 2);
            EXPECT_TRUE(os.opened.empty());
            EXPECT_TRUE(folders.created.empty());
            EXPECT_TRUE(folders.written.empty());
            continue;
        }
        UpdateReport written;
        written.result = 21;
        EXPECT_EQ(WriteReport(WideToAnsi(report), written), c.written);
        EXPECT_EQ(folders.Content(report).find("\"result\": 21") != std::string::npos, c.written);
        for (const std::wstring& name : planted)
            EXPECT_EQ(folders.Content(name), "planted") << WideToAnsi(name);
        // No temporary file of the run is left, written or not.
        std::vector<std::wstring> after = folders.Names(folder);
        after.erase(std::remove(after.begin(), after.end(), L"rapport.json"), after.end());
        std::vector<std::wstring> expected = before;
        expected.erase(std::remove(expected.begin(), expected.end(), L"rapport.json"), expected.end());
        EXPECT_EQ(after, expected);
        if (!c.written)
            continue;
        const std::wstring owner = c.account == Account::LocalSystem ? L"S-1-5-32-544" : user;
        EXPECT_EQ(folders.Sddl(report).compare(0, 2 + owner.size(), L"O:" + owner), 0)
            << WideToAnsi(folders.Sddl(report));
        if (c.account == Account::LocalSystem) {
            EXPECT_EQ(folders.Sddl(report),
                      L"O:S-1-5-32-544D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)"
                      L"(A;OICI;0x1200a9;;;S-1-5-32-545)");
        }
    }
}

// The README's table of event types, as the build put it in the test program: the IDs of
// the Information and Warning rows, each with its type; the Error row takes every other ID.
std::map<DWORD, WORD> ReadmeEventTypes()
{
    const HRSRC found = ::FindResourceA(nullptr, "README_MD", RT_RCDATA);
    const void* bytes = found != nullptr ? ::LockResource(::LoadResource(nullptr, found)) : "";
    const std::string readme(static_cast<const char*>(bytes), found ? ::SizeofResource(nullptr, found) : 0);
    const std::regex row(R"(\n\| (Information|Warning) \| ([^|]*)\|)"), id(R"(\d+)");
    std::map<DWORD, WORD> types;
    for (std::sregex_iterator r(readme.begin(), readme.end(), row), end; r != end; ++r) {
        const std::string ids = (*r)[2];
        for (std::sregex_iterator i(ids.begin(), ids.end(), id); i != end; ++i)
            types[std::stoul(i->str())] =
                (*r)[1] == "Warning" ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE;
    }
    return types;
}

// Whoever runs it, a run leaves the source's key as the administrator's `register` made it.
TEST(RunEvent, EachResultHasTheTypeAndIdOfTheReadmesTableAndNeverWritesTheSource)
{
    const std::map<DWORD, WORD> types = ReadmeEventTypes();
    ASSERT_TRUE(types.count(1000) == 1 && types.size() > 1) << "no table of event types";
    // A success as SYSTEM from a package users may change is a warning for the administrator.
    for (const bool system : {false, true})
    for (int result = 0; result <= kLastRunResult; ++result) {
        SCOPED_TRACE(result);
        SCOPED_TRACE(system ? "LocalSystem, package writable" : "a standard user");
        FakeOs os;
        os.localSystem = system;
        PortRun run;
        run.port = "COM7";
        run.result = static_cast<RunResult>(result);
        run.packageWritable = system;
        run.message = "La mise à jour s'est effectuée avec succès";
        run.record.model = "M30";
        run.record.journal = "C:\\ProgramData\\Orvane\\Journal\\20261208-093000-COM7.log";
        WriteRunEvent(run);
        ASSERT_EQ(os.events.size(), 1u);
        const DWORD id = 1000u + static_cast<DWORD>(result);
        const auto listed = types.find(id);
        const WORD type = listed != types.end() ? listed->second : EVENTLOG_ERROR_TYPE;
        EXPECT_EQ(os.events[0].type,
                  system && type == EVENTLOG_INFORMATION_TYPE ? EVENTLOG_WARNING_TYPE : type);
        EXPECT_EQ(os.events[0].id, id);
        EXPECT_EQ(os.events[0].strings,
                  (std::vector<std::wstring>{
                      L"COM7", L"M30", std::to_wstring(result),
                      L"La mise à jour s'est effectuée avec succès",
                      L"C:\\ProgramData\\Orvane\\Journal\\20261208-093000-COM7.log"}));
        EXPECT_EQ(os.openEventSources, 0);
        EXPECT_EQ(os.openKeys, 0);
        EXPECT_EQ(os.machineValues.count({kEventSourceKey, L"EventMessageFile"}), 0u);
    }
}

TEST(Registration, OnlyANameByNameInsideTheFolderCounts)
{
    const struct {
        const wchar_t* path;
        bool inside;
    } cases[] = {
        {L"\\\\?\\C:\\Program Files\\Orvane\\OrvaneCli.exe", true},
        {L"c:\\PROGRAM FILES\\orvane\\OrvaneCli.exe", true},
        {L"C:\\Program Files Evil\\OrvaneCli.exe", false},
        {L"C:\\Program FilesOrvaneCli.exe", false},
        {L"C:\\Program Files\\..\\Users\\Public\\OrvaneCli.exe", false},
        {L"C:\\Program Files", false},
        {L"D:\\Program Files\\Orvane\\OrvaneCli.exe", false},
        {L"\\\\?\\UNC\\C:\\Program Files\\OrvaneCli.exe", false},
        {L"\\\\srv\\C:\\Program Files\\OrvaneCli.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.path));
        EXPECT_EQ(LiesUnderFolder(c.path, L"C:\\Program Files\\"), c.inside);
    }
}

// Only an administrator changes the source; removing one that is not there is no failure.
TEST(Registration, OnlyTheAdministratorChangesTheSource)
{
    enum Who { User, Admin, System };
    const struct {
        const char* what;
        Who who;
        bool registered;  // the source there before
        bool unregister;
        int code;
        bool sourceAfter;
    } cases[] = {
        {"a standard user registers", User, false, false, 2, false},
        {"a standard user unregisters", User, true, true, 2, true},
        {"unregister", Admin, true, true, 0, false},
        {"unregister, none there", System, false, true, 0, false},
    };
    const std::pair<std::wstring, std::wstring> file{kEventSourceKey, L"EventMessageFile"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        os.elevated = c.who == Admin;
        os.localSystem = c.who == System;
        if (c.registered)
            os.machineValues[file] = FakeOs::Value{REG_SZ, {'o', 0, 'l', 0, 'd', 0, 0, 0}};
        const ExitStatus status = c.unregister ? RunUnregister() : RunRegister();
        EXPECT_EQ(status.Code(), c.code);
        EXPECT_EQ(os.machineValues.count(file), c.sourceAfter ? 1u : 0u);
    }
}

// Program Files as Windows makes it: TrustedInstaller's, SYSTEM and Administrators may
// change it, Users read and execute; the entries for what is made inside apply to it not.
const wchar_t kProgramFilesSddl[] =
    L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    L"D:P(A;OICIIO;GA;;;CO)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
    L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)";
const wchar_t kSoundFile[] = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
const wchar_t kUsersWrite[] = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;BU)";
const wchar_t kUsersDeleteChildren[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200e9;;;BU)";
const wchar_t kNullDacl[] = L"O:BAD:NO_ACCESS_CONTROL";
const wchar_t kUserOwned[] = L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1001)";

// What SYSTEM sends from a package, and the program and library it loads: a writable
// package is said and sent, a writable program folder or library refuses the run.
TEST(PackageTrust, SystemJudgesThePackageItSendsAndTheLibraryItLoads)
{
    const struct {
        const char* what;
        const wchar_t* folder;
        const wchar_t* folderSddl;
        const wchar_t* fileSddl;
        bool system;
        bool folderFault, fileFault;
    } packages[] = {
        {"a sound package", L"C:\\Paquets\\K", kMachineFolderSddl, kSoundFile, true, false, false},
        {"a folder without DACL", L"C:\\Paquets\\K", kNullDacl, kSoundFile, true, true, true},
        {"a FAT stick", L"E:\\K", kMachineFolderSddl, kSoundFile, true, true, true},
        {"Users may delete its files", L"C:\\Paquets\\K", kUsersDeleteChildren, kSoundFile, true,
         true, true},
        {"a file Users may write", L"C:\\Paquets\\K", kMachineFolderSddl, kUsersWrite, true, false,
         true},
        {"a user's folder", L"C:\\Paquets\\K", kUserOwned, kSoundFile, true, true, true},
        {"a technician's run judges nothing", L"C:\\Paquets\\K", kUserOwned, kUsersWrite, false,
         false, false},
    };
    for (const auto& c : packages) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        FakeFolders folders;
        folders.account = FakeFolders::Account::LocalSystem;
        folders.Put(L"C:\\Paquets", FakeFolders::Kind::Folder, kMachineFolderSddl);
        folders.Put(c.folder, FakeFolders::Kind::Folder, c.folderSddl);
        // Wine reads NO_ACCESS_CONTROL as an empty DACL: the model's null one is set by hand.
        if (c.folderSddl == kNullDacl)
            folders.objects.at(L"c:\\paquets\\k").hasDacl = false;
        folders.Put(std::wstring(c.folder) + L"\\K30APP.LDF", FakeFolders::Kind::File, c.fileSddl);
        const PackageTrust trust(c.system, c.folder);
        EXPECT_EQ(!trust.FolderReason().empty(), c.folderFault) << trust.FolderReason();
        EXPECT_EQ(!trust.FileFault("K30APP.LDF").empty(), c.fileFault);
    }
    const struct {
        const char* what;
        const wchar_t* folderSddl;
        const wchar_t* librarySddl;  // null: no library there
        bool runs;
    } programs[] = {
        {"installed", kMachineFolderSddl, kSoundFile, true},
        {"no library beside it", kMachineFolderSddl, nullptr, true},
        {"a folder Users may write", kUsersWrite, kSoundFile, false},
        {"a library Users may replace", kMachineFolderSddl, kUsersWrite, false},
        {"a user's copy", kUserOwned, kSoundFile, false},
    };
    for (const auto& c : programs) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        os.programPath = L"C:\\Program Files\\Orvane\\OrvaneCli.exe";
        FakeFolders folders;
        folders.account = FakeFolders::Account::LocalSystem;
        folders.Put(L"C:\\Program Files", FakeFolders::Kind::Folder, kProgramFilesSddl);
        folders.Put(L"C:\\Program Files\\Orvane", FakeFolders::Kind::Folder, c.folderSddl);
        folders.Put(os.programPath, FakeFolders::Kind::File, kSoundFile);
        if (c.librarySddl != nullptr)
            folders.Put(L"C:\\Program Files\\Orvane\\Tessock.dll", FakeFolders::Kind::File,
                        c.librarySddl);
        HeldObject folder;
        HeldObject library;
        std::string reason;
        EXPECT_EQ(HoldProgramAndLibrary(folder, library, reason), c.runs) << reason;
        EXPECT_EQ(reason.empty(), c.runs);
    }
}

// `register` as an administrator: the program and each folder from Program Files down to it
// judged, the machine's data folder made sound whatever a user put there first.
TEST(Registration, RegisterTrustsOnlyAnInstalledProgramAndMakesTheDataFolderSound)
{
    const std::wstring program = L"C:\\Program Files\\Orvane\\OrvaneCli.exe";
    const std::wstring data = L"C:\\ProgramData\\Orvane";
    using Kind = FakeFolders::Kind;
    const struct {
        const char* what;
        std::function<void(FakeFolders&)> plant;
        int code;
        bool system = false;
    } cases[] = {
        {"installed", [](FakeFolders&) {}, 0},
        {"installed, SYSTEM registers", [](FakeFolders&) {}, 0, true},
        {"in a folder whose name only begins with Program Files",
         [&](FakeFolders& f) {
             f.Put(L"C:\\Program Files Evil", Kind::Folder, kMachineFolderSddl);
             f.Put(L"C:\\Program Files Evil\\OrvaneCli.exe", Kind::File, kSoundFile);
         },
         2},
        {"a program folder Users may write",
         [](FakeFolders& f) { f.Put(L"C:\\Program Files\\Orvane", Kind::Folder, kUsersWrite); }, 2},
        {"a program a user owns",
         [&](FakeFolders& f) { f.Put(program, Kind::File, kUserOwned); }, 2},
        {"the program folder a link to a user's folder",
         [&](FakeFolders& f) {
             f.Put(L"C:\\Users\\user\\x", Kind::Folder, kUserOwned);
             f.Put(L"C:\\Users\\user\\x\\OrvaneCli.exe", Kind::File, kSoundFile);
             f.Put(L"C:\\Program Files\\Orvane", Kind::Folder, kMachineFolderSddl,
                   L"C:\\Users\\user\\x");
         },
         2},
        {"Orvane made first by a user",
         [&](FakeFolders& f) { EXPECT_TRUE(f.UserCreates(data, Kind::Folder)); }, 0},
        {"Orvane a user's link to elsewhere",
         [&](FakeFolders& f) {
             EXPECT_TRUE(f.UserCreates(L"C:\\ProgramData\\elsewhere", Kind::Folder));
             EXPECT_TRUE(f.UserCreates(data, Kind::Folder, L"C:\\ProgramData\\elsewhere"));
         },
         0},
        {"Orvane a user's file", [&](FakeFolders& f) { EXPECT_TRUE(f.UserCreates(data, Kind::File)); },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        os.programFiles = "C:\\Program Files";
        FakeFolders folders;
        folders.account = c.system ? FakeFolders::Account::LocalSystem
                                   : FakeFolders::Account::Administrator;
        os.localSystem = c.system;
        os.elevated = !c.system;
        folders.Put(L"C:\\Program Files", Kind::Folder, kProgramFilesSddl);
        folders.Put(L"C:\\Program Files\\Orvane", Kind::Folder, kMachineFolderSddl);
        folders.Put(program, Kind::File, kSoundFile);
        c.plant(folders);
        os.programPath = folders.Exists(L"C:\\Program Files Evil") ? L"C:\\Program Files Evil\\OrvaneCli.exe"
                                                                  : program;
        const std::vector<std::wstring> before = folders.Names(L"C:\\ProgramData");
        EXPECT_EQ(RunRegister().Code(), c.code);
        const std::pair<std::wstring, std::wstring> file{kEventSourceKey, L"EventMessageFile"};
        EXPECT_EQ(os.machineValues.count(file), c.code == 0 ? 1u : 0u);
        if (c.code != 0) {
            // Refused: nothing made, moved or written.
            EXPECT_EQ(folders.Names(L"C:\\ProgramData"), before);
            continue;
        }
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(os.machineValues[file].data.data())),
                  program);
        EXPECT_NE(os.machineKeyAccess & KEY_WOW64_64KEY, 0u);
        for (const std::wstring& folder : {data, data + L"\\Journal"}) {
            HeldObject held;
            EXPECT_EQ(HoldExisting(folder, ObjectKind::Folder, nullptr, held).fault,
                      FolderFault::Sound);
        }
        // A link is moved as itself: where it led is left as it was.
        if (folders.Exists(L"C:\\ProgramData\\elsewhere")) {
            EXPECT_TRUE(folders.Names(L"C:\\ProgramData\\elsewhere").empty());
        }
    }
}

} // namespace
