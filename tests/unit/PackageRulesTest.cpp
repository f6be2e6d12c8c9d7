#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "package/PackageRules.h"

using namespace pkg;

namespace {

CStringList ListOf(std::initializer_list<const char*> items)
{
    CStringList list;
    for (const char* item : items)
        list.AddTail(item);
    return list;
}

std::vector<std::string> Items(const CStringList& list)
{
    return std::vector<std::string>(list.begin(), list.end());
}

TEST(PackageRules, SectionLinesAreTheNulEndedOnesThatAreNotEmpty)
{
    const char bytes[] = "A.LDF\0\0B=1\0C";
    EXPECT_EQ(Items(SectionLines(bytes, sizeof bytes - 1)),
              (std::vector<std::string>{"A.LDF", "B=1"}));
    EXPECT_TRUE(SectionLines(bytes, 0).IsEmpty());
}

TEST(PackageRules, ProfileIntegersReadAsTheCatalogueWritesThem)
{
    EXPECT_EQ(ParseProfileInt("256"), 256);
    EXPECT_EQ(ParseProfileInt("  -1"), -1);
    EXPECT_EQ(ParseProfileInt("+12abc"), 12);
    EXPECT_EQ(ParseProfileInt("0x10"), 0); // hexadecimal is not understood: tests nothing
    EXPECT_EQ(ParseProfileInt(""), 0);
    EXPECT_EQ(ParseProfileInt("abc"), 0);
    // Far out of range saturates instead of wrapping to some other bit pattern.
    EXPECT_EQ(ParseProfileInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParseProfileInt("-99999999999999999999"), INT32_MIN);
}

TEST(PackageRules, SixteenBitSectionsTestEachByteAgainstItsRecordByte)
{
    // 256 = 0x0100 needs bit 0 of the high byte; 1 needs bit 0 of the low byte.
    EXPECT_EQ(TestOptions16(256, 0, 0x01, 0x00), OptionVerdict::Pass);
    EXPECT_EQ(TestOptions16(256, 0, 0x00, 0x01), OptionVerdict::PresenceFailed);
    EXPECT_EQ(TestOptions16(1, 0, 0x01, 0x00), OptionVerdict::PresenceFailed);
    EXPECT_EQ(TestOptions16(1, 0, 0x00, 0x01), OptionVerdict::Pass);
    // Bits above 15 play no part.
    EXPECT_EQ(TestOptions16(0x10000, 0x10000, 0x00, 0x00), OptionVerdict::Pass);
    EXPECT_EQ(TestOptions16(0, 0x0200, 0x02, 0x00), OptionVerdict::AbsenceFailed);
    EXPECT_EQ(TestOptions16(0, 0x0002, 0x00, 0x02), OptionVerdict::AbsenceFailed);
    // Minus one requires every bit, or forbids any.
    EXPECT_EQ(TestOptions16(-1, 0, 0xFF, 0xFF), OptionVerdict::Pass);
    EXPECT_EQ(TestOptions16(-1, 0, 0xFF, 0xFE), OptionVerdict::PresenceFailed);
    EXPECT_EQ(TestOptions16(0, -1, 0x00, 0x00), OptionVerdict::Pass);
    EXPECT_EQ(TestOptions16(0, -1, 0x00, 0x80), OptionVerdict::AbsenceFailed);
    // Presence is decided before absence.
    EXPECT_EQ(TestOptions16(1, 1, 0x00, 0x00), OptionVerdict::PresenceFailed);
}

TEST(PackageRules, EightBitSectionsUseOnlyTheLowByte)
{
    EXPECT_EQ(TestOptions8(257, 0, 0x01), OptionVerdict::Pass);
    EXPECT_EQ(TestOptions8(257, 0, 0x00), OptionVerdict::PresenceFailed);
    EXPECT_EQ(TestOptions8(0, 0x81, 0x80), OptionVerdict::AbsenceFailed);
    EXPECT_EQ(TestOptions8(-1, 0, 0xFF), OptionVerdict::Pass);
    EXPECT_EQ(TestOptions8(0, -1, 0x01), OptionVerdict::AbsenceFailed);
}

TEST(PackageRules, LoaderFilesGoFirstInReverseCatalogueOrder)
{
    LoadList list = BuildLoadList(ListOf({"A.LDF", "3648X.SGN", "3648Y.LDF", "B.PDF"}));
    EXPECT_EQ(Items(list.files),
              (std::vector<std::string>{"3648Y.LDF", "3648X.SGN", "A.LDF", "B.PDF"}));
    EXPECT_EQ(list.loaderFileCount, 2);
    EXPECT_TRUE(list.loaderPresent);

    // Exactly four characters are a loader file; fewer never are; the test has case and
    // position.
    list = BuildLoadList(ListOf({"364", "3648", "x3648.bin", "36480=x"}));
    EXPECT_EQ(Items(list.files), (std::vector<std::string>{"36480=x", "3648", "364", "x3648.bin"}));
    EXPECT_EQ(list.loaderFileCount, 2);

    list = BuildLoadList(ListOf({"A.PDF", "B.DDF"}));
    EXPECT_EQ(list.loaderFileCount, 0);
    EXPECT_FALSE(list.loaderPresent);
}

TEST(PackageRules, ConstraintKeysAreSubstringsWithCase)
{
    EXPECT_EQ(ConstraintKey("SYS*"), "SYS");
    EXPECT_EQ(ConstraintKey("ABC*DEF"), "ABC");
    EXPECT_EQ(ConstraintKey("APP"), "APP");
    EXPECT_EQ(ConstraintKey("*"), "");

    EXPECT_TRUE(KeyFoundInAny("SYS", ListOf({"MANAGER", "XSYSTEM"})));
    EXPECT_FALSE(KeyFoundInAny("SYS", ListOf({"MANAGER", "SY STEM"})));
    EXPECT_TRUE(KeyFoundInAny("APP", ListOf({"MYAPP2"})));
    EXPECT_FALSE(KeyFoundInAny("app", ListOf({"APP"})));
    // An empty key is found in any name, but there must be a name.
    EXPECT_TRUE(KeyFoundInAny("", ListOf({"X"})));
    EXPECT_FALSE(KeyFoundInAny("", CStringList()));
}

TEST(PackageRules, ModuleNamesFollowTheFileKind)
{
    const CStringList none;
    EXPECT_EQ(ModuleNameOfUpper("A.LDF", none), "KAVRON MANAGER");
    EXPECT_EQ(ModuleNameOfUpper("A.DDF", none), "KAVRON SYSTEM");
    EXPECT_EQ(ModuleNameOfUpper("X3777.PDF", none), "KAVRON SYSTEM");
    EXPECT_EQ(ModuleNameOfUpper("X3778.PDF", none), "KAVRON MANAGER");
    EXPECT_EQ(ModuleNameOfUpper("X1234.PDF", none), "X1234.PDF");
    EXPECT_EQ(ModuleNameOfUpper("X3592.BIN", none), "KAVRON MANAGER");
    EXPECT_EQ(ModuleNameOfUpper("README.BIN", none), "README.BIN");
    // The first rule that applies wins.
    EXPECT_EQ(ModuleNameOfUpper("A.DDF.LDF", none), "KAVRON MANAGER");
    EXPECT_EQ(ModuleNameOfUpper("3592.PDF", none), "3592.PDF");
}

TEST(PackageRules, LoadListNamesAreBareFileNamesOfThePackage)
{
    struct Case {
        const char* name;
        bool bare;
    };
    const Case cases[] = {
        {"3648LDR.SGN", true}, {"x3777.pdf", true}, {"A B.BIN", true}, {"CONFIG.SYS", true},
        {"COM10.BIN", true}, {"LPT.BIN", true}, {"NULL.BIN", true}, {".HIDDEN", true},
        {"\xE9T\xE9.BIN", true}, {"ABCDEFGHIJKLMNOPQR.BIN", true}, // 22 characters
        // Paths: another folder, a drive, a server, a stream.
        {"\\\\host\\share\\x.bin", false}, {"//host/share/x.bin", false},
        {"..\\..\\x.bin", false}, {"../x.bin", false}, {"C:\\Windows\\win.ini", false},
        {"C:x.bin", false}, {"A.BIN:stream", false}, {"SUB\\A.BIN", false},
        {".", false}, {"..", false}, {"A.BIN.", false}, {"A.BIN ", false},
        {"A\tB.BIN", false}, {"A\x7F" "B.BIN", true}, {"A\x01.BIN", false},
        {"*.PDF", false}, {"A?.BIN", false}, {"A<B", false}, {"A>B", false}, {"A|B", false},
        {"A\"B", false}, {"", false},
        {"ABCDEFGHIJKLMNOPQRS.BIN", false}, // 23: longer than the announce carries
        // Devices, in any case, with or without an extension.
        {"CON", false}, {"prn", false}, {"Aux.txt", false}, {"NUL.BIN", false},
        {"NUL .BIN", false}, {"COM1", false}, {"com9.bin", false}, {"COM0", false},
        {"LPT1", false}, {"lpt9.x.y", false}, {"COM\xB9", false}, {"LPT\xB3.BIN", false},
        {"CONIN$", false}, {"conout$.txt", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsBareFileName(c.name), c.bare) << "\"" << c.name << "\"";
}

TEST(PackageRules, SgnFilesTakeTheNameOfTheirCompanion)
{
    EXPECT_EQ(ModuleNameOfUpper("ABC.SGN", ListOf({"X.PDF", "ABC.SGN", "ABC.LDF"})),
              "KAVRON MANAGER");
    EXPECT_EQ(ModuleNameOfUpper("ABC.SGN", ListOf({"ABC.DDF", "ABC.SGN"})), "KAVRON SYSTEM");
    // An .ADF companion never lends its name.
    EXPECT_EQ(ModuleNameOfUpper("ABC.SGN", ListOf({"ABC.SGN", "ABC.ADF"})), "ABC.SGN");
    // The first entry holding the base name is taken, even when an .LDF comes later.
    EXPECT_EQ(ModuleNameOfUpper("ABC.SGN", ListOf({"ABC.ADF", "ABC.SGN", "ABC.LDF"})), "ABC.SGN");
    // No companion at all: classified by its own name.
    EXPECT_EQ(ModuleNameOfUpper("ABC.SGN", ListOf({"ABC.SGN"})), "ABC.SGN");
    EXPECT_EQ(ModuleNameOfUpper("3592.SGN", CStringList()), "KAVRON MANAGER");
}

} // namespace
