// The main window's port list: its rules over entry texts, and the collection of the
// machine's ports through the library double beside the test program (scripted per test)
// and the fake port probes of the OS seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "app/PortQuery.h"
#include "app/PortRules.h"
#include "portlib/Tessock.h"

using Texts = std::vector<std::string>;

namespace {

using ScriptFn = void(__cdecl*)(const char*, const int*, int, int, int, int);
using QueriesFn = int(__cdecl*)();

// Scripts the double's next two queries: rows of descriptions and numbers, the counts it
// reports for each property, and which query (1 or 2) answers false.
void ScriptPorts(const char* descriptions, const std::vector<int>& numbers, int descriptionCount,
                 int locationCount, int failingQuery = 0)
{
    HMODULE library = RealOsCalls().LoadLibraryA(tessock::kLibraryFileName);
    ASSERT_NE(library, nullptr);
    const auto script = reinterpret_cast<ScriptFn>(
        reinterpret_cast<void*>(::GetProcAddress(library, "doubleScriptPorts")));
    ASSERT_NE(script, nullptr);
    script(descriptions, numbers.data(), static_cast<int>(numbers.size()), descriptionCount,
           locationCount, failingQuery);
}

int QueriesMade()
{
    HMODULE library = RealOsCalls().LoadLibraryA(tessock::kLibraryFileName);
    const auto queries = reinterpret_cast<QueriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(library, "doublePortQueries")));
    return queries != nullptr ? queries() : -1;
}

} // namespace

TEST(PortRules, EntryTextsPairDescriptionsWithNumbers)
{
    EXPECT_EQ(ports::EntryText("DORAN Kavron USB", 5), "DORAN Kavron USB (COM5)");
    EXPECT_EQ(ports::ProbedEntryText(12), "Port COM12 (COM12)");

    PortTable descriptions;
    PortTable numbers;
    const char* names[] = {"Communications Port", "DORAN Kavron USB", "Modem"};
    for (int i = 0; i < 3; ++i) {
        std::strcpy(descriptions.Rows()[i].propertyText, names[i]);
        numbers.Rows()[i].portNumber = 10 + i;
    }
    // One entry per row both queries hold.
    EXPECT_EQ(ports::EntryTexts(descriptions.Rows(), 3, numbers.Rows(), 2),
              (Texts{"Communications Port (COM10)", "DORAN Kavron USB (COM11)"}));
    EXPECT_EQ(ports::EntryTexts(descriptions.Rows(), 1, numbers.Rows(), 3),
              (Texts{"Communications Port (COM10)"}));
    // A description that fills its whole buffer is cut at the buffer's end.
    std::memset(descriptions.Rows()[0].propertyText, 'x', tessock::kPropertyTextSize);
    const Texts full = ports::EntryTexts(descriptions.Rows(), 1, numbers.Rows(), 1);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0], std::string(tessock::kPropertyTextSize, 'x') + " (COM10)");
}

TEST(PortRules, RowCountsAreHeldToTheRowsGiven)
{
    EXPECT_EQ(ports::ClampRowCount(3, 50), 3);
    EXPECT_EQ(ports::ClampRowCount(50, 50), 50);
    EXPECT_EQ(ports::ClampRowCount(51, 50), 50);
    EXPECT_EQ(ports::ClampRowCount(-1, 50), 0);
}

TEST(PortRules, ListChangesOnlyWhenThePortsDo)
{
    const Texts shown = {"A (COM1)", "B (COM2)"};
    EXPECT_FALSE(ports::ListChanged(shown, {"B (COM2)", "A (COM1)"}));  // order is no change
    EXPECT_TRUE(ports::ListChanged(shown, {"A (COM1)"}));
    EXPECT_TRUE(ports::ListChanged(shown, {"A (COM1)", "B (COM2)", "C (COM3)"}));
    EXPECT_TRUE(ports::ListChanged(shown, {"A (COM1)", "B (COM4)"}));
    EXPECT_TRUE(ports::ListChanged(shown, {"a (COM1)", "B (COM2)"}));   // exact case
    EXPECT_FALSE(ports::ListChanged({}, {}));
    EXPECT_TRUE(ports::ListChanged({}, {"A (COM1)"}));
}

