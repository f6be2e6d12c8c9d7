#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "PortList.h"
#include "SimMachine.h"
#include "Tessock.h"

namespace {

struct Listing {
    PortTable table;
    std::int32_t count = -1;
    unsigned char result = 0;
    std::string Text(int i) const { return table.Row(i).propertyText; }
    std::string Id(int i) const { return table.Row(i).instanceId; }
    int Number(int i) const { return table.Row(i).portNumber; }
};

Listing List(DWORD property = SPDRP_FRIENDLYNAME)
{
    Listing l;
    l.result = getPortComAvailable(l.table.Rows(), &l.count, property);
    return l;
}

} // namespace

TEST(PortListing, NumbersComeFromPortNameBeforeTheFriendlyName)
{
    SimMachine sim;
    sim.AddPort(L"Serial A", L"Serial A (COM12)", L"COM12", L"", L"ACPI\\PNP0501\\1");
    sim.AddPort(L"Serial B", L"Serial B (COM3)", L"");
    sim.AddPort(L"Printer port", L"Printer port (LPT1)", L"LPT1");
    sim.AddPort(L"Renamed", L"Renamed (COM4)", L"COM9");
    sim.AddPort(L"Wide", L"Wide (COM123)", L"");
    sim.AddPort(L"High", L"High (COM7)", L"COM200");
    sim.AddPort(L"Absent", L"Absent (COM8)", L"COM8").present = false;
    sim.AddPort(L"Other class", L"Other (COM6)", L"COM6").classGuid = kUsbClassGuid;

    const Listing l = List();
    EXPECT_EQ(l.result, 1);
    ASSERT_EQ(l.count, 5);
    EXPECT_EQ(l.Text(0), "Serial A (COM12)");
    EXPECT_EQ(l.Number(0), 12);
    EXPECT_EQ(l.Id(0), "ACPI\\PNP0501\\1");
    EXPECT_EQ(l.Number(1), 3);  // no "PortName": the friendly name's number
    EXPECT_EQ(l.Text(2), "Renamed (COM4)");
    EXPECT_EQ(l.Number(2), 9);  // "PortName" wins when the two disagree
    EXPECT_EQ(l.Number(3), 123);
    EXPECT_EQ(l.Number(4), 200);
    EXPECT_EQ(sim.OpenHandles(), 0);
}

TEST(PortListing, FailedReadsFallBackOnTheTextReadBefore)
{
    SimMachine sim;
    SimDevice& located = sim.AddPort(L"Modem", L"Modem (COM2)", L"COM2");
    located.location = L"Port_#0004.Hub_#0002";
    sim.AddPort(L"COM bridge", L"", L"");  // no friendly name: the description stands in
    // A value longer than the shared 264-byte buffer counts as a failed read.
    sim.AddPort(L"Long one (COM5)", L"Long one " + std::wstring(140, L'x') + L" (COM5)", L"COM5");

    const Listing l = List(SPDRP_LOCATION_INFORMATION);
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.Text(0), "Port_#0004.Hub_#0002");
    EXPECT_EQ(l.Text(1), "COM bridge");
    EXPECT_EQ(l.Number(1), 0);
    EXPECT_EQ(l.Text(2), "Long one (COM5)");
    EXPECT_EQ(l.Number(2), 5);
}

TEST(PortListing, TextsAreLatin1OrEmpty)
{
    SimMachine sim;
    sim.AddPort(L"P\u00e9riph\u00e9rique", L"P\u00e9riph\u00e9rique (COM1)", L"COM1");
    sim.AddPort(L"\u0141\u00f3d\u017a", L"\u0141\u00f3d\u017a (COM2)", L"COM2");
    const Listing l = List();
    ASSERT_EQ(l.count, 2);
    EXPECT_EQ(l.Text(0), "P\xe9riph\xe9rique (COM1)");
    EXPECT_EQ(l.Text(1), "");
    EXPECT_EQ(l.Number(1), 2);
}

TEST(PortListing, StopsAtFiftyRows)
{
    SimMachine sim;
    for (int i = 1; i <= 60; ++i)
        sim.AddPort(L"Port", L"Port (COM" + std::to_wstring(i) + L")", L"");
    const Listing l = List();
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(l.count, 50);
    EXPECT_EQ(l.Number(49), 50);
}

TEST(PortListing, FailuresLeaveTheCountUntouched)
{
    SimMachine sim;
    sim.AddPort(L"Port", L"Port (COM1)", L"COM1");
    sim.classListFails = true;
    Listing l = List();
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.count, -1);
    std::int32_t count = 0;
    EXPECT_EQ(getPortComAvailable(nullptr, &count, SPDRP_FRIENDLYNAME), 0);
    EXPECT_EQ(getPortComAvailable(l.table.Rows(), nullptr, SPDRP_FRIENDLYNAME), 0);
}

