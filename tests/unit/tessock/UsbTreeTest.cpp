#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "SimMachine.h"
#include "Tessock.h"

namespace {

const wchar_t kTerminal[] = L"{36fc9e60-c465-11cf-8056-444553540000}\\0010";

struct Key {
    wchar_t text[tessock::kTextUnits];
    Key() { std::wmemset(text, L'#', tessock::kTextUnits); text[1] = L'\0'; }
    bool Untouched() const { return text[0] == L'#' && text[1] == L'\0'; }
};

SimUsbPort Device(const std::wstring& key, USHORT vendor = 0x079B, USHORT product = 0x0028)
{
    SimUsbPort port;
    port.vendorId = vendor;
    port.productId = product;
    port.driverKey = key;
    return port;
}

SimUsbPort HubPort(const std::wstring& name)
{
    SimUsbPort port;
    port.isHub = true;
    port.vendorId = 0x079B;  // a hub of the maker's is still never matched
    port.hubName = name;
    port.driverKey = L"{hub}\\0001";
    return port;
}

// One controller as \\.\HCD0 whose four-port root hub is ROOT1.
SimHub& OneController(SimMachine& sim)
{
    sim.controllers.push_back({L"{hcd}\\0000", L"ROOT1", 0, L""});
    return sim.AddHub(L"ROOT1", 4);
}

struct Position {
    unsigned char hub = 99, port = 99, result = 0;
};

Position PositionOf(const wchar_t* key)
{
    Position p;
    p.result = searchPositionByDriver(key, &p.hub, &p.port);
    return p;
}

} // namespace