TEST(PortRules, ReaderEntryIsTheFirstWithTheMakersPrefix)
{
    EXPECT_EQ(ports::ReaderEntryIndex({"Port COM1 (COM1)", "DORAN Kavron USB (COM5)",
                                       "DORAN Kavron Serie (COM6)"}),
              1);
    EXPECT_EQ(ports::ReaderEntryIndex({"DORAN Kavron (COM3)"}), 0);
    EXPECT_EQ(ports::ReaderEntryIndex({"doran kavron USB (COM5)", "DORAN Kavro (COM2)",
                                       " DORAN Kavron (COM4)", "DORAN"}),
              -1);
    EXPECT_EQ(ports::ReaderEntryIndex({}), -1);

    // Opening the list: an empty list is no reader, a reader entry is one, anything else
    // leaves the flag as it was.
    EXPECT_FALSE(ports::DetectedAfterDropDown({}, true));
    EXPECT_TRUE(ports::DetectedAfterDropDown({"DORAN Kavron USB (COM5)"}, false));
    EXPECT_TRUE(ports::DetectedAfterDropDown({"Port COM1 (COM1)"}, true));
    EXPECT_FALSE(ports::DetectedAfterDropDown({"Port COM1 (COM1)"}, false));

    // The poll searches after a rebuild, and when the selection was lost to a drop-down's
    // rebuild; never over a selection that stands, nor every second over a plain list.
    const std::vector<std::string> reader = {"Port COM1 (COM1)", "DORAN Kavron USB (COM5)"};
    const std::vector<std::string> plain = {"Port COM1 (COM1)"};
    EXPECT_TRUE(ports::PollSearchesReader(true, false, false, plain));
    EXPECT_TRUE(ports::PollSearchesReader(false, true, true, reader));
    EXPECT_TRUE(ports::PollSearchesReader(false, true, false, reader));
    EXPECT_TRUE(ports::PollSearchesReader(false, true, true, plain));
    EXPECT_FALSE(ports::PollSearchesReader(false, false, true, reader));
    EXPECT_FALSE(ports::PollSearchesReader(false, true, false, plain));
}

TEST(PortQuery, EntriesComeFromBothQueries)
{
    FakeOs os;
    ScriptPorts("DORAN Kavron USB|Communications Port", {5, 1}, 2, 2);
    Texts texts;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    EXPECT_EQ(texts, (Texts{"DORAN Kavron USB (COM5)", "Communications Port (COM1)"}));
    EXPECT_EQ(QueriesMade(), 2);
    // The library listed ports: nothing was probed.
    EXPECT_TRUE(os.opened.empty());
    EXPECT_TRUE(os.boxes.empty());
}

TEST(PortQuery, ALibraryReportingMoreRowsThanGivenIsHeldToFifty)
{
    FakeOs os;
    std::string descriptions;
    std::vector<int> numbers;
    for (int i = 1; i <= 50; ++i) {
        descriptions += (i > 1 ? "|Port " : "Port ") + std::to_string(i);
        numbers.push_back(i);
    }
    ScriptPorts(descriptions.c_str(), numbers, 70, 1000);
    Texts texts;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    ASSERT_EQ(texts.size(), 50u);
    EXPECT_EQ(texts.front(), "Port 1 (COM1)");
    EXPECT_EQ(texts.back(), "Port 50 (COM50)");
}

TEST(PortQuery, WithoutListedPortsComOneToFortyNineAreProbed)
{
    FakeOs os;
    ScriptPorts("", {}, 0, 0);
    Texts texts;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    ASSERT_EQ(os.opened.size(), 49u);
    EXPECT_EQ(os.opened.front(), "\\\\.\\COM1");
    EXPECT_EQ(os.opened.back(), "\\\\.\\COM49");
    // Every port that opened is listed and closed again at once.
    ASSERT_EQ(texts.size(), 49u);
    EXPECT_EQ(texts[0], "Port COM1 (COM1)");
    EXPECT_EQ(texts[48], "Port COM49 (COM49)");
    EXPECT_EQ(os.portCloses, 49);
}

TEST(PortQuery, NoPortAtAllGivesAnEmptyList)
{
    FakeOs os;
    os.port.failOpen = true;
    ScriptPorts("Communications Port", {1}, 1, 0);
    Texts texts = {"stale"};
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::Listed);
    // The description query listed a port but the location query none: only probes count.
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(os.opened.size(), 49u);
    EXPECT_EQ(os.portCloses, 0);
}

TEST(PortQuery, FailuresAreToldApart)
{
    FakeOs os;
    Texts texts;
    ScriptPorts("A", {1}, 1, 1, 1);
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::QueryFailed);
    ScriptPorts("A", {1}, 1, 1, 2);
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::QueryFailed);
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(QueriesMade(), 2);

    os.exportsMissing = true;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::NoExport);
    os.libraryMissing = true;
    EXPECT_EQ(CollectPortTexts(texts), PortQuery::NoLibrary);
    // The window tells the operator; the collection itself shows nothing.
    EXPECT_TRUE(os.boxes.empty());
}
