#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "terminal/Terminal.h"

using namespace proto;

namespace {

const char kLoaderAbsentText[] =
    "Un \xE9l\xE9ment logiciel est absent du lecteur.\nIl est impossible de mettre \xE0 jour ce "
    "lecteur.\nVeuillez contacter votre fournisseur.";

// Opens the fake port and forgets the line that says so.
void Open(CTerminal& t, FakeOs& os)
{
    ASSERT_TRUE(t.OpenPort("COM5"));
    os.lines.clear();
}

// A parameterless command: its code, zeros, and the CRC of bytes 0..29 low byte first.
void ExpectCommand(const std::vector<Bytes>& writes, std::uint8_t code)
{
    ASSERT_EQ(writes.size(), 1u);
    const Bytes& f = writes[0];
    ASSERT_EQ(f.size(), 32u);
    EXPECT_EQ(f[0], code);
    EXPECT_TRUE(std::all_of(f.begin() + 1, f.begin() + 30, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(HasValidCrc(f.data(), 30));
}

// A 128-byte description frame: first byte, length byte, data, CRC over 0..125.
Bytes DescriptionFrame(std::uint8_t first, std::uint8_t length, const Bytes& data)
{
    Bytes f(128, 0xAA);
    f[0] = first;
    f[1] = length;
    std::copy(data.begin(), data.end(), f.begin() + 2);
    StoreCrc(f.data(), 126);
    return f;
}

} // namespace

TEST(Commands, ProbeLoaderSendsProbeAThreeTimesAtMost)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    EXPECT_FALSE(t.ProbeLoader());
    EXPECT_EQ(os.port.writes, std::vector<Bytes>(3, Bytes(kProbeA, kProbeA + 9)));
    EXPECT_EQ(os.port.readSizes, (std::vector<DWORD>{9, 9, 9}));
    EXPECT_TRUE(os.lines.empty());
}

TEST(Commands, ProbeLoaderLooksForTheMarkBeforeTheFirstZero)
{
    struct Case {
        const char* what;
        Bytes a, b;
        bool found;
    } const cases[] = {
        // Probe B's short reply leaves the end of probe A's in the shared buffer.
        {"mark left by probe A", {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 'K'}, {0x21, 0x22}, true},
        {"mark in probe B's reply", {0x11}, {0x21, 'K'}, true},
        {"mark after a zero", {0x11}, {0x21, 0x00, 'K', 0x24, 0x25, 0x26, 0x27}, false},
        {"nine bytes without mark", {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19},
         {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        CTerminal t;
        Open(t, os);
        os.port.QueueSilence();
        os.port.Queue(c.a);
        os.port.Queue(c.b);
        EXPECT_EQ(t.ProbeLoader(), c.found);
        ASSERT_EQ(os.port.writes.size(), 3u);
        EXPECT_EQ(os.port.writes[2], Bytes(kProbeB, kProbeB + 8));
        EXPECT_EQ(os.port.readSizes, (std::vector<DWORD>{9, 9, 7}));
        EXPECT_TRUE(os.lines.empty());
    }
}

TEST(Commands, ProbeLoaderReportsAnAbsentLoader)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    os.port.Queue({0x11});
    os.port.Queue({'K', 0x22, 0x23, 0x01, 0x81, 0x26, 0x27});
    EXPECT_FALSE(t.ProbeLoader());
    EXPECT_EQ(os.lines, std::vector<std::string>{"Chargeur KAVRON Sante non pr\xE9sent sur le terminal"});
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_EQ(os.boxes[0].text, kLoaderAbsentText);
    EXPECT_EQ(os.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
}

TEST(Commands, ProbeLoaderPortFailuresAreSilent)
{
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        FakeOs os;
        CTerminal t;
        Open(t, os);
        // Steps: probe A write, probe A read, probe B write, probe B read.
        if (step >= 2)
            os.port.Queue({'K'});
        if (step % 2 == 0)
            os.port.failWriteNumber = step / 2;
        else
            os.port.QueueFailure();
        EXPECT_FALSE(t.ProbeLoader());
        EXPECT_EQ(os.port.writes.size(), static_cast<std::size_t>(step / 2 + 1));
        EXPECT_TRUE(os.lines.empty());
        EXPECT_TRUE(os.boxes.empty());
    }
}

TEST(Commands, DescriptionWaitsThenKeepsOnlyTheAnnouncedBytes)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    std::size_t sleepsAtWrite = 0;
    os.port.onWrite = [&](FakePort& port, const Bytes&) {
        sleepsAtWrite = os.sleeps.size();
        port.Queue(DescriptionFrame(0x07, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    };
    TerminalDescription d;
    std::memset(&d, 0xEE, sizeof d);
    EXPECT_TRUE(t.ReadTerminalDescription(&d));
    ExpectCommand(os.port.writes, CMD_READ_DESCRIPTION);
    EXPECT_EQ(os.sleeps, std::vector<DWORD>{3000});
    EXPECT_EQ(sleepsAtWrite, 1u);
    EXPECT_EQ(os.port.readSizes, std::vector<DWORD>{128});
    const auto* record = reinterpret_cast<const std::uint8_t*>(&d);
    EXPECT_EQ(Bytes(record, record + 10), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    // The frame's filler after the announced length must not reach the record.
    EXPECT_EQ(Bytes(record + 10, record + 97), Bytes(87, 0));
    EXPECT_EQ(os.lines, std::vector<std::string>{"Donnee hTerminal enregistree"});
}

TEST(Commands, DescriptionFieldsSitAtTheirOffsets)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    Bytes data(124);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i + 1);
    os.port.Queue(DescriptionFrame(0x07, 0xFF, data)); // a length beyond the frame is clamped
    TerminalDescription d = {};
    ASSERT_TRUE(t.ReadTerminalDescription(&d));
    EXPECT_EQ(std::string(d.modelCode, 3), std::string("\x09\x0A\x0B"));
    EXPECT_EQ(d.generalOptions[0], 28);
    EXPECT_EQ(d.readerOptions[1], 31);
    EXPECT_EQ(d.modemOptions, 32);
    EXPECT_EQ(d.displayOptions, 35);
    EXPECT_EQ(d.extensionOptions, 40);
    EXPECT_EQ(d.reserved13[19], 97);
}

TEST(Commands, DescriptionRejectsBadCrcAndEmptyFrames)
{
    {
        FakeOs os;
        CTerminal t;
        Open(t, os);
        Bytes frame = DescriptionFrame(0x07, 10, {1, 2, 3});
        frame[127] ^= 0x01;
        os.port.Queue(frame);
        TerminalDescription d = {};
        EXPECT_FALSE(t.ReadTerminalDescription(&d));
        EXPECT_EQ(os.lines, std::vector<std::string>{"CRC incoherent"});
    }
    {
        FakeOs os;
        CTerminal t;
        Open(t, os);
        os.port.Queue(Bytes(128, 0)); // its CRC, zero, is right
        TerminalDescription d = {};
        EXPECT_FALSE(t.ReadTerminalDescription(&d));
        EXPECT_TRUE(os.lines.empty());
    }
}

TEST(Commands, ApplicationNamesAreListedUntilAnEmptyFrame)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    for (const char* name : {"SANTE", "VITALE2", "PHARMA", ""})
        os.port.Queue(NameReply(name));
    CStringList names;
    names.AddTail("OLD");
    EXPECT_TRUE(t.ReadApplicationNames(names));
    ExpectCommand(os.port.writes, CMD_LIST_APPLICATIONS);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()),
              (std::vector<std::string>{"SANTE", "VITALE2", "PHARMA"}));
    EXPECT_EQ(os.sleeps, (std::vector<DWORD>{100, 100, 100}));
    EXPECT_EQ(os.lines, (std::vector<std::string>{"Applications presentes sur le terminal : SANTE",
                                                  "Applications presentes sur le terminal : VITALE2",
                                                  "Applications presentes sur le terminal : PHARMA"}));
}

