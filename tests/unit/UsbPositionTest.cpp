#include <gtest/gtest.h>

#include <cwchar>

#include "FakeOs.h"
#include "terminal/Terminal.h"

// These run against the library double that sits beside the test program.

TEST(UsbPosition, FoundDeviceIsRecordedAndLogged)
{
    FakeOs os;
    CTerminal t;
    EXPECT_TRUE(t.recordUsbPosition(7));
    EXPECT_EQ(t.GetUsbHub(), 2);
    EXPECT_EQ(t.GetUsbHubPort(), 4);
    EXPECT_STREQ(t.GetUsbDriverKey(), L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0007");
    ASSERT_EQ(os.lines.size(), 2u);
    EXPECT_EQ(os.lines[0],
              "Read driver by com (COM7) -> \"{4d36e978-e325-11ce-bfc1-08002be10318}\\0007\" (ret 0)");
    EXPECT_EQ(os.lines[1], "Search position (COM7)-> HUB= 2, HUBPORT = 4");
    EXPECT_TRUE(os.boxes.empty());

    // The library takes one byte: COM263 would be looked up as COM7, so it is not.
    CTerminal wide;
    EXPECT_FALSE(wide.recordUsbPosition(263));
    EXPECT_EQ(wide.GetUsbHub(), 0);
    EXPECT_EQ(wide.GetUsbDriverKey()[0], L'\0');
    ASSERT_EQ(os.lines.size(), 3u);
    EXPECT_EQ(os.lines[2], "Position USB non recherchee : COM263 depasse COM255");
}

TEST(UsbPosition, PortOfNoMakerDeviceFails)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.recordUsbPosition(7)); // a key and a position from an earlier lookup
    os.lines.clear();
    EXPECT_FALSE(t.recordUsbPosition(1));
    EXPECT_EQ(t.GetUsbDriverKey()[0], L'\0');
    ASSERT_EQ(os.lines.size(), 2u);
    EXPECT_EQ(os.lines[0], "Read driver by com (COM1) -> \"\" (ret 0)");
    EXPECT_EQ(os.lines[1], "Search position (COM1)-> HUB= 0, HUBPORT = 0");
}

TEST(UsbPosition, DeviceNotOnUsbLeavesThePositionZero)
{
    FakeOs os;
    CTerminal t;
    ASSERT_TRUE(t.recordUsbPosition(7)); // a position from an earlier lookup
    EXPECT_FALSE(t.recordUsbPosition(8));
    EXPECT_EQ(t.GetUsbHub(), 0);
    EXPECT_EQ(t.GetUsbHubPort(), 0);
}

TEST(UsbPosition, LongKeyLineIsCutToItsBuffer)
{
    FakeOs os;
    CTerminal t;
    t.recordUsbPosition(9);
    ASSERT_FALSE(os.lines.empty());
    EXPECT_EQ(os.lines[0].size(), 99u);
    EXPECT_EQ(os.lines[0].rfind("Read driver by com (COM9) -> \"kkkk", 0), 0u);
    EXPECT_EQ(std::wcslen(t.GetUsbDriverKey()), 99u);
}

TEST(UsbPosition, MissingLibraryShowsItsMessage)
{
    FakeOs os;
    os.libraryMissing = true;
    CTerminal t;
    EXPECT_FALSE(t.recordUsbPosition(7));
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_EQ(os.boxes[0].text, "Impossible de charger la dll Tessock");
    EXPECT_EQ(os.boxes[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(os.lines.empty());
}