// Where the terminal is found on different trees, both ways: its position by its key and
// its key by that position; the other keys have no position.
TEST(UsbPosition, HubsAreNumberedInTheOrderTheyAreWalked)
{
    const struct {
        const char* what;
        void (*build)(SimMachine&);
        unsigned char hub, port;
        std::vector<const wchar_t*> unplaced;
        unsigned char secondPassHub;  // 0: no second pass
    } cases[] = {
        {"on the first root hub", [](SimMachine& sim) { OneController(sim).ports[3] = Device(kTerminal); },
         2, 4, {}, 0},
        {"behind a hub", [](SimMachine& sim) {
             SimHub& root = OneController(sim);
             root.ports[1] = Device(L"{other}\\0001", 0x046D);
             root.ports[2] = HubPort(L"HUB_A");
             sim.AddHub(L"HUB_A", 4).ports[0] = Device(kTerminal);
         },
         // Hubs, other vendors and unknown keys have no position.
         3, 1, {L"{hub}\\0001", L"{other}\\0001", L"{not attached}\\0001"}, 0},
        {"hub numbers stay used by hubs that do not open", [](SimMachine& sim) {
             SimHub& root = OneController(sim);
             root.ports[0] = HubPort(L"DEAD");
             root.ports[1] = HubPort(L"MUTE");
             root.ports[2] = HubPort(L"LIVE");
             sim.AddHub(L"DEAD", 2).opens = false;
             sim.AddHub(L"MUTE", 2).nodeInfoFails = true;
             sim.AddHub(L"LIVE", 2).ports[1] = Device(kTerminal);
         },
         5, 2, {}, 0},
        {"a controller reached twice reports the first pass", [](SimMachine& sim) {
             sim.controllers.push_back({L"{hcd}\\0000", L"ROOT1", 0, L"\\\\?\\pci#ven_8086#3&1#{3abf6f2d}"});
             sim.AddHub(L"ROOT1", 4).ports[3] = Device(kTerminal);
             // A controller without a driver key is skipped without taking a number.
             sim.controllers.push_back({L"", L"ROOT2", 1, L""});
             sim.AddHub(L"ROOT2", 1).ports[0] = Device(L"{hidden}\\0001");
         },
         2, 4, {L"{hidden}\\0001"}, 4},
        {"the older connection request stands in", [](SimMachine& sim) {
             SimHub& root = OneController(sim);
             root.ports[0] = Device(L"{k}\\0001");
             root.ports[0].bothFail = true;
             root.ports[1] = Device(kTerminal);
             root.ports[1].extendedFails = true;
         },
         2, 2, {L"{k}\\0001"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine sim;
        c.build(sim);
        const Position p = PositionOf(kTerminal);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.hub, c.hub);
        EXPECT_EQ(p.port, c.port);
        Key key;
        EXPECT_EQ(searchDriverByPosition(c.hub, c.port, key.text), 0);
        EXPECT_STREQ(key.text, kTerminal);
        if (c.secondPassHub != 0) {
            Key again;
            EXPECT_EQ(searchDriverByPosition(c.secondPassHub, c.port, again.text), 0);
            EXPECT_STREQ(again.text, kTerminal);
        }
        for (const wchar_t* unplaced : c.unplaced) {
            const Position none = PositionOf(unplaced);
            EXPECT_EQ(none.result, 0xFF);
            EXPECT_EQ(none.hub, 99);  // left untouched
        }
        EXPECT_EQ(sim.OpenHandles(), 0);
    }
}

TEST(UsbPosition, FirstDeviceWithTheProductIdWins)
{
    SimMachine sim;
    SimHub& root = OneController(sim);
    root.ports[0] = Device(L"{k}\\0001", 0x079B, 0x0011);
    root.ports[1] = HubPort(L"HUB_A");
    root.ports[2] = Device(L"{k}\\0003", 0x079B, 0x0028);
    sim.AddHub(L"HUB_A", 2).ports[1] = Device(L"{k}\\0002", 0x079B, 0x0028);
    Key key;
    EXPECT_EQ(searchDriverByPIDBrenix(0x0028, key.text), 0);
    EXPECT_STREQ(key.text, L"{k}\\0002");
    EXPECT_EQ(searchDriverByPIDBrenix(0x0999, key.text), 0);
    EXPECT_STREQ(key.text, L"");
}

TEST(UsbPosition, RefusedArgumentsLeaveTheBuffersAsTheyWere)
{
    SimMachine sim;
    OneController(sim).ports[3] = Device(kTerminal);
    Key key;
    EXPECT_EQ(searchDriverByPosition(0, 4, key.text), 0xFF);
    EXPECT_EQ(searchDriverByPosition(2, 0, key.text), 0xFF);
    EXPECT_TRUE(key.Untouched());
    EXPECT_EQ(searchDriverByPosition(2, 4, nullptr), 0xFF);
    EXPECT_EQ(PositionOf(L"").result, 0xFF);
    EXPECT_EQ(PositionOf(nullptr).result, 0xFF);
    unsigned char hub = 0;
    EXPECT_EQ(searchPositionByDriver(kTerminal, &hub, nullptr), 0xFF);
    EXPECT_EQ(searchDriverByPIDBrenix(0x0028, nullptr), 0);
    // A key longer than the 100-unit buffers names no device.
    const std::wstring longKey(150, L'k');
    EXPECT_EQ(PositionOf(longKey.c_str()).result, 0xFF);
}

// Trees where nothing can be reported: the buffers are cleared, never given a key that does
// not fit.
TEST(UsbPosition, NothingFoundClearsTheKey)
{
    const struct {
        const char* what;
        void (*build)(SimMachine&);
    } cases[] = {
        {"no controller", [](SimMachine&) {}},
        {"a device without a driver key", [](SimMachine& sim) { OneController(sim).ports[0] = Device(L""); }},
        {"a key too long to copy out",
         [](SimMachine& sim) { OneController(sim).ports[0] = Device(std::wstring(120, L'k')); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine sim;
        c.build(sim);
        Key key;
        EXPECT_EQ(searchDriverByPosition(2, 1, key.text), 0);
        EXPECT_STREQ(key.text, L"");
        Key byProduct;
        EXPECT_EQ(searchDriverByPIDBrenix(0x0028, byProduct.text), 0);
        EXPECT_STREQ(byProduct.text, L"");
        EXPECT_EQ(PositionOf(kTerminal).result, 0xFF);
        EXPECT_EQ(sim.OpenHandles(), 0);
    }
}

TEST(UsbPosition, OverlappingSearchesKeepTheirOwnResults)
{
    SimMachine sim;
    SimHub& root = OneController(sim);
    root.ports[0] = Device(L"{k}\\0001");
    root.ports[2] = Device(L"{k}\\0003");
    // Two threads search different devices at once; the one search record must not mix them.
    auto search = [](const wchar_t* key, unsigned char wantedPort, int* wrong) {
        for (int i = 0; i < 200; ++i) {
            unsigned char hub = 0, port = 0;
            if (searchPositionByDriver(key, &hub, &port) != 0 || hub != 2 || port != wantedPort)
                ++*wrong;
        }
    };
    int wrongA = 0, wrongB = 0;
    std::thread a(search, L"{k}\\0001", 1, &wrongA);
    std::thread b(search, L"{k}\\0003", 3, &wrongB);
    a.join();
    b.join();
    EXPECT_EQ(wrongA, 0);
    EXPECT_EQ(wrongB, 0);
    EXPECT_EQ(sim.OpenHandles(), 0);
}
