#include <gtest/gtest.h>

#include <cstring>

#include "FakeOs.h"
#include "terminal/Terminal.h"

namespace {

DWORD FlagWord(const DCB& dcb)
{
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + 8, sizeof flags);
    return flags;
}

void SetFlagWord(DCB& dcb, DWORD flags)
{
    std::memcpy(reinterpret_cast<BYTE*>(&dcb) + 8, &flags, sizeof flags);
}

} // namespace

TEST(Port, OpenAndCloseLogTheirOutcome)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM12"));
    ASSERT_EQ(os.opened.size(), 1u);
    EXPECT_EQ(os.opened[0], "\\\\.\\COM12");
    EXPECT_TRUE(os.Logged("Port \\\\.\\COM12 ouvert"));

    EXPECT_TRUE(t.ClosePort());
    EXPECT_TRUE(os.Logged("Port correctement ferme"));
    const std::size_t linesAfterFirstClose = os.lines.size();
    EXPECT_TRUE(t.ClosePort());
    EXPECT_EQ(os.lines.size(), linesAfterFirstClose);
    EXPECT_EQ(os.portCloses, 1);
}

TEST(Port, FailedOpenLeavesTheLinkClosed)
{
    FakeOs os;
    os.port.failOpen = true;
    CTerminal t;
    EXPECT_FALSE(t.OpenPort("COM3"));
    EXPECT_TRUE(os.Logged("Impossible d'ouvrir le port \\\\.\\COM3"));
    EXPECT_FALSE(t.IsOpen());
    EXPECT_TRUE(t.ClosePort());
    EXPECT_EQ(os.portCloses, 0);
}

TEST(Port, FailedCloseKeepsTheHandle)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    os.port.failClose = true;
    EXPECT_FALSE(t.ClosePort());
    EXPECT_TRUE(os.Logged("Probleme de fermeture du port"));
    EXPECT_TRUE(t.IsOpen());
    os.port.failClose = false;
    EXPECT_TRUE(t.ClosePort());
}

TEST(Port, ConfigureSetsTheLineAndKeepsTheParityCheck)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    // Every flag set as read, the parity check (bit 1) among them.
    SetFlagWord(os.port.dcb, 0xFFFFFFFF);
    os.port.dcb.wReserved = 0x1234;
    os.port.dcb.XonChar = 0x11;
    ASSERT_TRUE(t.ConfigurePort(115200, ONESTOPBIT, NOPARITY, 8));
    const DCB& dcb = os.port.dcb;
    EXPECT_EQ(FlagWord(dcb), (0xFFFFFFFFu & 0xFFFFD093u) | 0x5091u);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.wReserved, 0x1234);
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffLim, 2048);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonChar, 0);
    EXPECT_TRUE(os.Logged("Port correctement configure"));

    // From a zeroed word only the set bits appear: the parity check stays off.
    SetFlagWord(os.port.dcb, 0);
    ASSERT_TRUE(t.ConfigurePort(9600, ONESTOPBIT, NOPARITY, 8));
    EXPECT_EQ(FlagWord(os.port.dcb), 0x5091u);
    EXPECT_EQ(os.port.dcb.fParity, 0u);
}

TEST(Port, ConfigureFailuresAreLogged)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    os.port.failGetState = true;
    EXPECT_FALSE(t.ConfigurePort(9600, 0, 0, 8));
    EXPECT_TRUE(os.Logged("Impossible d'obtenir les parametres du port"));
    os.port.failGetState = false;
    os.port.failSetState = true;
    EXPECT_FALSE(t.ConfigurePort(9600, 0, 0, 8));
    EXPECT_TRUE(os.Logged("Impossible de parametrer le port"));
}

TEST(Port, TimeoutsTakeTheWriteConstantBeforeTheMultiplier)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    const std::size_t lines = os.lines.size();
    EXPECT_TRUE(t.SetPortTimeouts(1, 2, 3, 4, 5));
    EXPECT_EQ(os.port.timeouts.ReadIntervalTimeout, 1u);
    EXPECT_EQ(os.port.timeouts.ReadTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(os.port.timeouts.ReadTotalTimeoutConstant, 3u);
    EXPECT_EQ(os.port.timeouts.WriteTotalTimeoutConstant, 4u);
    EXPECT_EQ(os.port.timeouts.WriteTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(os.lines.size(), lines);
}