TEST(Commands, ApplicationNamesSilenceAndReadFailures)
{
    {
        FakeOs os;
        CTerminal t;
        Open(t, os);
        CStringList names;
        names.AddTail("OLD");
        EXPECT_TRUE(t.ReadApplicationNames(names));
        EXPECT_TRUE(names.IsEmpty());
    }
    {
        FakeOs os;
        CTerminal t;
        Open(t, os);
        os.port.QueueFailure();
        CStringList names;
        EXPECT_FALSE(t.ReadApplicationNames(names));
        EXPECT_EQ(os.lines, std::vector<std::string>{"Impossible de lire sur le port"});
    }
    {
        FakeOs os;
        CTerminal t;
        Open(t, os);
        os.port.Queue(NameReply("SANTE"));
        os.port.Queue(NameReply("PHARMA"));
        os.port.QueueFailure();
        CStringList names;
        EXPECT_FALSE(t.ReadApplicationNames(names));
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()),
                  (std::vector<std::string>{"SANTE", "PHARMA"}));
        EXPECT_TRUE(os.Logged("Impossible de lire sur le port"));
    }
}

TEST(Commands, ApplicationNameStopsAtLengthZeroOrFrameEnd)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    Bytes shortened = NameReply("ABCDEFGH");
    shortened[1] = 3;
    Bytes unterminated(32, 'Z');
    unterminated[0] = 0;
    unterminated[1] = 0xFF;
    os.port.Queue(shortened);
    os.port.Queue(NameReply(std::string("AB\0CD", 5)));
    os.port.Queue(unterminated);
    os.port.Queue(NameReply(""));
    CStringList names;
    EXPECT_TRUE(t.ReadApplicationNames(names));
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()),
              (std::vector<std::string>{"ABC", "AB", std::string(30, 'Z')}));
}

