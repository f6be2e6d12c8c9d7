#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "terminal/Terminal.h"
#include "winfw/Sha256.h"

using namespace proto;

namespace {

using Lines = std::vector<std::string>;

// A simulated machine with the reader's port open and the opening line forgotten.
struct Rig {
    FakeOsOnRealFiles os;
    CTerminal t;
    Rig()
    {
        EXPECT_TRUE(t.OpenPort("COM5"));
        os.lines.clear();
    }
};

// A parameterless command: its code, zeros, and the CRC of bytes 0..29 low byte first.
void ExpectCommand(const FakeOsOnRealFiles& os, std::uint8_t code)
{
    ASSERT_EQ(os.port.writes.size(), 1u);
    const Bytes& f = os.port.writes[0];
    ASSERT_EQ(f.size(), 32u);
    EXPECT_EQ(f[0], code);
    EXPECT_TRUE(std::all_of(f.begin() + 1, f.begin() + 30, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(HasValidCrc(f.data(), 30));
}

// A 128-byte description frame with filler after the data and the CRC over 0..125.
Bytes DescriptionFrame(std::uint8_t length, const Bytes& data)
{
    Bytes f(128, 0xAA);
    f[0] = 0x07;
    f[1] = length;
    std::copy(data.begin(), data.end(), f.begin() + 2);
    StoreCrc(f.data(), 126);
    return f;
}

Lines Items(const CStringList& list) { return Lines(list.begin(), list.end()); }

} // namespace

TEST(Commands, ProbeLoaderSendsProbeAThreeTimesAtMost)
{
    Rig r;
    EXPECT_FALSE(r.t.ProbeLoader());
    EXPECT_EQ(r.os.port.writes, std::vector<Bytes>(3, Bytes(kProbeA, kProbeA + 9)));
    EXPECT_EQ(r.os.port.readSizes, (std::vector<DWORD>{9, 9, 9}));
    EXPECT_TRUE(r.os.lines.empty());
}

TEST(Commands, ProbeLoaderLooksForTheMarkBeforeTheFirstZero)
{
    struct Case {
        const char* what;
        Bytes a, b;
        bool found;
    } const cases[] = {
        // Probe B's short reply leaves the end of probe A's in the shared buffer.
        {"mark left by probe A", {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 'K'}, {0x21},
         true},
        {"mark in probe B's reply", {0x11}, {0x21, 'K'}, true},
        {"mark after a zero", {0x11}, {0x21, 0x00, 'K', 0x24, 0x25, 0x26, 0x27}, false},
        {"nine bytes without mark", Bytes(9, 0x19), Bytes(7, 0x27), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.os.port.QueueSilence();
        r.os.port.Queue(c.a);
        r.os.port.Queue(c.b);
        EXPECT_EQ(r.t.ProbeLoader(), c.found);
        ASSERT_EQ(r.os.port.writes.size(), 3u);
        EXPECT_EQ(r.os.port.writes[2], Bytes(kProbeB, kProbeB + 8));
        EXPECT_EQ(r.os.port.readSizes, (std::vector<DWORD>{9, 9, 7}));
        EXPECT_TRUE(r.os.lines.empty());
    }
}

TEST(Commands, ProbeLoaderReportsAnAbsentLoaderBeforeLookingForTheMark)
{
    Rig r;
    r.os.port.Queue({0x11});
    r.os.port.Queue({'K', 0x22, 0x23, 0x01, 0x81, 0x26, 0x27});
    EXPECT_FALSE(r.t.ProbeLoader());
    EXPECT_EQ(r.os.lines, Lines{"Chargeur KAVRON Sante non pr\xE9sent sur le terminal"});
    ASSERT_EQ(r.os.boxes.size(), 1u);
    EXPECT_EQ(r.os.boxes[0].text, "Un \xE9l\xE9ment logiciel est absent du lecteur.\n"
                                  "Il est impossible de mettre \xE0 jour ce lecteur.\n"
                                  "Veuillez contacter votre fournisseur.");
    EXPECT_EQ(r.os.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
}

TEST(Commands, ProbeLoaderPortFailuresAreSilent)
{
    // Steps: probe A write, probe A read, probe B write, probe B read.
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        Rig r;
        if (step >= 2)
            r.os.port.Queue({'K'});
        if (step % 2 == 0)
            r.os.port.failWriteNumber = step / 2;
        else
            r.os.port.QueueFailure();
        EXPECT_FALSE(r.t.ProbeLoader());
        EXPECT_EQ(r.os.port.writes.size(), static_cast<std::size_t>(step / 2 + 1));
        EXPECT_TRUE(r.os.lines.empty());
        EXPECT_TRUE(r.os.boxes.empty());
    }
}

TEST(Commands, DescriptionWaitsThenKeepsOnlyTheAnnouncedBytes)
{
    Rig r;
    std::size_t sleepsAtWrite = 0;
    r.os.port.onWrite = [&r, &sleepsAtWrite](FakePort& port, const Bytes&) {
        sleepsAtWrite = r.os.sleeps.size();
        port.Queue(DescriptionFrame(10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    };
    TerminalDescription d;
    std::memset(&d, 0xEE, sizeof d);
    EXPECT_TRUE(r.t.ReadTerminalDescription(&d));
    ExpectCommand(r.os, CMD_READ_DESCRIPTION);
    EXPECT_EQ(r.os.sleeps, std::vector<DWORD>{3000});
    EXPECT_EQ(sleepsAtWrite, 1u);
    EXPECT_EQ(r.os.port.readSizes, std::vector<DWORD>{128});
    const auto* record = reinterpret_cast<const std::uint8_t*>(&d);
    EXPECT_EQ(Bytes(record, record + 10), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    // The frame's filler after the announced length must not reach the record.
    EXPECT_EQ(Bytes(record + 10, record + 97), Bytes(87, 0));
    EXPECT_EQ(r.os.lines, Lines{"Donnee hTerminal enregistree"});
}

TEST(Commands, DescriptionFieldsSitAtTheirOffsets)
{
    Rig r;
    Bytes data(124);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i + 1);
    r.os.port.Queue(DescriptionFrame(0xFF, data)); // a length beyond the frame is clamped
    TerminalDescription d = {};
    ASSERT_TRUE(r.t.ReadTerminalDescription(&d));
    EXPECT_EQ(std::string(d.modelCode, 3), "\x09\x0A\x0B");
    EXPECT_EQ(d.generalOptions[0], 28);
    EXPECT_EQ(d.readerOptions[1], 31);
    EXPECT_EQ(d.modemOptions, 32);
    EXPECT_EQ(d.displayOptions, 35);
    EXPECT_EQ(d.extensionOptions, 40);
    EXPECT_EQ(d.reserved13[19], 97);
}

TEST(Commands, DescriptionRejectsBadCrcAndEmptyFrames)
{
    Bytes damaged = DescriptionFrame(10, {1, 2, 3});
    damaged[127] ^= 0x01;
    // An all-zero frame carries a right CRC (zero) but no record.
    const std::pair<Bytes, Lines> cases[] = {{damaged, {"CRC incoherent"}}, {Bytes(128, 0), {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second.empty() ? "all-zero frame" : "damaged frame");
        Rig r;
        r.os.port.Queue(c.first);
        TerminalDescription d = {};
        EXPECT_FALSE(r.t.ReadTerminalDescription(&d));
        EXPECT_EQ(r.os.lines, c.second);
    }
}

TEST(Commands, ApplicationNamesAreListedUntilAnEmptyFrameEachStoppingAtLengthZeroOrFrameEnd)
{
    Bytes shortened = NameReply("ABCDEFGH");
    shortened[1] = 3;
    Bytes unterminated(32, 'Z');
    unterminated[1] = 0xFF;
    const struct {
        std::vector<Bytes> replies; // before the empty frame, or silence when none
        Lines names;
    } cases[] = {
        {{NameReply("SANTE"), NameReply("VITALE2"), NameReply("PHARMA")}, {"SANTE", "VITALE2", "PHARMA"}},
        {{shortened, NameReply(std::string("AB\0CD", 5)), unterminated}, {"ABC", "AB", std::string(30, 'Z')}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        Rig r;
        for (const Bytes& reply : c.replies)
            r.os.port.Queue(reply);
        if (!c.replies.empty())
            r.os.port.Queue(NameReply(""));
        CStringList names;
        names.AddTail("OLD");
        EXPECT_TRUE(r.t.ReadApplicationNames(names));
        ExpectCommand(r.os, CMD_LIST_APPLICATIONS);
        EXPECT_EQ(Items(names), c.names);
        EXPECT_EQ(r.os.sleeps, std::vector<DWORD>(c.names.size(), 100));
        Lines lines;
        for (const std::string& name : c.names)
            lines.push_back("Applications presentes sur le terminal : " + name);
        EXPECT_EQ(r.os.lines, lines);
    }
}

TEST(Commands, ApplicationNamesReadFailureKeepsWhatCameBefore)
{
    for (const Lines& before : {Lines{}, Lines{"SANTE", "PHARMA"}}) {
        SCOPED_TRACE(before.size());
        Rig r;
        for (const std::string& name : before)
            r.os.port.Queue(NameReply(name));
        r.os.port.QueueFailure();
        CStringList names;
        EXPECT_FALSE(r.t.ReadApplicationNames(names));
        EXPECT_EQ(Items(names), before);
        EXPECT_TRUE(r.os.Logged("Impossible de lire sur le port"));
    }
}

TEST(Commands, ApplicationListWithoutEndIsGivenUp)
{
    Rig r;
    r.os.port.onRead = [](FakePort& port) { port.Queue(NameReply("SANTE")); };
    CStringList names;
    EXPECT_FALSE(r.t.ReadApplicationNames(names));
    EXPECT_EQ(names.GetCount(), CTerminal::kMaxApplicationNames);
    EXPECT_TRUE(r.os.Logged("Liste des applications trop longue"));
}

TEST(Commands, AnnounceCarriesSizeAndUpperCaseName)
{
    Rig r;
    TempFile file("3648abc.sgn", 5000);
    r.os.port.Queue(Reply(ACK_NEXT));
    EXPECT_TRUE(r.t.AnnounceFile(file.Path(), "Module 1"));
    ASSERT_EQ(r.os.port.writes.size(), 1u);
    const Bytes& f = r.os.port.writes[0];
    ASSERT_EQ(f.size(), 32u);
    EXPECT_EQ(f[0], CMD_ANNOUNCE_FILE);
    EXPECT_EQ(f[1], 17);
    EXPECT_EQ(std::string(f.begin() + 2, f.begin() + 19), "0050003648ABC.SGN");
    EXPECT_EQ(Bytes(f.begin() + 19, f.begin() + 30), Bytes(11, 0));
    EXPECT_TRUE(HasValidCrc(f.data(), 30));
    const Bytes content = file.Content();
    std::string hash;
    ASSERT_TRUE(Sha256Hex(content.data(), content.size(), &hash));
    EXPECT_EQ(r.os.lines,
              Lines{"Taille du fichier " + file.Path() + " : 5000 octets, SHA-256 : " + hash});
    EXPECT_EQ(r.t.GetFileSize(), 5000);
    EXPECT_EQ(r.t.GetModuleName(), "Module 1");
}

TEST(Commands, AnnounceFailures)
{
    TempFile file("3648abc.sgn", 10);
    const std::pair<void (*)(FakePort&), const char*> cases[] = {
        {[](FakePort& p) { p.Queue(Reply(ACK_KO)); }, "Trame recue, acquittement KO"},
        {[](FakePort&) {}, "Aucune donnee lue sur la liaison"},
        {[](FakePort& p) { p.failWriteNumber = 0; }, "Impossible d'ecrire sur le port"},
        // The command fails, and the error is acknowledged so that the next one can go.
        {[](FakePort& p) {
             p.dcb.fAbortOnError = TRUE;
             p.QueueLineError(CE_RXPARITY);
         },
         "Erreur de ligne 0x4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        Rig r;
        c.first(r.os.port);
        EXPECT_FALSE(r.t.AnnounceFile(file.Path(), "M"));
        EXPECT_TRUE(r.os.Logged(c.second));
        EXPECT_EQ(r.os.port.lineErrors, 0u);
    }
    // The file cannot be read whole: nothing is announced.
    const char* const kUnread = "Impossible de lire le fichier ";
    const struct {
        const char* name;
        void (*arrange)(OsCalls&);
        Lines lines; // after the line naming the file
    } unreadable[] = {
        {"size unreadable",
         [](OsCalls& os) {
             os.GetFileSize = [](HANDLE, LPDWORD) -> DWORD {
                 ::SetLastError(ERROR_ACCESS_DENIED);
                 return INVALID_FILE_SIZE;
             };
         },
         {"Impossible de lire la taille du fichier ", "Erreur systeme 5"}},
        // Another process locked a range of it (LockFileEx).
        {"read refused",
         [](OsCalls& os) {
             os.ReadFile = [](HANDLE, LPVOID, DWORD, LPDWORD read, LPOVERLAPPED) -> BOOL {
                 *read = 0;
                 ::SetLastError(ERROR_LOCK_VIOLATION);
                 return FALSE;
             };
         },
         {kUnread, "Erreur systeme 33"}},
    };
    for (const auto& c : unreadable) {
        SCOPED_TRACE(c.name);
        Rig r;
        c.arrange(Os());
        EXPECT_FALSE(r.t.AnnounceFile(file.Path(), "M"));
        Lines expected = c.lines;
        expected[0] += file.Path();
        EXPECT_EQ(r.os.lines, expected);
        EXPECT_TRUE(r.os.port.writes.empty());
    }
    Rig r;
    const std::string missing = file.Path() + ".absent";
    EXPECT_FALSE(r.t.AnnounceFile(missing, "M"));
    EXPECT_EQ(r.os.lines, Lines{"Impossible de trouver le fichier " + missing});
    EXPECT_TRUE(r.os.port.writes.empty());

    // A name that exists but cannot be opened as a file has no size to announce.
    Rig dir;
    const std::string folder = file.Path() + ".dir";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(dir.t.AnnounceFile(folder, "M"));
    ::RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(dir.os.lines, (Lines{"Impossible d'ouvrir le fichier " + folder, "Erreur systeme 5"}));
    EXPECT_TRUE(dir.os.port.writes.empty());
}

TEST(Commands, AnnounceRefusesWhatTheFrameCannotHold)
{
    // Frame bytes 2..29 when announced; nullptr when refused with nothing written.
    const struct {
        const char* name;
        std::size_t size;
        const char* frame;
    } cases[] = {
        {"big.sgn", 999999, "999999BIG.SGN"},
        {"big.sgn", 1000000, nullptr},
        {"abcdefghijklmnopqr.sgn", 10, "000010ABCDEFGHIJKLMNOPQR.SGN"}, // 22 characters, no zero
        {"abcdefghijklmnopqrs.sgn", 10, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size));
        Rig r;
        TempFile file(c.name, c.size);
        r.os.port.Queue(Reply(ACK_NEXT));
        EXPECT_EQ(r.t.AnnounceFile(file.Path(), "M"), c.frame != nullptr);
        EXPECT_FALSE(r.os.lines.empty());
        if (!c.frame) {
            EXPECT_TRUE(r.os.port.writes.empty());
            continue;
        }
        ASSERT_EQ(r.os.port.writes.size(), 1u);
        const Bytes& f = r.os.port.writes[0];
        const std::size_t n = std::strlen(c.frame);
        EXPECT_EQ(static_cast<std::size_t>(f[1]), n);
        EXPECT_EQ(std::string(f.begin() + 2, f.begin() + 30),
                  std::string(c.frame) + std::string(28 - n, '\0'));
        EXPECT_TRUE(HasValidCrc(f.data(), 30));
    }
}

TEST(Commands, OnlyTheRefusalStatusRefusesAuthorisationAndRestartNeedsAnAcceptedReply)
{
    const auto authorise = &CTerminal::RequestAuthorisation;
    const auto restart = &CTerminal::RestartTerminal;
    const struct {
        bool (CTerminal::*command)();
        std::uint8_t code;
        Bytes reply; // none: silence
        bool taken;
        Lines lines;
    } cases[] = {
        {authorise, CMD_AUTHORISE, Reply(ACK_REFUSED), false, {"Trame recue, autorisation refusee"}},
        {authorise, CMD_AUTHORISE, {}, true, {}},
        {authorise, CMD_AUTHORISE, Reply(ACK_KO), true, {}},
        {authorise, CMD_AUTHORISE, Reply(ACK_NEXT), true, {}},
        {restart, CMD_RESTART, Reply(ACK_NEXT), true, {"Fin du chargement"}},
        {restart, CMD_RESTART, {}, false, {"Aucune donnee lue sur la liaison"}},
        {restart, CMD_RESTART, Reply(ACK_KO), false, {"Trame recue, acquittement KO"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + (c.reply.empty() ? " silence" : " " + std::to_string(c.reply[2])));
        Rig r;
        if (!c.reply.empty())
            r.os.port.Queue(c.reply);
        EXPECT_EQ((r.t.*c.command)(), c.taken);
        ExpectCommand(r.os, c.code);
        EXPECT_EQ(r.os.lines, c.lines);
    }
}

TEST(Commands, ActivationWaitsTenSecondsBetweenSilentReadsThenFails)
{
    // A port failure's line is followed by the system's error.
    const char kSystemError[] = "Erreur systeme 31";
    const char kReadProblem[] = "Probl\xE8me de lecture sur le port";
    const struct {
        void (*arrange)(FakePort&);
        bool taken;
        std::size_t reads, waits;
        Lines lines;
    } cases[] = {
        {[](FakePort& p) {
             p.QueueSilence();
             p.QueueSilence();
             p.Queue(Reply(ACK_NEXT));
         },
         true, 3, 2, {}},
        {[](FakePort&) {}, false, 4, 3, {"Aucune donnee lue sur la liaison"}},
        {[](FakePort& p) { p.Queue(Reply(ACK_KO)); }, false, 1, 0, {"Trame recue, acquittement KO"}},
        {[](FakePort& p) { p.failWriteNumber = 0; }, false, 0, 0,
         {"Probl\xE8me d'ecriture sur le port", kSystemError}},
        {[](FakePort& p) { p.QueueFailure(); }, false, 1, 0, {kReadProblem, kSystemError}},
        {[](FakePort& p) {
             p.QueueSilence();
             p.QueueFailure();
         },
         false, 2, 1, {kReadProblem, kSystemError}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
        Rig r;
        c.arrange(r.os.port);
        EXPECT_EQ(r.t.ActivateModules(), c.taken);
        if (c.reads > 0)
            ExpectCommand(r.os, CMD_ACTIVATE);
        EXPECT_EQ(r.os.port.readSizes, std::vector<DWORD>(c.reads, 32));
        EXPECT_EQ(r.os.sleeps, std::vector<DWORD>(c.waits, 10000));
        EXPECT_EQ(r.os.lines, c.lines);
    }
}
