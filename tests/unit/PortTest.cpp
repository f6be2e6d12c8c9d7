#include <gtest/gtest.h>

#include <string>

#include "FakeOs.h"
#include "terminal/Terminal.h"

TEST(Port, OpenAndCloseLogTheirOutcome)
{
    Machine<FakePorts, FakeMessages> os;
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
    Machine<FakePorts, FakeMessages> os;
    os.port.failOpen = true;
    CTerminal t;
    EXPECT_FALSE(t.OpenPort("COM3"));
    EXPECT_TRUE(os.LoggedThen("Impossible d'ouvrir le port \\\\.\\COM3", "Erreur systeme 2"));
    EXPECT_FALSE(t.IsOpen());
    EXPECT_TRUE(t.ClosePort());
    EXPECT_EQ(os.portCloses, 0);
}

TEST(Port, FailedCloseKeepsTheHandle)
{
    Machine<FakePorts, FakeMessages> os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    os.port.failClose = true;
    EXPECT_FALSE(t.ClosePort());
    EXPECT_TRUE(os.LoggedThen("Probleme de fermeture du port", "Erreur systeme 31"));
    EXPECT_TRUE(t.IsOpen());
    os.port.failClose = false;
    EXPECT_TRUE(t.ClosePort());
}

TEST(Port, ConfigureSetsTheLineAndKeepsTheParityCheck)
{
    Machine<FakePorts, FakeMessages> os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    // Every flag set as read, the parity check among them.
    DCB& held = os.port.dcb;
    held.fBinary = held.fParity = held.fOutxCtsFlow = held.fOutxDsrFlow = 1;
    held.fDtrControl = DTR_CONTROL_HANDSHAKE;
    held.fDsrSensitivity = held.fTXContinueOnXoff = held.fOutX = held.fInX = 1;
    held.fErrorChar = held.fNull = held.fAbortOnError = 1;
    held.fRtsControl = RTS_CONTROL_TOGGLE;
    held.fDummy2 = 0x1FFFF;
    held.wReserved = 0x1234;
    held.XonChar = held.XoffChar = held.ErrorChar = held.EofChar = held.EvtChar = 0x7E;
    ASSERT_TRUE(t.ConfigurePort(115200, ONESTOPBIT, NOPARITY, 8));
    const DCB& dcb = os.port.dcb;
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.fDummy2, 0x1FFFFu);
    EXPECT_EQ(dcb.wReserved, 0x1234);
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffLim, 2048);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    // XON/XOFF is off, yet the driver wants the two characters told apart.
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ErrorChar, 0);
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.EvtChar, 0);
    EXPECT_TRUE(os.Logged("Port correctement configure"));

    // From a cleared port the parity check stays off.
    os.port.dcb = DCB{};
    ASSERT_TRUE(t.ConfigurePort(9600, ONESTOPBIT, NOPARITY, 8));
    EXPECT_EQ(os.port.dcb.fParity, 0u);
    EXPECT_EQ(os.port.dcb.fDummy2, 0u);
}

TEST(Port, LineSettingsTheDriverRefusesAreReportedAndChangeNothing)
{
    const struct {
        int baud;
        int byteSize;
        bool accepted;
    } cases[] = {
        {115200, 8, true}, {9600, 5, true}, {0, 8, false}, {9600, 4, false}, {9600, 9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + " baud, " + std::to_string(c.byteSize) + " bits");
        Machine<FakePorts, FakeMessages> os;
        CTerminal t;
        ASSERT_TRUE(t.OpenPort("COM3"));
        os.port.dcb.BaudRate = 57600;
        EXPECT_EQ(t.ConfigurePort(c.baud, ONESTOPBIT, NOPARITY, c.byteSize), c.accepted);
        EXPECT_EQ(os.port.dcb.BaudRate, c.accepted ? static_cast<DWORD>(c.baud) : 57600u);
        EXPECT_EQ(os.LoggedThen("Impossible de parametrer le port", "Erreur systeme 87"), !c.accepted);
    }
}

TEST(Port, ConfigureFailuresAreLogged)
{
    Machine<FakePorts, FakeMessages> os;
    CTerminal t;
    ASSERT_TRUE(t.OpenPort("COM3"));
    os.port.failGetState = true;
    EXPECT_FALSE(t.ConfigurePort(9600, 0, 0, 8));
    EXPECT_TRUE(os.LoggedThen("Impossible d'obtenir les parametres du port", "Erreur systeme 31"));
    os.port.failGetState = false;
    os.port.failSetState = true;
    EXPECT_FALSE(t.ConfigurePort(9600, 0, 0, 8));
    EXPECT_TRUE(os.LoggedThen("Impossible de parametrer le port", "Erreur systeme 31"));
    os.port.failTimeouts = true;
    EXPECT_FALSE(t.SetPortTimeouts(500, 0, 500, 500, 0));
    EXPECT_TRUE(os.LoggedThen("Impossible de fixer les delais du port", "Erreur systeme 31"));
}

TEST(Port, TimeoutsTakeTheWriteConstantBeforeTheMultiplier)
{
    Machine<FakePorts, FakeMessages> os;
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
