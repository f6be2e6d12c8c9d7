// The progress window for real, under Wine: its start and end paths, and a whole run
// through it against the loader on the fake port.
#include <gtest/gtest.h>

#include <memory>

#include "FakeOs.h"
#include "LoaderPeer.h"
#include "PackageDir.h"
#include "engine/ChargementDlg.h"
#include "engine/RunResult.h"

namespace {

const char kNoOptions[] = "00000000000000000000000000";

void WritePackage(PackageDir& dir)
{
    WriteOpenCatalogue(dir, {"A.PDF", "B.DDF"});
    dir.Write("A.PDF", std::string(1000, 'a'));
    dir.Write("B.DDF", std::string(300, 'b'));
}

TEST(ChargementDlg, EmptyPortTextEndsAtOnceWithoutAWorker)
{
    FakeOs os;
    CChargementDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetResult(), RUN_NO_PORT);
    EXPECT_EQ(os.threadsCreated, 0);
    EXPECT_TRUE(os.port.writes.empty());
}

TEST(ChargementDlg, WorkerThatCannotStartClosesTheWindowAsFailed)
{
    FakeOs os;
    os.failCreateThread = true;
    CChargementDlg dialog;
    dialog.SetPortName("COM7");
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetResult(), RUN_DOWNLOAD_UNDEFINED);
    EXPECT_TRUE(os.Logged("Erreur lors de la creation du thread"));
}

TEST(ChargementDlg, RunEndsTheWindowWithOkOnlyOnSuccess)
{
    {
        FakeOs os;
        PackageDir dir;
        WritePackage(dir);
        LoaderPeer peer(os, LoaderScenario("M30", kNoOptions, {"SANTE"}));
        CChargementDlg dialog;
        dialog.SetPortName("DORAN Kavron USB (COM7)");
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(dialog.GetResult(), RUN_SUCCEEDED);
        EXPECT_TRUE(dialog.m_succeeded);
        EXPECT_EQ(peer.StoredOrder(), (std::vector<std::string>{"A.PDF", "B.DDF"}));
        EXPECT_EQ(os.threadsCreated, 1);

    }
    {
        FakeOs os;
        PackageDir dir;
        WritePackage(dir);
        LoaderPeer peer(os, LoaderScenario("M30", kNoOptions, {"AUTRE"}));
        CChargementDlg dialog;
        dialog.SetPortName("COM7");
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_EQ(dialog.GetResult(), RUN_CONSTRAINTS_NOT_MET);
        EXPECT_FALSE(dialog.m_succeeded);
    }
}

TEST(ChargementDlg, GradientPenFollowsTheRowsAndNeverPassesTheLast)
{
    // Row 0 is drawn with pen 0; row y > 0 with the pen chosen after row y - 1.
    const int h = 170;
    EXPECT_EQ(ProgressGradientPen(0, h), 0);
    EXPECT_EQ(ProgressGradientPen(h / 2 - 1, h), 22);
    EXPECT_EQ(ProgressGradientPen(h - 1, h), 44); // the last row, y = h, uses pen 44
    EXPECT_EQ(ProgressGradientPen(h, h), 44);
    for (int height = 1; height < 400; ++height)
        for (int y = 0; y <= height; ++y)
            ASSERT_LE(ProgressGradientPen(y, height), 44) << y << " of " << height;
    EXPECT_EQ(ProgressGradientPen(0, 0), 0); // no client height: no division
}

TEST(ChargementDlg, CallbackContextCarriesTheWindowHandle)
{
    HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ContextToHandle(HandleToContext(window)), window);
    ::DestroyWindow(window);
}

} // namespace
