// The package read from real INI files through the real profile functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "PackageDir.h"
#include "package/IniFile.h"
#include "package/PackageFolder.h"
#include "terminal/Terminal.h"

namespace {

using Lines = std::vector<std::string>;

Lines Items(const CStringList& list) { return Lines(list.begin(), list.end()); }

CStringList ListOf(const Lines& items)
{
    CStringList list;
    for (const std::string& item : items)
        list.AddTail(item);
    return list;
}

TerminalDescription Record(std::uint8_t general1 = 0, std::uint8_t general2 = 0)
{
    TerminalDescription d = {};
    std::memcpy(d.modelCode, "M30", 3);
    d.generalOptions[0] = general1;
    d.generalOptions[1] = general2;
    return d;
}

// A package in the current directory, with the machine's diagnostic lines recorded.
struct Package {
    Machine<RealFiles, FakeLibraries, FakeMessages> os;
    PackageDir dir;
    CTerminal t;
};

// ---- CIniFile ----

TEST(IniFile, SectionsReadWholeLinesInFileOrder)
{
    PackageDir dir;
    dir.Write("a.ini", "[ONE]\r\nb=2\r\nplain line\r\na=1\r\n[TWO]\r\nz\r\n");
    CIniFile ini;
    ini.SetFileName(".\\a.ini");
    EXPECT_EQ(Items(ini.ReadSection("ONE")), (Lines{"b=2", "plain line", "a=1"}));
    EXPECT_GT(ini.GetLastCount(), 0);
    EXPECT_EQ(Items(ini.ReadSection("two")), (Lines{"z"})); // sections match without case
    EXPECT_TRUE(ini.ReadSection("MISSING").IsEmpty());
    EXPECT_EQ(ini.GetLastCount(), 0);
    ini.SetFileName(".\\absent.ini");
    EXPECT_TRUE(ini.ReadSection("ONE").IsEmpty());
    EXPECT_EQ(ini.ReadString("ONE", "a"), "");
}

TEST(IniFile, LongValuesAreCutTo254Characters)
{
    PackageDir dir;
    const std::string value(300, 'v');
    dir.Write("a.ini", "[S]\r\nk=" + value + "\r\nk=second\r\n");
    CIniFile ini;
    ini.SetFileName(".\\a.ini");
    EXPECT_EQ(ini.ReadString("S", "k"), value.substr(0, 254));
    EXPECT_EQ(ini.GetLastCount(), 254);
}

TEST(IniFile, LongSectionsAreReadWhole)
{
    PackageDir dir;
    std::string text = "[FILES]\r\n";
    Lines expected;
    for (int i = 0; i < 400; ++i) { // about 12 KB, six times the first buffer
        expected.push_back("FILE_" + std::to_string(i) + "_WITH_A_LONGISH_NAME.BIN");
        text += expected.back() + "\r\n";
    }
    dir.Write("a.ini", text);
    CIniFile ini;
    ini.SetFileName(".\\a.ini");
    EXPECT_EQ(Items(ini.ReadSection("FILES")), expected);
    EXPECT_TRUE(ini.LastSectionComplete());
}

TEST(IniFile, SectionBeyondTheLargestBufferIsFlaggedAndKeepsNoPartialLine)
{
    PackageDir dir;
    std::string text = "[FILES]\r\n";
    for (int i = 0; i < 300; ++i)
        text += "FILE_" + std::to_string(1000 + i) + ".BIN\r\n"; // 13 bytes per line
    dir.Write("a.ini", text);
    CIniFile ini(2000);
    ini.SetFileName(".\\a.ini");
    const Lines lines = Items(ini.ReadSection("FILES"));
    EXPECT_FALSE(ini.LastSectionComplete());
    ASSERT_FALSE(lines.empty());
    EXPECT_LT(lines.size(), 300u);
    for (const std::string& line : lines)
        EXPECT_EQ(line.size(), 13u) << line;
}

TEST(IniFile, OddFilesGiveWhatTheProfileFunctionsGiveAndNeverCrash)
{
    PackageDir dir;
    dir.Write("empty.ini", "");
    dir.Write("garbage.ini", std::string("\x00\xFF[\x01\x02]\r\n\xFE=\x00\x80\r\n", 14) +
                                 std::string(5000, '\x7F'));
    dir.Write("nolf.ini", "[S]\r\nk=" + std::string(70000, 'x'));
    dir.MakeDirectory("dir.ini");
    for (const char* name : {".\\empty.ini", ".\\garbage.ini", ".\\dir.ini"}) {
        CIniFile ini;
        ini.SetFileName(name);
        EXPECT_TRUE(ini.ReadSection("S").IsEmpty()) << name;
        EXPECT_EQ(ini.ReadString("S", "k"), "") << name;
    }
    CIniFile ini;
    ini.SetFileName(".\\nolf.ini");
    const Lines lines = Items(ini.ReadSection("S"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 70002u);
    EXPECT_EQ(ini.ReadString("S", "k").size(), 254u);
}

// ---- catalogue ----

TEST(Catalogue, MissingOrDirectoryCatalogueIsRefused)
{
    Package p;
    EXPECT_FALSE(p.t.CheckCatalogue("M30", Record()));
    EXPECT_EQ(p.os.lines, (Lines{"Impossible de trouver le fichier .\\catalogueM30.ini"}));
    p.dir.MakeDirectory("catalogueM31.ini");
    EXPECT_FALSE(p.t.CheckCatalogue("M31", Record()));
    EXPECT_TRUE(p.os.Logged("Impossible de trouver le fichier .\\catalogueM31.ini"));
}

TEST(Catalogue, OnlyTheCatalogueOfTheReadersModelIsConsulted)
{
    Package p;
    p.dir.Write("catalogueM31.ini", "[FICHIER A CHARGER]\r\nA.LDF\r\n");
    EXPECT_FALSE(p.t.CheckCatalogue("M30", Record()));
    EXPECT_TRUE(p.t.CheckCatalogue("M31", Record()));
    EXPECT_EQ(p.os.lines.back(), "Catalogue .\\catalogueM31.ini enregistre");
}

TEST(Catalogue, OptionsAreTestedAgainstTheirRecordBytes)
{
    struct Case {
        const char* options;
        int offset;
        std::uint8_t value;
        bool pass;
    } cases[] = {
        {"[GENERAL OPTIONS]\r\nPresence=256\r\n", 27, 0x01, true},
        {"[GENERAL OPTIONS]\r\nPresence=256\r\n", 28, 0x01, false},
        {"[GENERAL OPTIONS]\r\nPresence=1\r\n", 28, 0x01, true},
        {"[READERS OPTIONS]\r\nAbsence=512\r\n", 29, 0x02, false},
        {"[READERS OPTIONS]\r\nAbsence=512\r\n", 30, 0x02, true},
        {"[MODEM OPTIONS]\r\nPresence=257\r\n", 31, 0x01, true},
        {"[DISPLAY OPTIONS]\r\nPresence=-1\r\n", 34, 0xFF, true},
        {"[DISPLAY OPTIONS]\r\nPresence=-1\r\n", 34, 0x7F, false},
        {"[EXTENSION OPTIONS]\r\nAbsence=-1\r\n", 39, 0x10, false},
        {"[EXTENSION OPTIONS]\r\nAbsence=-1\r\n", 38, 0xFF, true},
        {"[EXTENSION OPTIONS]\r\nPresence=0x10\r\n", 39, 0x00, true},
    };
    for (const Case& c : cases) {
        Package p;
        p.dir.Write("catalogueM30.ini", std::string(c.options) + "[FICHIER A CHARGER]\r\nA\r\n");
        TerminalDescription d = Record();
        reinterpret_cast<std::uint8_t*>(&d)[c.offset] = c.value;
        EXPECT_EQ(p.t.CheckCatalogue("M30", d), c.pass) << c.options << " byte " << c.offset;
    }
}

TEST(Catalogue, FirstFailureStopsTheCheckWithOneLineAndKeepsTheLoadList)
{
    Package p;
    p.dir.Write("catalogueM30.ini", "[GENERAL OPTIONS]\r\nPresence=1\r\nAbsence=1\r\n"
                                    "[MODEM OPTIONS]\r\nPresence=1\r\n"
                                    "[FICHIER A CHARGER]\r\nNEW.LDF\r\n");
    p.dir.Write("catalogueM31.ini", "[FICHIER A CHARGER]\r\nOLD.LDF\r\n");
    ASSERT_TRUE(p.t.CheckCatalogue("M31", Record()));
    p.os.lines.clear();
    PackageRefusal refusal;
    EXPECT_FALSE(p.t.CheckCatalogue("M30", Record(), &refusal));
    EXPECT_EQ(p.os.lines, (Lines{"Options generales non conformes (Presence)"}));
    EXPECT_EQ(refusal.section, "GENERAL OPTIONS");
    EXPECT_EQ(Items(p.t.GetLoadList()), (Lines{"OLD.LDF"}));

    p.os.lines.clear();
    EXPECT_FALSE(p.t.CheckCatalogue("M30", Record(0, 0x01)));
    EXPECT_EQ(p.os.lines, (Lines{"Options generales non conformes (Absence)"}));
}

TEST(Catalogue, EachSectionNamesItsOwnFailure)
{
    const char* sections[] = {"READERS OPTIONS", "MODEM OPTIONS", "DISPLAY OPTIONS",
                              "EXTENSION OPTIONS"};
    const char* texts[] = {"Options du lecteur non conformes (Presence)",
                           "Options du modem non conformes (Presence)",
                           "Options de l'ecran non conformes (Presence)",
                           "Options d'extension non conformes (Presence)"};
    for (int i = 0; i < 4; ++i) {
        Package p;
        p.dir.Write("catalogueM30.ini", std::string("[") + sections[i] + "]\r\nPresence=4\r\n");
        EXPECT_FALSE(p.t.CheckCatalogue("M30", Record()));
        EXPECT_EQ(p.os.lines, (Lines{texts[i]}));
    }
}

TEST(Catalogue, FileListBecomesTheLoadListTakenWhole)
{
    Package p;
    p.dir.Write("catalogueM30.ini", "[FICHIER A CHARGER]\r\nL1.LDF\r\n36481.SGN\r\n"
                                    "name=value.PDF\r\n36482.LDF\r\n");
    ASSERT_TRUE(p.t.CheckCatalogue("M30", Record()));
    EXPECT_EQ(Items(p.t.GetLoadList()), (Lines{"36482.LDF", "36481.SGN", "L1.LDF", "name=value.PDF"}));
    EXPECT_EQ(p.t.GetLoaderFileCount(), 2);
    EXPECT_TRUE(p.t.IsLoaderPresent());
}

TEST(Catalogue, LongFileListIsReadWhole)
{
    Package p;
    std::string text = "[FICHIER A CHARGER]\r\n";
    for (int i = 0; i < 300; ++i)
        text += "MODULE_NUMBER_" + std::to_string(i) + ".PDF\r\n";
    p.dir.Write("catalogueM30.ini", text);
    ASSERT_TRUE(p.t.CheckCatalogue("M30", Record()));
    ASSERT_EQ(p.t.GetLoadListCount(), 300);
    EXPECT_EQ(Items(p.t.GetLoadList()).back(), "MODULE_NUMBER_299.PDF");
}

TEST(Catalogue, CatalogueWithoutFileListGivesAnEmptyLoadList)
{
    Package p;
    p.dir.Write("catalogueM30.ini", "[GENERAL OPTIONS]\r\nPresence=0\r\n");
    p.dir.Write("catalogueM31.ini", "[FICHIER A CHARGER]\r\n3648STALE.LDF\r\n");
    ASSERT_TRUE(p.t.CheckCatalogue("M31", Record()));
    ASSERT_TRUE(p.t.CheckCatalogue("M30", Record()));
    EXPECT_TRUE(p.t.IsLoadListEmpty());
    EXPECT_FALSE(p.t.IsLoaderPresent());
}

// ---- constraints ----

// Matching itself is covered with the pure rules; here, what the file and the reader's
// list bring to it.
TEST(Constraints, EveryApplicationNameTakesPartAndNoneMeansRefusal)
{
    struct Case {
        const char* file;
        Lines applications;
        bool allowed;
    } cases[] = {
        {"[PRESENCE]\r\nVITALE\r\n", {"VITALE"}, true},
        {"[PRESENCE]\r\nB\r\n", {"A", "B"}, true},
        {"[EXCLUSION]\r\nB*\r\n", {"A", "B"}, false},
        {"[EXCLUSION]\r\n*\r\n", {"ANY"}, false},
        {"", {"ANY"}, true},
        {"", {}, false},
    };
    for (const Case& c : cases) {
        Package p;
        p.dir.Write("ContraintesM30.ini", c.file);
        p.t.LoadConstraints("M30");
        EXPECT_EQ(p.t.CheckConstraints(ListOf(c.applications)), c.allowed) << c.file;
    }
}

TEST(Constraints, FailedPresenceLeavesTheRestUntested)
{
    Package p;
    p.dir.Write("ContraintesM30.ini",
                "[PRESENCE]\r\nA\r\nMISSING\r\nLATER\r\n[EXCLUSION]\r\nX\r\nY\r\n");
    p.t.LoadConstraints("M30");
    EXPECT_EQ(p.os.lines, (Lines{"Fichier de contrainte .\\ContraintesM30.ini enregistre"}));
    EXPECT_FALSE(p.t.CheckConstraints(ListOf({"A"})));
    EXPECT_EQ(Items(p.t.GetPresenceList()), (Lines{"LATER"}));
    EXPECT_EQ(Items(p.t.GetExclusionList()), (Lines{"X", "Y"}));
}

TEST(Constraints, MissingFileLoadsNoConstraintAndReplacesOldOnes)
{
    Package p;
    p.dir.Write("ContraintesM30.ini", "[PRESENCE]\r\nSTALE\r\n");
    p.t.LoadConstraints("M30");
    ASSERT_FALSE(p.t.GetPresenceList().IsEmpty());
    p.t.LoadConstraints("M44");
    EXPECT_TRUE(p.t.GetPresenceList().IsEmpty());
    EXPECT_TRUE(p.t.CheckConstraints(ListOf({"ANY"})));
}

// ---- load list as the run consumes it ----

TEST(LoadList, FilesAreTakenInOrderAndNamedFromTheUpperCaseSnapshot)
{
    Package p;
    p.dir.Write("catalogueM30.ini", "[FICHIER A CHARGER]\r\nabc.sgn\r\nx3777.pdf\r\nabc.ldf\r\n"
                                    "notes.txt\r\n3648a.bin\r\n");
    ASSERT_TRUE(p.t.CheckCatalogue("M30", Record()));
    p.t.SnapshotLoadList();
    p.t.SnapshotLoadList(); // taken again, not added twice
    EXPECT_EQ(Items(p.t.GetLoadListSnapshot()),
              (Lines{"3648A.BIN", "ABC.SGN", "X3777.PDF", "ABC.LDF", "NOTES.TXT"}));
    Lines taken, modules;
    while (!p.t.IsLoadListEmpty()) {
        taken.push_back(p.t.TakeNextFile());
        modules.push_back(p.t.ModuleNameForFile(taken.back()));
    }
    EXPECT_EQ(taken, (Lines{"3648a.bin", "abc.sgn", "x3777.pdf", "abc.ldf", "notes.txt"}));
    EXPECT_EQ(modules, (Lines{"3648A.BIN", "KAVRON MANAGER", "KAVRON SYSTEM", "KAVRON MANAGER",
                              "NOTES.TXT"}));
    // The snapshot does not shrink: a late .SGN still finds a companion already sent.
    EXPECT_EQ(p.t.ModuleNameForFile("ABC.SGN"), "KAVRON MANAGER");
}

TEST(LoadList, LoaderStageEndsAfterTheLastLoaderFileOnly)
{
    Package p;
    p.dir.Write("catalogueM30.ini", "[FICHIER A CHARGER]\r\n3648L1\r\nA.PDF\r\n3648L2\r\n3648L3\r\n");
    ASSERT_TRUE(p.t.CheckCatalogue("M30", Record()));
    EXPECT_EQ(p.t.TakeNextFile(), "3648L3");
    EXPECT_FALSE(p.t.LoaderStageDone(0));
    EXPECT_FALSE(p.t.LoaderStageDone(2));
    EXPECT_TRUE(p.t.LoaderStageDone(3));
    EXPECT_FALSE(p.t.LoaderStageDone(4));
    EXPECT_EQ(p.t.GetStageLabel(3), "Mise \xE0 jour du chargeur");

    Package none;
    none.dir.Write("catalogueM30.ini", "[FICHIER A CHARGER]\r\nA.PDF\r\n");
    ASSERT_TRUE(none.t.CheckCatalogue("M30", Record()));
    EXPECT_FALSE(none.t.LoaderStageDone(0));
    EXPECT_FALSE(none.t.LoaderStageDone(1));
}

// ---- The package's folder named at start ----

std::string CurrentDirectory()
{
    char path[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryA(sizeof path, path);
    return std::string(path, length < sizeof path ? length : 0);
}

HANDLE WINAPI ListingDenied(LPCSTR, LPWIN32_FIND_DATAA)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

TEST(PackageFolder, OnlyAFolderThatCanBeListedIsEntered)
{
    PackageDir start;
    start.MakeDirectory("paquet");
    start.Write("notes.txt", "");
    const struct {
        const char* folder;
        bool denyListing;
        const char* reason;
    } refused[] = {
        {"absent", false, "no such folder"},
        {"notes.txt", false, "it is a file, not a folder"},
        {"", false, "no folder named"},
        // Entering needs only the right to traverse; a folder that cannot be listed would
        // look like a folder without a catalogue.
        {"paquet", true, "it cannot be read (access denied)"},
    };
    for (const auto& c : refused) {
        OsCalls calls = RealOsCalls();
        if (c.denyListing)
            calls.FindFirstFileA = ListingDenied;
        ScopedOsCalls swap(calls);
        std::string reason;
        EXPECT_FALSE(EnterPackageFolder(c.folder, reason)) << c.folder;
        EXPECT_EQ(reason, c.reason) << c.folder;
        EXPECT_EQ(CurrentDirectory(), start.Path()) << c.folder;
    }
    // A path named relative to where the program started keeps its meaning once inside.
    const std::string report = WholePath("r.json");
    std::string reason;
    ASSERT_TRUE(EnterPackageFolder("paquet", reason)) << reason;
    EXPECT_EQ(CurrentDirectory(), start.Path() + "\\paquet");
    EXPECT_EQ(report, start.Path() + "\\r.json");
}

} // namespace