TEST(Commands, AnnounceCarriesSizeAndUpperCaseName)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    TempFile file("3648abc.sgn", 5000);
    os.port.Queue(Reply(ACK_NEXT));
    EXPECT_TRUE(t.AnnounceFile(file.Path(), "Module 1"));
    ASSERT_EQ(os.port.writes.size(), 1u);
    const Bytes& f = os.port.writes[0];
    ASSERT_EQ(f.size(), 32u);
    EXPECT_EQ(f[0], CMD_ANNOUNCE_FILE);
    EXPECT_EQ(f[1], 17);
    EXPECT_EQ(std::string(f.begin() + 2, f.begin() + 8), "005000");
    EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 19), "3648ABC.SGN");
    EXPECT_EQ(Bytes(f.begin() + 19, f.begin() + 30), Bytes(11, 0));
    EXPECT_TRUE(HasValidCrc(f.data(), 30));
    EXPECT_TRUE(os.Logged("Taille du fichier " + file.Path() + " : 5000 octets"));
    EXPECT_EQ(t.m_fileSize, 5000);
    EXPECT_EQ(t.GetModuleName(), "Module 1");
}

TEST(Commands, AnnounceFailures)
{
    TempFile file("3648abc.sgn", 10);
    struct Case {
        const char* what;
        void (*setUp)(FakePort&);
        std::string line;
    } const cases[] = {
        {"reply KO", [](FakePort& p) { p.Queue(Reply(ACK_KO)); }, "Trame recue, acquittement KO"},
        {"silence", [](FakePort&) {}, "Aucune donnee lue sur la liaison"},
        {"write fails", [](FakePort& p) { p.failWriteNumber = 0; }, "Impossible d'ecrire sur le port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        CTerminal t;
        Open(t, os);
        c.setUp(os.port);
        EXPECT_FALSE(t.AnnounceFile(file.Path(), "M"));
        EXPECT_TRUE(os.Logged(c.line));
    }
    FakeOs os;
    CTerminal t;
    Open(t, os);
    const std::string missing = file.Path() + ".absent";
    EXPECT_FALSE(t.AnnounceFile(missing, "M"));
    EXPECT_EQ(os.lines, std::vector<std::string>{"Impossible de trouver le fichier " + missing});
    EXPECT_TRUE(os.port.writes.empty());
}

TEST(Commands, AnnounceRefusesWhatTheFrameCannotHold)
{
    struct Case {
        const char* name;
        std::size_t size;
        bool announced;
    } const cases[] = {
        {"big.sgn", 999999, true},
        {"big.sgn", 1000000, false},
        {"abcdefghijklmnopqr.sgn", 10, true},  // 22 characters
        {"abcdefghijklmnopqrs.sgn", 10, false}, // 23 characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size));
        FakeOs os;
        CTerminal t;
        Open(t, os);
        TempFile file(c.name, c.size);
        os.port.Queue(Reply(ACK_NEXT));
        EXPECT_EQ(t.AnnounceFile(file.Path(), "M"), c.announced);
        EXPECT_FALSE(os.lines.empty());
        if (!c.announced) {
            EXPECT_TRUE(os.port.writes.empty());
            continue;
        }
        ASSERT_EQ(os.port.writes.size(), 1u);
        const Bytes& f = os.port.writes[0];
        std::string upper = c.name;
        for (char& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06u", static_cast<unsigned>(c.size));
        EXPECT_EQ(f[1], static_cast<std::uint8_t>(6 + upper.size()));
        EXPECT_EQ(std::string(f.begin() + 2, f.begin() + 8), digits);
        EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 8 + static_cast<std::ptrdiff_t>(upper.size())), upper);
        EXPECT_TRUE(HasValidCrc(f.data(), 30));
    }
}

