#include <gtest/gtest.h>

#include <utility>

#include <algorithm>
#include <cstring>

#include "FakeOs.h"
#include "terminal/Terminal.h"

namespace {

bool IsProbeA(const Bytes& frame)
{
    return frame.size() == 9 && std::equal(frame.begin(), frame.end(), proto::kProbeA);
}

bool IsProbeB(const Bytes& frame)
{
    return frame.size() == 8 && std::equal(frame.begin(), frame.end(), proto::kProbeB);
}

// A loader that answers its probes only at one rate.
void AnswerAt(FakeOs& os, DWORD baud)
{
    os.port.onWrite = [baud](FakePort& port, const Bytes& frame) {
        if (port.dcb.BaudRate != baud)
            return;
        if (IsProbeA(frame))
            port.Queue({0x2F, 0xC0, 0x04, 'K', 'A', 'V', 'R', 0x31, 0x01});
        else if (IsProbeB(frame))
            port.Queue({0x2F, 0x40, 0x03, 'K', 0x10, 0x20, 0x30});
    };
}

std::size_t CountProbeA(const FakeOs& os)
{
    return static_cast<std::size_t>(std::count_if(os.port.writes.begin(), os.port.writes.end(), IsProbeA));
}

} // namespace

TEST(Search, LoaderAt38400IsFoundAfterTheSlowerRates)
{
    FakeOs os;
    AnswerAt(os, 38400);
    CTerminal t;
    ASSERT_TRUE(t.FindTerminal("Port COM5 (COM5)"));
    EXPECT_EQ(os.opened, std::vector<std::string>{"\\\\.\\COM5"});
    EXPECT_EQ(t.GetPortNumber(), 5);
    EXPECT_EQ(t.GetBaudRate(), 38400);
    EXPECT_EQ(os.port.dcb.BaudRate, 38400u);
    EXPECT_EQ(CountProbeA(os), 3u + 3u + 1u);
    EXPECT_EQ(os.port.timeouts.ReadIntervalTimeout, 500u);
    EXPECT_EQ(os.port.timeouts.ReadTotalTimeoutConstant, 500u);
    EXPECT_EQ(os.port.timeouts.WriteTotalTimeoutConstant, 500u);
    EXPECT_EQ(os.port.timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(os.port.timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_TRUE(os.Logged("Terminal detecte sur le port : COM5"));
    EXPECT_TRUE(t.IsOpen());
    // COM5 belongs to no device of the maker: three lookups, each followed by its wait.
    EXPECT_EQ(os.sleeps, (std::vector<DWORD>{1000, 1000, 1000}));
}

TEST(Search, NoAnswerAtAnyRateClosesThePort)
{
    FakeOs os;
    CTerminal t;
    EXPECT_FALSE(t.FindTerminal("COM7"));
    EXPECT_EQ(t.GetPortNumber(), 7);
    EXPECT_EQ(CountProbeA(os), 15u);
    EXPECT_EQ(os.port.dcb.BaudRate, 115200u);
    EXPECT_FALSE(t.IsOpen());
    EXPECT_EQ(os.portCloses, 1);
    // COM7 is a maker's device on USB: one lookup is enough.
    EXPECT_TRUE(os.sleeps.empty());
    EXPECT_EQ(t.GetUsbHub(), 2);
    EXPECT_EQ(t.GetUsbHubPort(), 4);
}

// Only a COM port is ever opened: a drive, a device, a pipe or a name that does not fit is
// refused before any lookup. The library's lookup carries one byte: above COM255 it would
// find another port's device, so it is not made.
TEST(Search, OnlyComPortNamesAreOpened)
{
    const struct {
        const char* text;
        const char* opened;  // null: refused
        std::size_t lookups;
    } cases[] = {
        {"Port COM5 (COM5)", "\\\\.\\COM5", 3},
        {"COM7", "\\\\.\\COM7", 1},
        {"COM255", "\\\\.\\COM255", 3},
        {"COM263", "\\\\.\\COM263", 0},  // 263 & 0xFF is the reader's COM7
        {"COM1234", "\\\\.\\COM1234", 0}, // seven characters still fit
        {"E:", nullptr, 0},
        {"NUL", nullptr, 0},
        {"CON", nullptr, 0},
        {"\\\\.\\pipe\\lecteur", nullptr, 0},
        {"Lecteur (COM5) branche en USB", nullptr, 0},
        {"COM12345", nullptr, 0},
        {"COMX", nullptr, 0},
        {"COM", nullptr, 0},
        {"COM0", nullptr, 0},
        {"COM05", nullptr, 0},
        {"COM5:", nullptr, 0},
        {"LPT1", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        FakeOs os;
        CTerminal t;
        EXPECT_FALSE(t.FindTerminal(c.text));
        const std::size_t lookups = static_cast<std::size_t>(
            std::count_if(os.lines.begin(), os.lines.end(), [](const std::string& line) {
                return line.rfind("Read driver by com", 0) == 0;
            }));
        EXPECT_EQ(lookups, c.lookups);
        if (c.opened != nullptr) {
            EXPECT_EQ(os.opened, std::vector<std::string>{c.opened});
            continue;
        }
        EXPECT_TRUE(os.opened.empty());
        EXPECT_TRUE(os.sleeps.empty());
        EXPECT_TRUE(os.boxes.empty());
        EXPECT_EQ(t.GetOpenFailure(), CTerminal::OpenFailure::None);
        EXPECT_TRUE(os.Logged(std::string("Nom de port invalide : ") + c.text));
    }
}

TEST(Search, PortThatCannotBeOpenedIsNotProbed)
{
    // Why the open failed tells a port held by another program from one that is gone.
    const std::pair<DWORD, CTerminal::OpenFailure> cases[] = {
        {ERROR_FILE_NOT_FOUND, CTerminal::OpenFailure::Absent},
        {ERROR_PATH_NOT_FOUND, CTerminal::OpenFailure::Absent},
        {ERROR_ACCESS_DENIED, CTerminal::OpenFailure::Busy},
        {ERROR_SHARING_VIOLATION, CTerminal::OpenFailure::Busy},
        {ERROR_GEN_FAILURE, CTerminal::OpenFailure::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        FakeOs os;
        os.port.failOpen = true;
        os.port.openError = c.first;
        CTerminal t;
        EXPECT_FALSE(t.FindTerminal("COM3"));
        EXPECT_TRUE(os.port.writes.empty());
        EXPECT_TRUE(os.Logged("Impossible d'ouvrir le port \\\\.\\COM3"));
        EXPECT_EQ(t.GetOpenFailure(), c.second);
        EXPECT_EQ(os.Logged("Port COM3 utilise par une autre application"),
                  c.second == CTerminal::OpenFailure::Busy);
    }
}

TEST(Search, MissingLibraryCostsThreeMessagesAndWaits)
{
    FakeOs os;
    os.libraryMissing = true;
    AnswerAt(os, 9600);
    CTerminal t;
    EXPECT_TRUE(t.FindTerminal("COM7"));
    EXPECT_EQ(os.boxes.size(), 3u);
    EXPECT_EQ(os.sleeps, (std::vector<DWORD>{1000, 1000, 1000}));
}

TEST(Search, AbsentLoaderShowsOneBoxPerRate)
{
    FakeOs os;
    os.port.onWrite = [](FakePort& port, const Bytes& frame) {
        if (IsProbeA(frame))
            port.Queue({0x2F, 0xC0, 0x04, 0x00, 0x00, 0, 0, 0, 0});
        else if (IsProbeB(frame))
            port.Queue({0x2F, 0x40, 0x03, 0x01, 0x81, 0, 0});
    };
    CTerminal t;
    EXPECT_FALSE(t.FindTerminal("COM7"));
    EXPECT_EQ(os.boxes.size(), 5u);
    EXPECT_EQ(os.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
}

TEST(Search, RatesTheDriverRefusesAreNotProbed)
{
    FakeOs os;
    // Left at 115200 by the last user; this adapter cannot do the two slowest rates.
    os.port.dcb.BaudRate = 115200;
    os.port.unsupportedRates = {9600, 19200};
    AnswerAt(os, 115200);
    CTerminal t;
    ASSERT_TRUE(t.FindTerminal("COM5"));
    EXPECT_EQ(t.GetBaudRate(), 115200);
    EXPECT_EQ(CountProbeA(os), 3u + 3u + 1u);
    EXPECT_EQ(std::count(os.lines.begin(), os.lines.end(), "Erreur systeme 87"), 2);
    EXPECT_TRUE(os.LoggedThen("Impossible de parametrer le port", "Erreur systeme 87"));

    // Without its time-outs a read could wait for ever: nothing is probed.
    FakeOs refused;
    refused.port.failTimeouts = true;
    AnswerAt(refused, 9600);
    CTerminal u;
    EXPECT_FALSE(u.FindTerminal("COM5"));
    EXPECT_TRUE(refused.port.writes.empty());
    EXPECT_FALSE(u.IsOpen());
    EXPECT_TRUE(refused.LoggedThen("Impossible de fixer les delais du port", "Erreur systeme 31"));
}

TEST(Search, LineErrorAtAWrongRateDoesNotHideTheReader)
{
    FakeOs os;
    AnswerAt(os, 19200);
    const auto answer = os.port.onWrite;
    os.port.onWrite = [answer](FakePort& port, const Bytes& frame) {
        // The reader's reply, sent at its own rate, reads as a framing error at 9600.
        if (port.dcb.BaudRate == 9600)
            port.QueueLineError(CE_FRAME);
        answer(port, frame);
    };
    CTerminal t;
    ASSERT_TRUE(t.FindTerminal("COM5"));
    EXPECT_EQ(t.GetBaudRate(), 19200);
    EXPECT_TRUE(os.Logged("Erreur de ligne 0x8"));
}
