#include <gtest/gtest.h>

#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "SimMachine.h"
#include "Tessock.h"

namespace {

const wchar_t kKey5[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0005";
const wchar_t kTarget5[] = L"\\Device\\Serial5";

struct Key {
    wchar_t text[tessock::kTextUnits];
    Key() { std::wmemset(text, L'#', tessock::kTextUnits); text[1] = L'\0'; }
    bool Untouched() const { return text[0] == L'#' && text[1] == L'\0'; }
};

// A maker's device on COM5, as the system records it everywhere.
SimDevice& AddTerminalOnCom5(SimMachine& sim)
{
    SimDevice& d = sim.AddPort(L"DORAN Kavron USB", L"DORAN Kavron USB (COM5)", L"COM5", kKey5);
    sim.dosNames[L"COM5"] = kTarget5;
    sim.serialMap = {{L"\\Device\\Serial0", REG_SZ, L"COM1"}, {L"\\Device\\Serial5", REG_SZ, L"COM5"}};
    sim.claimedPorts = {1, 5};
    return d;
}

// Every record still names COM5, and every handle is closed.
void ExpectUnmoved(SimMachine& sim, SimDevice& d)
{
    EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM5");
    EXPECT_EQ(*d.friendlyName, L"DORAN Kavron USB (COM5)");
    EXPECT_EQ(sim.serialMap[1].data, L"COM5");
    EXPECT_EQ(sim.claimedPorts, (std::set<DWORD>{1, 5}));
    EXPECT_EQ(sim.dosNames[L"COM5"], kTarget5);
    EXPECT_EQ(sim.dosNames.count(L"COM7"), 0u);
    EXPECT_EQ(sim.OpenHandles(), 0);
}

} // namespace

// The port number or the driver key of the maker's devices, among others.
TEST(DriverSearch, ComToDriverKeyAndBack)
{
    SimMachine sim;
    sim.AddPort(L"Serial", L"Serial (COM1)", L"COM1");
    AddTerminalOnCom5(sim);
    // Only the maker's name in capitals counts, in any class, anywhere in the description.
    sim.AddPort(L"Doran Kavron USB", L"Doran Kavron USB (COM2)", L"COM2", L"{k}\\0002");
    sim.AddPort(L"Port of the DORAN reader", L"X (COM3)", L"COM3", L"{k}\\0003").classGuid = kUsbClassGuid;
    sim.AddPort(L"DORAN A", L"DORAN A (COM9)", L"COM9", L"{k}\\0091");
    sim.AddPort(L"DORAN B", L"DORAN B (COM9)", L"COM9", L"{k}\\0092");
    sim.AddPort(L"DORAN A", L"DORAN A (COM12)", L"COM12", L"{k}\\0012");
    sim.AddPort(L"DORAN B", L"DORAN B (COM123)", L"COM123", L"{k}\\0123");
    sim.AddPort(L"DORAN C", L"DORAN C (COM255)", L"COM255", L"{k}\\0255");
    // Values longer than the caller's 100-unit buffer.
    sim.AddPort(L"DORAN A", L"DORAN A (COM4)", L"COM4", L"{k}\\" + std::wstring(120, L'9'));
    sim.AddPort(L"DORAN B", L"DORAN B (COM6)", L"COM" + std::wstring(110, L'6'), L"{k}\\0006");

    const struct {
        unsigned char port;
        const wchar_t* key;  // null: the buffer is left untouched
    } byPort[] = {
        {5, kKey5}, {1, nullptr}, {2, nullptr}, {3, L"{k}\\0003"},
        {9, L"{k}\\0092"},  // the last device with the name wins
        {12, L"{k}\\0012"}, {123, L"{k}\\0123"}, {255, L"{k}\\0255"},
        {4, nullptr},  // its key is too long to be written
    };
    for (const auto& c : byPort) {
        SCOPED_TRACE(c.port);
        Key key;
        EXPECT_EQ(searchDriverByComBrenix(c.port, key.text), 0);
        if (c.key != nullptr)
            EXPECT_STREQ(key.text, c.key);
        else
            EXPECT_TRUE(key.Untouched());
    }
    const struct {
        const wchar_t* key;
        const wchar_t* port;  // null: the buffer is left untouched
    } byKey[] = {{kKey5, L"COM5"}, {L"{k}\\0002", nullptr}, {L"{k}\\0006", nullptr}};
    for (const auto& c : byKey) {
        Key port;
        EXPECT_EQ(searchComByDriverBrenix(c.key, port.text), 0);
        if (c.port != nullptr)
            EXPECT_STREQ(port.text, c.port);
        else
            EXPECT_TRUE(port.Untouched()) << c.key;
    }
    EXPECT_EQ(sim.OpenHandles(), 0);
}

TEST(DriverSearch, ArgumentAndListFailures)
{
    SimMachine sim;
    AddTerminalOnCom5(sim);
    Key port;
    EXPECT_EQ(searchComByDriverBrenix(L"", port.text), 0xFF);
    EXPECT_EQ(searchComByDriverBrenix(nullptr, port.text), 0xFF);
    EXPECT_EQ(searchComByDriverBrenix(kKey5, nullptr), 0xFF);
    EXPECT_EQ(searchDriverByComBrenix(5, nullptr), 1);
    EXPECT_EQ(searchComByDriverBrenix(L"{no such key}", port.text), 0);
    EXPECT_TRUE(port.Untouched());

    sim.enumerationFailsAt = 0;
    EXPECT_EQ(searchDriverByComBrenix(5, port.text), 1);
    sim.enumerationFailsAt = -1;
    sim.classListFails = true;
    EXPECT_EQ(searchComByDriverBrenix(kKey5, port.text), 1);
    EXPECT_EQ(setComByDriverBrenix(kKey5, 7), 1);
    EXPECT_TRUE(port.Untouched());
    EXPECT_EQ(sim.OpenHandles(), 0);
}

TEST(PortRenumbering, MovesEveryRecordFromCom5ToCom7)
{
    SimMachine sim;
    sim.Elevate();
    SimDevice& d = AddTerminalOnCom5(sim);
    EXPECT_EQ(setComByDriverBrenix(kKey5, 7), 0);
    EXPECT_EQ(*d.friendlyName, L"DORAN Kavron USB (COM7)");
    EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM7");
    EXPECT_EQ(sim.serialMap[1].data, L"COM7");
    EXPECT_EQ(sim.serialMap[0].data, L"COM1");
    EXPECT_EQ(sim.claimedPorts, (std::set<DWORD>{1, 7}));
    EXPECT_EQ(sim.dosNames.count(L"COM5"), 0u);
    EXPECT_EQ(sim.dosNames[L"COM7"], kTarget5);
    EXPECT_NE(d.installFlags & DI_PROPERTIES_CHANGE, 0u);
    EXPECT_EQ(sim.OpenHandles(), 0);

    // The library's own searches see the new number.
    Key key;
    EXPECT_EQ(searchDriverByComBrenix(7, key.text), 0);
    EXPECT_STREQ(key.text, kKey5);
}

TEST(PortRenumbering, NothingChangesWhenTheDosNameCannotMove)
{
    const struct {
        const char* what;
        void (*block)(SimMachine&);
    } cases[] = {
        {"old port held open", [](SimMachine& sim) { sim.heldOpen.insert(L"COM5"); }},
        {"new name undefinable: the old one restored", [](SimMachine& sim) { sim.undefinable.insert(L"COM7"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine sim;
        sim.Elevate();
        SimDevice& d = AddTerminalOnCom5(sim);
        c.block(sim);
        EXPECT_EQ(setComByDriverBrenix(kKey5, 7), 0);
        ExpectUnmoved(sim, d);
    }
}

TEST(PortRenumbering, WithoutThePortDatabaseTheOtherRecordsStillMove)
{
    for (int variant = 0; variant < 2; ++variant) {
        SimMachine sim;
        sim.Elevate();
        SimDevice& d = AddTerminalOnCom5(sim);
        sim.msportsMissing = variant == 0;
        if (variant == 1)
            sim.missingExports.insert("ComDBReleasePort");
        EXPECT_EQ(setComByDriverBrenix(kKey5, 7), 0);
        EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM7") << variant;
        EXPECT_EQ(*d.friendlyName, L"DORAN Kavron USB (COM7)") << variant;
        EXPECT_EQ(sim.claimedPorts, (std::set<DWORD>{1, 5})) << variant;
        EXPECT_EQ(sim.databaseCallsWhileClosed, 0) << variant;
        EXPECT_EQ(sim.OpenHandles(), 0) << variant;
    }
}

TEST(PortRenumbering, MapEntriesTooLongToReadDoNotHideOurs)
{
    SimMachine sim;
    sim.Elevate();
    SimDevice& d = AddTerminalOnCom5(sim);
    sim.serialMap.insert(sim.serialMap.begin(), {std::wstring(100, L'n'), REG_SZ, L"COM3"});
    sim.serialMap.insert(sim.serialMap.begin(), {L"\\Device\\Odd", REG_DWORD, L"COM5"});
    EXPECT_EQ(setComByDriverBrenix(kKey5, 7), 0);
    EXPECT_EQ(sim.serialMap[1].data, L"COM3");
    EXPECT_EQ(sim.serialMap[0].data, L"COM5");  // not text: left alone
    EXPECT_EQ(sim.serialMap[3].data, L"COM7");
    EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM7");
}

TEST(PortRenumbering, HighNumbersAndLongDescriptions)
{
    SimMachine sim;
    sim.Elevate();
    SimDevice& d = AddTerminalOnCom5(sim);
    d.description = L"DORAN " + std::wstring(100, L'x');
    EXPECT_EQ(setComByDriverBrenix(kKey5, 255), 0);
    EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM255");
    EXPECT_EQ(sim.claimedPorts, (std::set<DWORD>{1, 255}));
    // Cut to 80 units, the port name kept whole: the listing reads it back.
    EXPECT_EQ(d.friendlyName->size(), 80u);
    EXPECT_EQ(d.friendlyName->substr(71), L" (COM255)");
}

TEST(PortRenumbering, RefusedArguments)
{
    SimMachine sim;
    sim.Elevate();
    SimDevice& d = AddTerminalOnCom5(sim);
    EXPECT_EQ(setComByDriverBrenix(L"", 7), 0xFF);
    EXPECT_EQ(setComByDriverBrenix(nullptr, 7), 0xFF);
    EXPECT_EQ(setComByDriverBrenix(kKey5, 0), 0xFF);
    EXPECT_EQ(setComByDriverBrenix(L"{no such key}", 7), 0);
    EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM5");
    EXPECT_EQ(sim.dosNames.count(L"COM7"), 0u);
}

// A standard user reads every record the lookups need; a renumbering that any store refuses
// to write fails as refused and leaves every record as it was.
TEST(AccessRights, LookupsNeedReadingOnlyAndARefusedRenumberingChangesNothing)
{
    using S = SimStore;
    const struct {
        const char* what;
        std::set<SimStore> writable;
        const char* refusedStore;  // null: the renumbering goes through
    } cases[] = {
        {"standard user", {}, "cle materielle"},
        {"elevated", {S::HardwareKeys, S::SerialMap, S::PortDatabase}, nullptr},
        {"hardware key read-only", {S::SerialMap, S::PortDatabase}, "cle materielle"},
        {"serial map read-only", {S::HardwareKeys, S::PortDatabase}, "table des ports serie"},
        {"port database refused", {S::HardwareKeys, S::SerialMap}, "base des ports COM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine sim;
        sim.writable = c.writable;
        SimDevice& d = AddTerminalOnCom5(sim);
        // Its friendly name is stale: only "PortName" gives its number.
        sim.AddPort(L"DORAN B", L"DORAN B (COM3)", L"COM4", L"{k}\\0004");

        PortTable table;
        std::int32_t count = 0;
        ASSERT_EQ(getPortComAvailable(table.Rows(), &count, SPDRP_DEVICEDESC), 1);
        ASSERT_EQ(count, 2);
        EXPECT_EQ(table.Row(0).portNumber, 5);
        EXPECT_EQ(table.Row(1).portNumber, 4);
        Key key;
        EXPECT_EQ(searchDriverByComBrenix(4, key.text), 0);
        EXPECT_STREQ(key.text, L"{k}\\0004");
        Key port;
        EXPECT_EQ(searchComByDriverBrenix(kKey5, port.text), 0);
        EXPECT_STREQ(port.text, L"COM5");

        ::SetLastError(ERROR_SUCCESS);
        const unsigned char result = setComByDriverBrenix(kKey5, 7);
        const DWORD error = ::GetLastError();
        EXPECT_EQ(sim.OpenHandles(), 0);
        if (c.refusedStore == nullptr) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(d.hardwareValues[L"PortName"], L"COM7");
            EXPECT_TRUE(sim.debugLines.empty());
            continue;
        }
        EXPECT_EQ(result, 1);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(sim.debugLines, std::vector<std::string>{
                                      std::string("Changement de COM5 en COM7 refuse : ecriture "
                                                  "non autorisee (") + c.refusedStore + ")"});
        ExpectUnmoved(sim, d);
    }
}