TEST(Commands, AuthorisationIsRefusedOnlyByTheRefusalStatus)
{
    struct Case {
        const char* what;
        Bytes reply;
        bool granted;
    } const cases[] = {
        {"refused", Reply(ACK_REFUSED), false},
        {"silence", {}, true},
        {"KO", Reply(ACK_KO), true},
        {"next", Reply(ACK_NEXT), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        CTerminal t;
        Open(t, os);
        if (!c.reply.empty())
            os.port.Queue(c.reply);
        EXPECT_EQ(t.RequestAuthorisation(), c.granted);
        ExpectCommand(os.port.writes, CMD_AUTHORISE);
        EXPECT_EQ(os.Logged("Trame recue, autorisation refusee"), !c.granted);
    }
}

TEST(Commands, ActivationWaitsForALateReply)
{
    FakeOs os;
    CTerminal t;
    Open(t, os);
    os.port.QueueSilence();
    os.port.QueueSilence();
    os.port.Queue(Reply(ACK_NEXT));
    EXPECT_TRUE(t.ActivateModules());
    ExpectCommand(os.port.writes, CMD_ACTIVATE);
    EXPECT_EQ(os.sleeps, (std::vector<DWORD>{10000, 10000}));
    EXPECT_EQ(os.port.readSizes, (std::vector<DWORD>{32, 32, 32}));
}

TEST(Commands, ActivationFailures)
{
    struct Case {
        const char* what;
        void (*setUp)(FakePort&);
        std::string line;
    } const cases[] = {
        {"never answered", [](FakePort&) {}, "Aucune donnee lue sur la liaison"},
        {"KO", [](FakePort& p) { p.Queue(Reply(ACK_KO)); }, "Trame recue, acquittement KO"},
        {"write fails", [](FakePort& p) { p.failWriteNumber = 0; }, "Probl\xE8me d'ecriture sur le port"},
        {"read fails", [](FakePort& p) { p.QueueFailure(); }, "Probl\xE8me de lecture sur le port"},
        {"read fails while waiting", [](FakePort& p) { p.QueueSilence(); p.QueueFailure(); },
         "Probl\xE8me de lecture sur le port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        CTerminal t;
        Open(t, os);
        c.setUp(os.port);
        EXPECT_FALSE(t.ActivateModules());
        EXPECT_EQ(os.lines, std::vector<std::string>{c.line});
    }
    FakeOs os;
    CTerminal t;
    Open(t, os);
    EXPECT_FALSE(t.ActivateModules());
    EXPECT_EQ(os.port.readSizes, (std::vector<DWORD>{32, 32, 32, 32}));
    EXPECT_EQ(os.sleeps, (std::vector<DWORD>{10000, 10000, 10000}));
}

TEST(Commands, RestartNeedsAnAcceptedReply)
{
    struct Case {
        const char* what;
        Bytes reply;
        bool done;
    } const cases[] = {
        {"next", Reply(ACK_NEXT), true},
        {"silence", {}, false},
        {"KO", Reply(ACK_KO), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOs os;
        CTerminal t;
        Open(t, os);
        if (!c.reply.empty())
            os.port.Queue(c.reply);
        EXPECT_EQ(t.RestartTerminal(), c.done);
        ExpectCommand(os.port.writes, CMD_RESTART);
        EXPECT_EQ(os.Logged("Fin du chargement"), c.done);
    }
}
