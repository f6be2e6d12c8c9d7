// The texts the main window shows: the package's read-me and reader type as the controls
// get them, the version text of the about box, and the outcome of a run.
#include <gtest/gtest.h>
#include <windows.h>

#include "PackageDir.h"
#include "app/DisplayTexts.h"
#include "engine/RunResult.h"

namespace {

// A result code as a number, known to the table or not.
RunResult AsResult(int code) { return static_cast<RunResult>(code); }

} // namespace

TEST(PackageTexts, EveryReadMeLineEndsWithCrLf)
{
    EXPECT_EQ(ReadMeOfContent("Ligne 1\nLigne 2"), "Ligne 1\r\nLigne 2\r\n");
    // A final line break shows one empty line more.
    EXPECT_EQ(ReadMeOfContent("Ligne 1\nLigne 2\n"), "Ligne 1\r\nLigne 2\r\n\r\n");
    EXPECT_EQ(ReadMeOfContent("\n\n"), "\r\n\r\n\r\n");
    EXPECT_EQ(ReadMeOfContent(""), "");
}

TEST(PackageTexts, FilesAreReadInTextMode)
{
    PackageDir dir;
    dir.Write("ReadMe.txt", "Mise \xE0 jour\r\nde d\xE9monstration\r\n");
    dir.Write("Lecteur.txt", "Kavron 30\r\nseconde ligne\r\n");
    dir.Write("Vide.txt", "");
    EXPECT_EQ(ReadMeText("ReadMe.txt"), "Mise \xE0 jour\r\nde d\xE9monstration\r\n\r\n");
    // Only the first line of the reader type, without its line break.
    EXPECT_EQ(FirstLineOf("Lecteur.txt"), "Kavron 30");
    EXPECT_EQ(FirstLineOf("Vide.txt"), "");
    EXPECT_EQ(ReadMeText("Vide.txt"), "");
    EXPECT_EQ(ReadMeText("Absent.txt"), "");
    EXPECT_EQ(FirstLineOf("Absent.txt"), "");
}

TEST(VersionTexts, CommaSeparatedVersionsAreDotted)
{
    EXPECT_EQ(DottedVersion("1, 2, 0, 3"), "1.2.0.3");
    EXPECT_EQ(DottedVersion("1.2.0.3"), "1.2.0.3");
    EXPECT_EQ(DottedVersion("1,2, 3"), "1,2.3");
    // The test program has no version block: the fall-backs stand.
    EXPECT_EQ(GetFileVersionText(), "0.0.0.0");
    EXPECT_FALSE(GetLegalNoticeText().empty());
}

TEST(RunOutcome, EachResultShowsItsMessage)
{
    EXPECT_EQ(ResultMessageId(AsResult(0)), 107u);
    EXPECT_EQ(ResultMessageId(AsResult(1)), 109u);
    EXPECT_EQ(ResultMessageId(AsResult(7)), 130u);
    EXPECT_EQ(ResultMessageId(AsResult(10)), 133u);
    EXPECT_EQ(ResultMessageId(AsResult(18)), 141u);
    EXPECT_EQ(ResultMessageId(AsResult(19)), 142u);
    EXPECT_EQ(ResultMessageId(AsResult(20)), 118u);
    EXPECT_EQ(ResultMessageId(AsResult(21)), 108u);
    for (int unknown : {-1, kLastRunResult + 1, 99})
        EXPECT_EQ(ResultMessageId(AsResult(unknown)), 125u) << unknown;

    // Success is the message alone, with the information icon.
    EXPECT_EQ(ResultBoxText(AsResult(0)), "La mise \xE0 jour s'est effectu\xE9" "e avec succ\xE8s");
    EXPECT_EQ(ResultBoxIcon(AsResult(0)), static_cast<unsigned>(MB_ICONINFORMATION));
    // Every failure names its message's id, with the error icon.
    EXPECT_EQ(ResultBoxText(AsResult(10)),
              "Erreur 133:\nErreur de communication avec le lecteur : pas de r\xE9ponse de la part du "
              "lecteur.\nVeuillez v\xE9rifier que le lecteur est bien branch\xE9 sur le port s\xE9lectionn\xE9 "
              "et que l'\xE9" "cran affiche le message d'accueil.");
    EXPECT_EQ(ResultBoxText(AsResult(99)), "Erreur 125:\nErreur lors de la mise \xE0 jour : erreur inconnue.");
    EXPECT_EQ(ResultBoxText(AsResult(14)).substr(0, 12), "Erreur 137:\n");
    EXPECT_EQ(ResultBoxText(AsResult(14)).back(), ' ');  // message 137 ends with a blank
    EXPECT_EQ(ResultBoxText(AsResult(19)).rfind("Erreur 142:\nErreur lors de l'activation", 0), 0u);
    for (int failure : {1, 19, 21, 99})
        EXPECT_EQ(ResultBoxIcon(AsResult(failure)), static_cast<unsigned>(MB_ICONERROR)) << failure;
}