// Each entry "DESCRIPTION|N|" goes behind the caller's text while 54 bytes of room are left.
TEST(PortTexts, EntriesAppendedBehindTheCallersText)
{
    const struct {
        std::vector<std::pair<std::wstring, int>> ports;  // description and number
        const char* before;
        std::int32_t size;
        std::string after;
    } cases[] = {
        {{{L"Serial A", 12}, {L"DORAN Kavron USB", 5}}, "abc", 300, "abcSerial A|12|DORAN Kavron USB|5|"},
        {{{L"Serial A", 12}}, "", 54, ""},
        {{{L"Serial A", 12}}, "", 55, "Serial A|12|"},
        // 12 + 54 is not less than 66: the second entry is skipped.
        {{{L"Serial A", 12}}, "Serial A|12|", 66, "Serial A|12|"},
        // A long description is cut; the number always stays.
        {{{std::wstring(100, L'd'), 7}}, "", 300, std::string(50, 'd') + "|7|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        SimMachine sim;
        for (const auto& port : c.ports) {
            const std::wstring name = L"COM" + std::to_wstring(port.second);
            sim.AddPort(port.first, port.first + L" (" + name + L")", name);
        }
        char out[300] = "";
        std::strcpy(out, c.before);
        EXPECT_EQ(getPortComAvailable2(out, c.size), 1);
        EXPECT_EQ(std::string(out), c.after);
    }
}

TEST(PortTexts, NothingAppendedWithoutARoomOrAList)
{
    SimMachine sim;
    sim.AddPort(L"Serial A", L"Serial A (COM12)", L"COM12");
    char full[60];
    std::memset(full, 'x', sizeof full);  // no terminator anywhere: treated as full
    EXPECT_EQ(getPortComAvailable2(full, sizeof full), 1);
    EXPECT_EQ(full[sizeof full - 1], 'x');
    EXPECT_EQ(getPortComAvailable2(nullptr, 100), 0);

    sim.classListFails = true;
    char out[100] = "abc";
    EXPECT_EQ(getPortComAvailable2(out, sizeof out), 1);
    EXPECT_STREQ(out, "abc");
}

TEST(PortSwitch, EnableIsGlobalThenConfigSpecific)
{
    SimMachine sim;
    SimDevice& port = sim.AddPort(L"DORAN Kavron USB", L"DORAN Kavron USB (COM5)", L"COM5");
    port.enabled = false;
    EXPECT_EQ(activatePortCom(5), 1);
    EXPECT_TRUE(port.enabled);
    EXPECT_EQ(sim.installerCalls, (std::vector<std::string>{"enable global", "enable config"}));

    sim.installerCalls.clear();
    EXPECT_EQ(deactivatePortCom(5), 1);
    EXPECT_FALSE(port.enabled);
    EXPECT_EQ(sim.installerCalls, std::vector<std::string>{"disable config"});
    EXPECT_EQ(sim.OpenHandles(), 0);
}

TEST(PortSwitch, ARestartStillNeededCountsAsFailure)
{
    SimMachine sim;
    SimDevice& port = sim.AddPort(L"Serial", L"Serial (COM5)", L"COM5");
    port.flagsAfterInstaller = DI_NEEDRESTART;
    EXPECT_EQ(deactivatePortCom(5), 0);
    EXPECT_FALSE(port.enabled);  // requested all the same
    port.flagsAfterInstaller = DI_NEEDREBOOT;
    port.installFlags = 0;
    EXPECT_EQ(activatePortCom(5), 0);
    port.flagsAfterInstaller = 0;
    port.installFlags = 0;
    port.installerFails = true;
    EXPECT_EQ(activatePortCom(5), 0);
}

TEST(PortSwitch, OnlyAListedNumberIsSwitched)
{
    SimMachine sim;
    sim.AddPort(L"Serial", L"Serial (COM5)", L"COM5");
    sim.AddPort(L"COM bridge", L"", L"");  // listed without a number
    EXPECT_EQ(deactivatePortCom(6), 0);
    EXPECT_EQ(deactivatePortCom(0), 0);
    EXPECT_EQ(deactivatePortCom(-5), 0);
    EXPECT_TRUE(sim.installerCalls.empty());
    sim.classListFails = true;
    EXPECT_EQ(activatePortCom(5), 0);
    EXPECT_TRUE(sim.installerCalls.empty());
}
