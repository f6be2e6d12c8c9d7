// One whole update run against the loader's own state machine on the fake port, on the
// virtual clock, with the package written into a temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <numeric>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "FakeFolders.h"
#include "FakeOs.h"
#include "LoaderPeer.h"
#include "PackageDir.h"
#include "ScratchDir.h"
#include "cli/ConsoleWriter.h"
#include "cli/UpdateCommand.h"
#include "engine/Journal.h"
#include "engine/RunResult.h"
#include "engine/UpdateRun.h"
#include "winfw/Diag.h"
#include "winfw/Sha256.h"
#include "winfw/FolderRule.h"
#include "winfw/Text.h"
#include "winfw/TimerResolution.h"

namespace {

using Events = std::vector<std::string>;

const char kNoOptions[] = "00000000000000000000000000";
const std::vector<std::string> kApps = {"SANTE", "TIERSPAYANT"};

// The texts as the operator reads them, in the ANSI code page of the run.
std::string T(const char* utf8) { return Utf8ToAnsi(utf8); }

// A result code as a number, known to the table or not.
RunResult AsResult(int code) { return static_cast<RunResult>(code); }

// What the run showed, in order; the file bar's percentages are kept as "pct:N".
struct RecordingView : RunView {
    explicit RecordingView(const FakeOs& os) : m_os(os) {}
    void SetStepText(const CString& t) override { events.push_back("step:" + t); }
    void SetFileText(const CString& t) override { events.push_back("file:" + t); }
    void SetTotalRange(int n) override { events.push_back("range:" + std::to_string(n)); }
    void SetTotalStep(int n) override { events.push_back("stepsize:" + std::to_string(n)); }
    void SetTotalPosition(int n) override { events.push_back("pos:" + std::to_string(n)); }
    void StepTotal() override { events.push_back("stepit"); }
    void SetModule(const CString& m) override { modules.push_back(m); }
    void SetFilePercent(int p) override { events.push_back("pct:" + std::to_string(p)); }
    void ShowErrorBox(const CString& t) override
    {
        events.push_back("box:" + t);
        boxTimes.push_back(m_os.NowMs());
    }
    void EndRun(RunResult result) override { events.push_back("end:" + std::to_string(result)); }
    void SearchStarting(const CString&) override { searches.emplace_back(m_os.NowMs(), 0); }
    void SearchEnded() override { searches.back().second = m_os.NowMs(); }
    Events events;
    std::vector<std::string> modules;
    std::vector<ULONGLONG> boxTimes;
    std::vector<std::pair<ULONGLONG, ULONGLONG>> searches; // each search's start and end

private:
    const FakeOs& m_os;
};

// The run's events without the file bar's percentages.
Events WithoutPercents(const Events& events)
{
    Events shown;
    std::copy_if(events.begin(), events.end(), std::back_inserter(shown),
                 [](const std::string& e) { return e.compare(0, 4, "pct:") != 0; });
    return shown;
}

std::string Content(std::size_t size, int seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 13 + static_cast<std::size_t>(seed)) & 0xFF);
    return bytes;
}

// A reader on COM7 (whose USB position the library double knows at once), a package for
// model M30 that every reader's options pass, and the run's recorded view.
struct RunRig {
    FakeOsOnRealFiles os;
    PackageDir dir;
    rsim::Scenario scenario = LoaderScenario("M30", kNoOptions, kApps);
    std::unique_ptr<LoaderPeer> peer;
    CTerminal terminal;
    RecordingView view{os};
    std::vector<std::string> files;
    std::string portText = "DORAN Kavron USB (COM7)";
    RunSettings settings;

    explicit RunRig(const std::vector<std::string>& catalogueFiles) : files(catalogueFiles)
    {
        int seed = 1;
        for (const std::string& file : files) {
            dir.Write(file, Content(200 + 150 * static_cast<std::size_t>(seed), seed));
            ++seed;
        }
        WriteOpenCatalogue(dir, files);
    }

    int Run()
    {
        if (!peer)
            peer = std::make_unique<LoaderPeer>(os, scenario);
        UpdateRun run(terminal, portText, view);
        run.SetJournalFolder(journals);
        run.SetSettings(settings);
        const int result = run.Execute();
        record = run.Record();
        return result;
    }

    RunRecord record;
    // The journals' folders, once a test keeps journals; the package's folder is real.
    std::unique_ptr<FakeFolders> folders;
    std::shared_ptr<const JournalFolder> journals;

    void KeepJournals()
    {
        folders = std::make_unique<FakeFolders>();
        folders->realPrefixes = {AnsiToWide(dir.Path())};
    }

    // The record's files said to be sent, in order.
    std::vector<std::string> RecordedSent() const
    {
        std::vector<std::string> names;
        for (const RunRecord::File& f : record.files)
            if (f.sent)
                names.push_back(f.name);
        return names;
    }

    std::vector<std::string> Announced() const
    {
        std::vector<std::string> names;
        for (const rsim::FileRecord& f : peer->Stats().files)
            names.push_back(f.name);
        return names;
    }

    Events Shown() const { return WithoutPercents(view.events); }

    bool Received(const std::string& name, std::size_t index) const
    {
        const auto it = peer->Stored().find(name);
        return it != peer->Stored().end() &&
               std::string(it->second.begin(), it->second.end()) ==
                   Content(200 + 150 * (index + 1), static_cast<int>(index + 1));
    }

    std::size_t Count(DWORD ms) const
    {
        return static_cast<std::size_t>(std::count(os.sleeps.begin(), os.sleeps.end(), ms));
    }
};

Events Then(Events a, const Events& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Events kIdentified = {"step:Recherche du terminal...",
                            "step:Terminal Falko. Collecte des informations"};

Events LoaderRestartTexts()
{
    return {"file:" + T(u8"Mise à jour du chargeur"),
            "file:" + T(u8"Redémarrage... Ne pas débrancher votre terminal"),
            "file:" + T(u8"Redémarrage du lecteur..."), "file:Recherche du terminal..."};
}

Events SuccessfulEnding()
{
    return {"step:Diffusion en cours...", "step:" + T(u8"Activation des modules chargés"),
            "step:Fin du chargement", "end:0"};
}

// ---- whole runs ----

TEST(UpdateRun, EveryFileGoesOutWholeInItsOrderAndTheRunEndsWithSuccess)
{
    const Events sent = {"step:Diffusion en cours...", "stepit"};
    const struct {
        const char* name;
        std::vector<std::string> files;
        Events loop;                        // what the loop shows before its ending
        std::vector<std::string> announced; // the last file again, to activate
        std::vector<std::string> modules;   // in sending order
        std::size_t loaderFiles;            // sent first, then the reader restarts once
    } cases[] = {
        {"plain files", {"A.PDF", "B.DDF", "C.BIN"}, Then(Then(sent, sent), sent),
         {"A.PDF", "B.DDF", "C.BIN", "C.BIN"}, {"A.PDF", "KAVRON SYSTEM", "C.BIN"}, 0},
        // Loader files are sent in reverse catalogue order; the restart follows the last one.
        {"loader files only", {"3648LDR.SGN", "3648LDR.LDF"}, Then(Then(sent, sent), LoaderRestartTexts()),
         {"3648LDR.LDF", "3648LDR.SGN", "3648LDR.SGN"}, {"KAVRON MANAGER", "KAVRON MANAGER"}, 2},
        // A signature file takes its companion's module.
        {"mixed", {"K30APP.SGN", "K30APP.LDF", "3648LDR.SGN", "VIT.PDF"},
         Then(Then(Then(Then(sent, LoaderRestartTexts()), sent), sent), sent),
         {"3648LDR.SGN", "K30APP.SGN", "K30APP.LDF", "VIT.PDF", "VIT.PDF"},
         {"3648LDR.SGN", "KAVRON MANAGER", "KAVRON MANAGER", "VIT.PDF"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig(c.files);
        rig.peer = std::make_unique<LoaderPeer>(rig.os, rig.scenario);
        std::vector<std::pair<int, ULONGLONG>> commands;
        rig.peer->onCommand = [&rig, &commands](int code) { commands.emplace_back(code, rig.os.NowMs()); };
        EXPECT_EQ(rig.Run(), RUN_SUCCEEDED);

        const Events bars = {"range:" + std::to_string(c.files.size()), "stepsize:1", "pos:0"};
        EXPECT_EQ(rig.Shown(), Then(Then(Then(kIdentified, bars), c.loop), SuccessfulEnding()));
        EXPECT_EQ(rig.Announced(), c.announced);
        EXPECT_EQ(rig.peer->StoredOrder(), std::vector<std::string>(c.announced.begin(), c.announced.end() - 1));
        for (std::size_t i = 0; i < c.files.size(); ++i)
            EXPECT_TRUE(rig.Received(c.files[i], i)) << c.files[i];
        const std::uint32_t restarts = c.loaderFiles > 0 ? 2 : 1;
        EXPECT_EQ(rig.peer->Stats().activations, restarts);
        EXPECT_EQ(rig.peer->Stats().restarts, restarts);
        EXPECT_TRUE(rig.peer->Stats().violations.empty());
        // Back on its own port the reader is not asked to describe itself again.
        EXPECT_EQ(rig.peer->Stats().commands.at(rsim::kCmdDescribe), 1u);
        EXPECT_FALSE(rig.terminal.IsOpen());
        EXPECT_TRUE(rig.os.Logged("Verification contraintes OK"));
        EXPECT_TRUE(rig.os.Logged("Activation " + c.announced.back() + " (" + c.modules.back() + ")"));

        // The record a report is written from: every file in sending order, its size, its
        // transfer time on the run's clock, and the module it was announced under.
        EXPECT_EQ(rig.record.model, "M30");
        EXPECT_EQ(rig.record.portAfterRestart, "");
        ASSERT_EQ(rig.record.files.size(), c.files.size());
        EXPECT_EQ(rig.RecordedSent(), rig.peer->StoredOrder());
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            const RunRecord::File& file = rig.record.files[i];
            SCOPED_TRACE(file.name);
            const Bytes& stored = rig.peer->Stored().at(file.name);
            EXPECT_EQ(file.bytes, static_cast<long long>(stored.size()));
            EXPECT_GT(file.seconds, 0.0);
            EXPECT_LT(file.seconds, 10.0);
            EXPECT_EQ(file.module, c.modules[i]);
            EXPECT_TRUE(rig.os.Logged("Autorisation " + file.name + " (" + file.module + ")"));
            // The hash a report gives is that of the bytes the reader stored.
            std::string hash;
            ASSERT_TRUE(Sha256Hex(stored.data(), stored.size(), &hash));
            EXPECT_EQ(file.sha256, hash);
        }

        if (c.loaderFiles == 0) {
            // Each turn of the state loop pauses 10 ms once, and nothing else does here: the
            // applications, the constraints, three turns per file, the activation's announce,
            // the activation and the final restart.
            EXPECT_EQ(rig.Count(10), 3 * c.files.size() + 5);
            EXPECT_EQ(rig.Count(750), 0u); // no loader file, no restart wait
            continue;
        }
        EXPECT_TRUE(rig.os.Logged("Fin de chargement du module " + c.modules[c.loaderFiles - 1]));
        // While the reader restarts the file bar moves from 0 to 100 %.
        const Events& e = rig.view.events;
        const auto from = std::find(e.begin(), e.end(), "file:" + T(u8"Redémarrage du lecteur..."));
        const auto to = std::find(from, e.end(), "file:Recherche du terminal...");
        ASSERT_NE(to, e.end());
        Events wait;
        for (int i = 0; i < 200; i += 5)
            wait.push_back("pct:" + std::to_string(i / 2));
        wait.push_back("pct:100");
        EXPECT_EQ(Events(from + 1, to), wait);
        // The reader is searched for no sooner than 30 s after its restart command, and once
        // found is left to settle 3.1 s before the next command.
        std::size_t restart = 0;
        while (restart < commands.size() && commands[restart].first != rsim::kCmdRestart)
            ++restart;
        ASSERT_LT(restart + 1, commands.size());
        ASSERT_EQ(rig.view.searches.size(), 2u);
        EXPECT_GE(rig.view.searches[1].first - commands[restart].second, 30000u);
        EXPECT_GE(commands[restart + 1].second - rig.view.searches[1].second, 3100u);
    }
}

// ---- failures ----

struct FailureCase {
    const char* name;
    void (*arrange)(RunRig&);
    int result;
};

void FailApplicationList(RunRig& r)
{
    r.peer = std::make_unique<LoaderPeer>(r.os, r.scenario);
    r.peer->FailReadAfter(rsim::kCmdList);
}

const FailureCase kLoopFailures[] = {
    {"applications unreadable", FailApplicationList, 3},
    {"constraints not met", [](RunRig& r) { r.scenario.apps = {"ANCIENSANTE"}; }, 4},
    {"announce refused", [](RunRig& r) { r.scenario.announce = rsim::ReplyMode::Ko; }, 5},
    {"authorisation refused", [](RunRig& r) { r.scenario.auth = rsim::AuthMode::Refuse; }, 6},
    {"stop then silence", [](RunRig& r) { r.scenario.faults.stopAt = 1; }, 18},
    {"unknown status", [](RunRig& r) { r.scenario.startStatus = 0x41; }, 16},
    {"activation refused", [](RunRig& r) { r.scenario.activate.kind = rsim::ActivateMode::Ko; }, 19},
    {"application list without end", [](RunRig& r) { r.scenario.appsEndless = true; }, 3},
    {"memory exhausted", [](RunRig&) {
         Os().GetFileSize = [](HANDLE, LPDWORD) -> DWORD { throw std::bad_alloc(); };
     }, 16},
};

TEST(UpdateRun, EveryFailureInTheLoopClosesThePortAndSaysSo)
{
    for (const FailureCase& c : kLoopFailures) {
        SCOPED_TRACE(c.name);
        RunRig rig({"A.PDF", "B.DDF"});
        c.arrange(rig);
        EXPECT_EQ(rig.Run(), c.result);
        const Events shown = rig.Shown();
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[shown.size() - 2], "step:Erreur critique lors du chargement");
        EXPECT_EQ(shown.back(), "end:" + std::to_string(c.result));
        EXPECT_FALSE(rig.terminal.IsOpen());
        EXPECT_GT(rig.os.portCloses, 0);
        // A report never says a file is on the reader that is not there whole.
        std::vector<std::string> whole;
        for (std::size_t i = 0; i < rig.files.size(); ++i)
            if (rig.Received(rig.files[i], i))
                whole.push_back(rig.files[i]);
        EXPECT_EQ(rig.RecordedSent(), whole);
        for (const RunRecord::File& f : rig.record.files)
            EXPECT_EQ(f.seconds < 0.0, !f.sent) << f.name;
    }
}

TEST(UpdateRun, RefusedActivationIsNeverASuccess)
{
    const struct {
        const char* name;
        std::vector<std::string> files;
        rsim::ActivateMode::Kind activate;
        std::vector<std::string> stored;
    } cases[] = {
        {"final activation", {"A.PDF"}, rsim::ActivateMode::Ko, {"A.PDF"}},
        {"the new loader's activation", {"3648LDR.SGN", "A.PDF"}, rsim::ActivateMode::KoFirst,
         {"3648LDR.SGN"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig(c.files);
        rig.scenario.activate.kind = c.activate;
        rig.peer = std::make_unique<LoaderPeer>(rig.os, rig.scenario);
        std::vector<int> commands;
        rig.peer->onCommand = [&commands](int code) { commands.push_back(code); };
        EXPECT_EQ(rig.Run(), RUN_ACTIVATION_REFUSED);
        const std::string box = T(u8"Problème lors de l'activation des applications chargées.\n"
                                  u8"Votre terminal n'a pas été mis à jour");
        EXPECT_EQ(std::count(rig.view.events.begin(), rig.view.events.end(), "box:" + box), 1);
        // Nothing after the refusal: no restart, no further file.
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), rsim::kCmdActivate);
        EXPECT_EQ(rig.peer->Stats().restarts, 0u);
        EXPECT_EQ(rig.peer->StoredOrder(), c.stored);
        EXPECT_FALSE(rig.terminal.IsOpen());
    }
    EXPECT_NE(ResultBoxIcon(RUN_ACTIVATION_REFUSED), static_cast<unsigned>(MB_ICONINFORMATION));
}

TEST(UpdateRun, FailuresBeforeTheLoopEndWithTheirOwnTexts)
{
    const Events searching = {"step:Recherche du terminal..."};
    const struct {
        const char* name;
        void (*arrange)(RunRig&);
        int result;
        Events shown; // none: not looked at
        std::string logged;
        std::string loggedNext; // right after it, when given
        void (*check)(const RunRig&);
    } cases[] = {
        {"no reader", [](RunRig& r) { r.scenario.loader = rsim::LoaderMode::Silent; }, RUN_READER_UNREACHABLE,
         Then(searching, {"step:" + T(u8"Terminal non détecté"), "end:21"}), T(u8"Terminal non détecté"), "",
         nullptr},
        {"not a COM port", [](RunRig& r) { r.portText = "E:"; }, RUN_READER_UNREACHABLE, {},
         "Nom de port invalide : E:", "", [](const RunRig& r) { EXPECT_TRUE(r.os.opened.empty()); }},
        {"update link refused", [](RunRig& r) { r.os.port.unsupportedRates = {115200}; }, RUN_READER_UNREACHABLE,
         Then(searching, {"end:21"}), "Impossible de parametrer le port", "Erreur systeme 87",
         [](const RunRig& r) { EXPECT_TRUE(r.peer->Stats().commands.empty()); }},
        {"description unreadable", [](RunRig& r) { r.scenario.desc = rsim::DescMode::BadCrc; },
         RUN_DESCRIPTION_UNREADABLE, Then(searching, {"end:2"}), T(u8"Problème récupération fichier hTerminal"), "",
         nullptr},
        {"unknown model", [](RunRig& r) { r.scenario = LoaderScenario("M99", kNoOptions, kApps); },
         RUN_HARDWARE_MISMATCH, Then(searching, {"step:", "end:20"}), "Terminal inconnu", "", nullptr},
        {"catalogue not met",
         [](RunRig& r) { r.dir.Write("catalogueM30.ini", "[GENERAL OPTIONS]\r\nPresence=1\r\nAbsence=0\r\n"); },
         RUN_HARDWARE_MISMATCH, Then(kIdentified, {"end:20"}),
         T(u8"Configuration matérielle du terminal non conforme"), "",
         [](const RunRig& r) { EXPECT_TRUE(r.peer->Stats().files.empty()); }},
        // Nothing was sent to announce again.
        {"empty load list", [](RunRig& r) { WriteOpenCatalogue(r.dir, {}); }, RUN_ANNOUNCE_FAILED, {},
         "Activation  ()", "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig({"A.PDF"});
        c.arrange(rig);
        EXPECT_EQ(rig.Run(), c.result);
        if (!c.shown.empty()) {
            EXPECT_EQ(rig.Shown(), c.shown);
        }
        EXPECT_TRUE(c.loggedNext.empty() ? rig.os.Logged(c.logged) : rig.os.LoggedThen(c.logged, c.loggedNext));
        EXPECT_FALSE(rig.terminal.IsOpen());
        if (c.check)
            c.check(rig);
    }
}

TEST(UpdateRun, ALoadListEntryThatIsNotABareNameEndsTheRunBeforeAnyFileIsTouched)
{
    // After a valid file: a server, a climb out of the package, a drive, a device.
    for (const char* name : {"\\\\host\\share\\x.bin", "..\\..\\x.bin", "C:\\x.bin", "COM3"}) {
        SCOPED_TRACE(name);
        RunRig rig({"A.PDF"});
        WriteOpenCatalogue(rig.dir, {"A.PDF", name});
        EXPECT_EQ(rig.Run(), RUN_INVALID_FILE_NAME);
        EXPECT_EQ(rig.Shown(), Then(kIdentified, {"end:25"}));
        EXPECT_TRUE(rig.os.Logged(std::string("Nom de fichier refuse dans le catalogue : ") + name));
        // Only the catalogue was looked at, not even a size was read; the reader was asked
        // for its description and nothing else.
        EXPECT_EQ(rig.os.files, std::vector<std::string>{".\\catalogueM30.ini"});
        EXPECT_TRUE(rig.record.files.empty());
        EXPECT_EQ(rig.peer->Stats().commands, (std::map<int, std::uint32_t>{{7, 1}}));
        EXPECT_FALSE(rig.terminal.IsOpen());
    }
}

TEST(UpdateRun, ReaderNotFoundAfterTheLoaderRestartShowsTwoBoxesThreeSecondsApart)
{
    // Looked for on its port, and at its USB position when the first search found one (no
    // device of the maker sits on COM5).
    const struct {
        const char* portText;
        const char* device;
        bool positionKnown;
    } cases[] = {{"DORAN Kavron USB (COM7)", "\\\\.\\COM7", true}, {"COM5", "\\\\.\\COM5", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.portText);
        RunRig rig({"3648LDR.SGN", "A.PDF"});
        rig.portText = c.portText;
        rig.scenario.restartSilenceMs.reset(); // the reader never answers again
        EXPECT_EQ(rig.Run(), RUN_READER_UNREACHABLE);

        const std::string first = T(u8"Impossible d'ouvrir le port.\nLe terminal n'a pas été mis à jour");
        Events boxes;
        for (const std::string& e : rig.view.events)
            if (e.compare(0, 4, "box:") == 0)
                boxes.push_back(e.substr(4));
        EXPECT_EQ(boxes, (Events{first, LoadResString(108)}));
        ASSERT_EQ(rig.view.boxTimes.size(), 2u);
        EXPECT_EQ(rig.view.boxTimes[1] - rig.view.boxTimes[0], 3000u);
        // The run ends at once: no ending texts, the port closed, nothing more sent.
        EXPECT_EQ(rig.Shown().back(), "end:21");
        EXPECT_EQ(std::count(rig.view.events.begin(), rig.view.events.end(),
                             "step:Erreur critique lors du chargement"), 0);
        EXPECT_FALSE(rig.terminal.IsOpen());
        EXPECT_EQ(rig.peer->StoredOrder(), (std::vector<std::string>{"3648LDR.SGN"}));
        EXPECT_EQ(std::any_of(rig.os.lines.begin(), rig.os.lines.end(),
                              [](const std::string& line) { return line.find("position USB") != std::string::npos; }),
                  c.positionKnown);
        for (const std::string& path : rig.os.opened)
            EXPECT_EQ(path, c.device);
    }
}

// The library double's own control: the reader's device comes back as another COM port.
void RenumberReaderPort(unsigned char port)
{
    using Renumber = void (*)(unsigned char);
    HMODULE library = LoadBesideProgram("Tessock.dll");
    ASSERT_NE(library, nullptr);
    const auto renumber = BindExport<Renumber>(library, "renumberReaderPort");
    ASSERT_NE(renumber, nullptr);
    renumber(port);
}

TEST(UpdateRun, ReaderBackUnderAnotherComNumberIsFoundAtItsUsbPosition)
{
    // What answers on the new port: the same reader, or a device that describes itself
    // otherwise.
    const struct {
        const char* name;
        const char* model;
        const char* options;
        int result;
        std::vector<std::string> stored;
    } cases[] = {
        {"the same reader", "M30", kNoOptions, RUN_SUCCEEDED, {"3648LDR.SGN", "A.PDF"}},
        {"another model", "M31", kNoOptions, RUN_OTHER_READER_FOUND, {"3648LDR.SGN"}},
        {"other options", "M30", "00000000000000000000000001", RUN_OTHER_READER_FOUND,
         {"3648LDR.SGN"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig({"3648LDR.SGN", "A.PDF"});
        rig.peer = std::make_unique<LoaderPeer>(rig.os, rig.scenario);
        LoaderPeer& peer = *rig.peer;
        std::vector<int> afterMove;
        peer.onCommand = [&peer, &c, &afterMove](int code) {
            if (peer.Stats().restarts == 1)
                afterMove.push_back(code);
            if (code == rsim::kCmdRestart && peer.Stats().restarts == 0) {
                RenumberReaderPort(12);
                peer.ListenOnlyOn("\\\\.\\COM12");
                peer.Describe(c.model, c.options);
            }
        };
        const int result = rig.Run();
        RenumberReaderPort(7);

        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(rig.os.Logged("Terminal absent du port COM7, recherche du port a sa position "
                                  "USB (HUB= 2, HUBPORT = 4)"));
        EXPECT_TRUE(rig.os.Logged("Terminal revenu sur le port COM12, recherche sur ce port"));
        EXPECT_EQ(rig.os.opened.back(), "\\\\.\\COM12");
        // On the new port the device is asked what it is before anything else is sent.
        ASSERT_FALSE(afterMove.empty());
        EXPECT_EQ(afterMove.front(), rsim::kCmdDescribe);
        EXPECT_EQ(rig.record.portAfterRestart, "COM12");
        EXPECT_EQ(rig.peer->StoredOrder(), c.stored);
        EXPECT_FALSE(rig.terminal.IsOpen());
        if (c.result == RUN_OTHER_READER_FOUND) {
            EXPECT_EQ(afterMove, std::vector<int>{rsim::kCmdDescribe});
            EXPECT_TRUE(rig.os.Logged("Le terminal du port COM12 n'est pas celui en cours de "
                                      "mise a jour, arret"));
        }
    }
}

// Asked to prove the update, the run waits for the reader after its final restart, finds it
// again and reads it: only the same model and options answering is a success. Its port
// leaving the list meanwhile is the restart, not a pulled cable.
TEST(UpdateRun, AVerifiedRunSucceedsOnlyWhenTheSameReaderAnswersAfterItsFinalRestart)
{
    const char kOptions[] = "0102030405060708090a0b0c0d";
    const struct {
        const char* name;
        void (*atRestart)(FakeOs&, LoaderPeer&);
        RunResult result;
        std::vector<int> heard;  // the commands after the final restart
        const char* portAfter;
    } cases[] = {
        {"the same reader", [](FakeOs&, LoaderPeer&) {}, RUN_SUCCEEDED,
         {rsim::kCmdDescribe, rsim::kCmdList}, ""},
        {"silent", [](FakeOs&, LoaderPeer& p) { p.ListenOnlyOn("\\\\.\\COM99"); }, RUN_READER_NOT_BACK, {}, ""},
        {"other options", [](FakeOs&, LoaderPeer& p) { p.Describe("M30", kNoOptions); },
         RUN_OTHER_READER_FOUND, {rsim::kCmdDescribe}, ""},
        {"its port gone", [](FakeOs& os, LoaderPeer&) { os.port.failOpen = true; }, RUN_READER_NOT_BACK, {}, ""},
        {"its port held", [](FakeOs& os, LoaderPeer&) {
             os.port.failOpen = true;
             os.port.openError = ERROR_ACCESS_DENIED;
         }, RUN_PORT_BUSY, {}, ""},
        {"back under another COM number", [](FakeOs&, LoaderPeer& p) {
             RenumberReaderPort(12);
             p.ListenOnlyOn("\\\\.\\COM12");
         }, RUN_SUCCEEDED, {rsim::kCmdDescribe, rsim::kCmdList}, "COM12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig({"A.PDF"});
        rig.settings.verify = true;
        rig.scenario = LoaderScenario("M30", kOptions, kApps);
        rig.peer = std::make_unique<LoaderPeer>(rig.os, rig.scenario);
        LoaderPeer& peer = *rig.peer;
        std::vector<int> heard;
        ULONGLONG restartAt = 0;
        peer.onCommand = [&](int code) {
            if (peer.Stats().restarts == 1)
                heard.push_back(code);
            if (code == rsim::kCmdRestart) {
                restartAt = rig.os.NowMs();
                c.atRestart(rig.os, peer);
            }
        };
        EXPECT_EQ(rig.Run(), c.result);
        RenumberReaderPort(7);
        EXPECT_EQ(heard, c.heard);
        ASSERT_GE(rig.view.searches.size(), 2u);
        EXPECT_GE(rig.view.searches[1].first - restartAt, 30000u);
        EXPECT_EQ(rig.record.portAfterRestart, c.portAfter);
        EXPECT_EQ(rig.os.Logged("Lecteur non retrouve apres la mise a jour"), c.result == RUN_READER_NOT_BACK);
        EXPECT_EQ(rig.record.description.substr(54, 26), kOptions);
        EXPECT_EQ(rig.record.verified, c.result == RUN_SUCCEEDED);
        ASSERT_EQ(rig.record.after.has_value(), c.result == RUN_SUCCEEDED);
        if (rig.record.after) {
            EXPECT_EQ(rig.record.after->model + rig.record.after->options, std::string("M30") + kOptions);
            EXPECT_EQ(rig.record.after->description, rig.record.description);
            EXPECT_EQ(rig.record.after->applications, kApps);
        }
    }
}

// ---- a port held by another program, a reader unplugged ----

TEST(UpdateRun, BusyPortOrPulledCableEndWithTheirOwnResult)
{
    struct Case {
        const char* name;
        RunResult result;
        // Arranges the machine; the unplugging itself comes with the command code given.
        void (*arrange)(RunRig&);
        int unplugAt; // 0: never
        // What the run spends asleep once unplugged, asking the port between its sleeps: a
        // reply waited for inside a read is what a hung-up line turns into a busy loop.
        DWORD asleepAfterUnplug = 0;
    };
    const Case cases[] = {
        {"held, access denied", RUN_PORT_BUSY,
         [](RunRig& r) { r.os.port.failOpen = true; r.os.port.openError = ERROR_ACCESS_DENIED; }, 0},
        {"held, sharing violation", RUN_PORT_BUSY,
         [](RunRig& r) { r.os.port.failOpen = true; r.os.port.openError = ERROR_SHARING_VIOLATION; },
         0},
        {"a read fails", RUN_READER_UNPLUGGED, [](RunRig&) {}, rsim::kCmdList},
        {"a write fails", RUN_READER_UNPLUGGED, [](RunRig&) {}, -rsim::kCmdAnnounce},
        {"the reply never comes", RUN_READER_UNPLUGGED,
         [](RunRig& r) { r.scenario.auth = rsim::AuthMode::Silent; }, rsim::kCmdAuthorise, 5000},
        {"gone after the restart wait", RUN_READER_UNPLUGGED,
         [](RunRig& r) { r.scenario.restartSilenceMs.reset(); }, rsim::kCmdRestart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig({"3648LDR.SGN", "A.PDF"});
        c.arrange(rig);
        rig.peer = std::make_unique<LoaderPeer>(rig.os, rig.scenario);
        if (c.unplugAt == rsim::kCmdList)
            rig.peer->FailReadAfter(rsim::kCmdList);
        std::size_t readsAtUnplug = 0;
        std::size_t sleepsAtUnplug = 0;
        FakeOs& os = rig.os;
        rig.peer->onCommand = [&os, &c, &readsAtUnplug, &sleepsAtUnplug](int code) {
            if (code != std::abs(c.unplugAt) || readsAtUnplug != 0)
                return;
            os.port.failOpen = true;
            os.port.openError = ERROR_FILE_NOT_FOUND;
            readsAtUnplug = os.port.readSizes.size() + 1;
            sleepsAtUnplug = os.sleeps.size();
            if (c.unplugAt < 0) // the write after this command fails
                os.port.failWriteNumber = static_cast<int>(os.port.writes.size());
        };
        const ULONGLONG start = rig.os.NowMs();
        EXPECT_EQ(rig.Run(), c.result);
        EXPECT_EQ(rig.Shown().back(), "end:" + std::to_string(c.result));
        EXPECT_FALSE(rig.terminal.IsOpen());
        if (c.result == RUN_PORT_BUSY) {
            EXPECT_LT(rig.os.NowMs() - start, 1000u);
            EXPECT_TRUE(rig.os.port.writes.empty());
            EXPECT_TRUE(rig.os.Logged("Port COM7 utilise par une autre application"));
            continue;
        }
        // Once the port is gone, at most the read that found out reaches it.
        ASSERT_NE(readsAtUnplug, 0u);
        EXPECT_LE(rig.os.port.readSizes.size() + 1 - readsAtUnplug, 1u);
        EXPECT_TRUE(rig.os.Logged("Port disparu : lecteur debranche pendant la mise a jour"));
        const std::vector<DWORD> asleep(rig.os.sleeps.begin() + static_cast<std::ptrdiff_t>(sleepsAtUnplug),
                                        rig.os.sleeps.end());
        EXPECT_GE(std::accumulate(asleep.begin(), asleep.end(), DWORD{0}), c.asleepAfterUnplug);
        if (c.asleepAfterUnplug > 0) {
            EXPECT_LE(*std::max_element(asleep.begin(), asleep.end()), 10u);
        }
    }
}

// ---- what a run leaves around it: the PC kept awake, its journal ----

// A standard user's journals' folder.
const std::wstring kUserJournals = L"C:\\Users\\user\\AppData\\Local\\Orvane\\Journal";

std::vector<std::string> JournalLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

TEST(UpdateRun, KeepsThePcAwakeAndJournalsItsLinesWhateverTheOutcome)
{
    const struct {
        const char* name;
        void (*arrange)(RunRig&);
        int result;
        bool writable;
    } cases[] = {
        {"success", [](RunRig&) {}, RUN_SUCCEEDED, true},
        {"refusal", [](RunRig& r) { r.scenario.auth = rsim::AuthMode::Refuse; },
         RUN_AUTHORISATION_REFUSED, true},
        {"memory exhausted", [](RunRig&) {
             Os().GetFileSize = [](HANDLE, LPDWORD) -> DWORD { throw std::bad_alloc(); };
         }, RUN_DOWNLOAD_UNDEFINED, true},
        {"journal cannot be written", [](RunRig&) {}, RUN_SUCCEEDED, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRig rig({"A.PDF"});
        rig.KeepJournals();
        c.arrange(rig);
        // A file where the folder belongs keeps every journal out.
        if (!c.writable)
            rig.folders->Put(kUserJournals, FakeFolders::Kind::File, kMachineFolderSddl);
        rig.journals = OpenJournalFolder();
        EXPECT_EQ(rig.Run(), c.result);
        EXPECT_EQ(rig.os.executionStates,
                  (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}));
        const std::string path = WideToAnsi(kUserJournals) + "\\20261208-093000-COM7.log";
        const std::vector<std::string> lines = JournalLines(rig.folders->Content(AnsiToWide(path)));
        // The record names the journal, for the run's event; none when none was written.
        EXPECT_EQ(rig.record.journal, c.writable ? path : std::string());
        if (!c.writable) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        // Every line the run wrote, stamped, in order; the result last.
        ASSERT_EQ(lines.size(), rig.os.lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            ASSERT_GT(lines[i].size(), 13u);
            EXPECT_EQ(lines[i].substr(13), rig.os.lines[i]);
            EXPECT_EQ(lines[i][2], ':');
            EXPECT_EQ(lines[i][8], '.');
        }
        EXPECT_EQ(lines.front().substr(0, 13), "09:30:00.000 ");
        // Read on its own, a journal names its program, package and port first.
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0].substr(13), std::string("Version du programme : ") + OV_VERSION_TEXT);
        EXPECT_EQ(lines[1].substr(13), "Dossier du paquet : " + rig.dir.Path());
        EXPECT_EQ(lines[2].substr(13), "Port : COM7");
        EXPECT_EQ(lines.back().substr(13), "Resultat de la mise a jour : " +
                                               std::to_string(c.result) + " (message " +
                                               std::to_string(ResultMessageId(AsResult(c.result))) + ")");
    }
}

// A run as SYSTEM or elevated follows no link a user made where Windows can refuse them,
// and says in its journal when it could not ask.
TEST(UpdateRun, APrivilegedRunTrustsNoUsersLinksOrSaysSo)
{
    using Account = FakeFolders::Account;
    static std::vector<std::pair<int, DWORD>> asked;
    const struct {
        Account account;
        bool systemHasIt;
        bool asks;
        bool said;
    } cases[] = {
        {Account::LocalSystem, true, true, false},
        {Account::Administrator, true, true, false},
        {Account::LocalSystem, false, false, true},
        {Account::StandardUser, true, false, false},
    };
    const std::string line = "Redirection trust could not be enforced: links made by users may be followed";
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.account) * 10 + c.systemHasIt);
        asked.clear();
        RunRig rig({"A.PDF"});
        rig.KeepJournals();
        rig.folders->account = c.account;
        Os().SetProcessMitigationPolicy = nullptr;
        if (c.systemHasIt)
            Os().SetProcessMitigationPolicy = [](int policy, PVOID buffer, SIZE_T size) -> BOOL {
                asked.emplace_back(policy, size == sizeof(DWORD) ? *static_cast<DWORD*>(buffer) : 0);
                return TRUE;
            };
        rig.journals = OpenJournalFolder();
        EXPECT_EQ(rig.Run(), RUN_SUCCEEDED);
        // ProcessRedirectionTrustPolicy, enforced.
        using Asked = std::vector<std::pair<int, DWORD>>;
        const Asked expected = c.asks ? Asked{{16, 1}} : Asked();
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(rig.os.Logged(line), c.said);
        EXPECT_EQ(rig.folders->Content(AnsiToWide(rig.record.journal)).find(line) != std::string::npos, c.said);
    }
}

TEST(RunJournal, NamesDoNotCollideAndTheThirtyNewestOrAMonthAreKept)
{
    FakeOs os;
    FakeFolders folders;
    const std::shared_ptr<const JournalFolder> folder = OpenJournalFolder();
    const std::string directory = WideToAnsi(kUserJournals);
    const auto put = [&folders, &directory](const std::string& name, const char* content) {
        folders.Put(AnsiToWide(directory + "\\" + name), FakeFolders::Kind::File, kMachineFolderSddl,
                    std::wstring(), content);
    };
    const auto exists = [&](const std::string& name) {
        return folders.Exists(AnsiToWide(directory + "\\" + name));
    };
    const auto two = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    const auto november = [&two](int day) { return "202611" + two(day) + "-080000-COM5.log"; };
    const auto today = [&two](int n) { return "20261208-08" + two(n) + "00-COM" + std::to_string(20 + n) + ".log"; };
    for (int day = 1; day <= 30; ++day)
        put(november(day), "old");
    RunJournal first(folder.get(), "COM5");
    RunJournal second(folder.get(), "DORAN Kavron USB (COM5)");
    EXPECT_EQ(first.Path(), directory + "\\20261208-093000-COM5.log");
    EXPECT_EQ(second.Path(), directory + "\\20261208-093000-DORANKavronUSBCOM5.log");
    RunJournal third(folder.get(), "COM5");
    EXPECT_EQ(third.Path(), directory + "\\20261208-093000-COM5-2.log");
    // 33 files were made: the three oldest have gone.
    for (int day = 1; day <= 3; ++day)
        EXPECT_FALSE(exists(november(day))) << day;
    EXPECT_TRUE(exists("20261104-080000-COM5.log"));

    // A depot's morning: forty readers updated today. Beyond the thirty newest, only what is
    // older than thirty days goes; none of today's journals does.
    for (int reader = 0; reader < 40; ++reader)
        put(today(reader), "today");
    RunJournal fourth(folder.get(), "COM5");
    EXPECT_FALSE(exists("20261107-080000-COM5.log"));
    EXPECT_TRUE(exists("20261108-080000-COM5.log"));
    for (int reader = 0; reader < 40; ++reader)
        EXPECT_TRUE(exists(today(reader))) << reader;
}

TEST(RunJournal, LocalSystemKeepsItsJournalsInProgramData)
{
    // A deployment tool runs as LocalSystem, whose own profile nobody looks into.
    for (const bool system : {false, true}) {
        SCOPED_TRACE(system ? "LocalSystem" : "a standard user");
        FakeOs os;
        FakeFolders folders;
        folders.account = system ? FakeFolders::Account::LocalSystem : FakeFolders::Account::StandardUser;
        const std::wstring expected = system ? L"C:\\ProgramData\\Orvane\\Journal" : kUserJournals;
        const std::shared_ptr<const JournalFolder> folder = OpenJournalFolder();
        EXPECT_TRUE(folder->IsHeld());
        EXPECT_EQ(folder->Path(), expected);
        EXPECT_TRUE(folders.Exists(expected));
        EXPECT_FALSE(folders.Exists(system ? kUserJournals : L"C:\\ProgramData\\Orvane"));
    }
}

// A journal opened for a run on `port` in the account's folder, with one line written.
struct JournalOpening {
    bool open;
    std::string path;
};

JournalOpening OpenJournal(const std::string& port)
{
    const std::shared_ptr<const JournalFolder> folder = OpenJournalFolder();
    RunJournal journal(folder.get(), port);
    journal.Line("start");
    return {journal.IsOpen(), journal.Path()};
}

// The journals' folder of a run as SYSTEM, which a standard user of the same PC may have
// reached first: nothing is created, written or deleted anywhere but in a sound folder.
TEST(RunJournal, ASystemRunJournalsOnlyInAFolderNoUserCanSteer)
{
    using Kind = FakeFolders::Kind;
    const std::wstring orvane = L"C:\\ProgramData\\Orvane";
    const std::wstring journal = orvane + L"\\Journal";
    const std::wstring elsewhere = L"C:\\Users\\user\\AppData\\Local\\Target";
    const struct {
        const char* name;
        FakeFolders::Account account;
        void (*arrange)(FakeFolders&, const std::wstring&, const std::wstring&);
        bool kept;
    } cases[] = {
        {"absent: made with its owner and protected DACL", FakeFolders::Account::LocalSystem,
         [](FakeFolders&, const std::wstring&, const std::wstring&) {}, true},
        {"Orvane made first by a user", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring&) {
             ASSERT_TRUE(f.UserCreates(o, Kind::Folder));
         }, false},
        {"Journal made first by a user", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring& j) {
             // Made by an earlier SYSTEM run with ProgramData's inherited rights, in which
             // Users may create folders.
             ASSERT_TRUE(Os().CreateDirectoryW(o.c_str(), nullptr));
             ASSERT_TRUE(f.UserCreates(j, Kind::Folder));
         }, false},
        {"a junction at Orvane", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring&) {
             ASSERT_TRUE(f.UserCreates(o, Kind::Folder, L"C:\\Users\\user\\AppData\\Local\\Target"));
         }, false},
        {"a junction at Journal", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring& j) {
             ASSERT_TRUE(f.UserCreates(o, Kind::Folder));
             ASSERT_TRUE(f.UserCreates(j, Kind::Folder, L"C:\\Users\\user\\AppData\\Local\\Target"));
         }, false},
        {"a file named Journal", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring& j) {
             f.Put(o, Kind::Folder, kMachineFolderSddl);
             f.Put(j, Kind::File, kMachineFolderSddl);
         }, false},
        {"a DACL that lets Users write", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring& j) {
             f.Put(o, Kind::Folder, kMachineFolderSddl);
             f.Put(j, Kind::Folder, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)");
         }, false},
        {"a sound folder", FakeFolders::Account::LocalSystem,
         [](FakeFolders& f, const std::wstring& o, const std::wstring& j) {
             f.Put(o, Kind::Folder, kMachineFolderSddl);
             f.Put(j, Kind::Folder, kMachineFolderSddl);
         }, true},
        {"a standard user's own folder, absent", FakeFolders::Account::StandardUser,
         [](FakeFolders&, const std::wstring&, const std::wstring&) {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        FakeFolders folders;
        folders.account = c.account;
        const bool system = c.account == FakeFolders::Account::LocalSystem;
        const std::wstring base = system ? orvane : L"C:\\Users\\user\\AppData\\Local\\Orvane";
        const std::wstring folder = base + L"\\Journal";
        // The place a junction leads to, full of what look like old journals.
        folders.Put(elsewhere, Kind::Folder, L"O:" + std::wstring(FakeFolders::kUserSid) +
                                                 L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)");
        for (int i = 0; i < 40; ++i) {
            wchar_t name[64];
            std::swprintf(name, 64, L"\\2026%02d%02d-080000-COM5.log", 9 + i / 20, 1 + i % 20);
            folders.Put(elsewhere + name, Kind::File, L"O:BAD:(A;;FA;;;BU)");
        }
        c.arrange(folders, orvane, journal);
        folders.created.clear();
        folders.written.clear();
        const std::vector<std::wstring> before = folders.Names(elsewhere);
        const std::wstring sddlBefore = folders.Sddl(folder);

        const JournalOpening opened = OpenJournal("COM5");
        EXPECT_EQ(opened.open, c.kept);
        EXPECT_EQ(folders.Names(elsewhere), before);
        EXPECT_TRUE(folders.deleted.empty());
        for (const auto* touched : {&folders.created, &folders.written}) {
            for (const std::wstring& path : *touched) {
                EXPECT_TRUE(c.kept) << WideToAnsi(path);
                const bool inside = path == base || path == folder ||
                                    path.compare(0, folder.size() + 1, folder + L"\\") == 0;
                EXPECT_TRUE(inside) << WideToAnsi(path);
            }
        }
        if (!c.kept) {
            EXPECT_EQ(folders.Sddl(folder), sddlBefore);
            continue;
        }
        EXPECT_EQ(opened.path, WideToAnsi(folder) + "\\20261208-093000-COM5.log");
        EXPECT_FALSE(folders.Content(folder + L"\\20261208-093000-COM5.log").empty());
        // What a run made is SYSTEM's and Administrators' (or the user's own) alone.
        const std::wstring user = FakeFolders::kUserSid;
        const std::wstring made =
            system ? L"O:S-1-5-32-544D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)"
                     L"(A;OICI;0x1200a9;;;S-1-5-32-545)"
                   : L"O:" + user + L"D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)"
                     L"(A;OICI;0x1f01ff;;;" + user + L")";
        if (std::string(c.name).find("absent") != std::string::npos) {
            EXPECT_EQ(folders.Sddl(base), made);
            EXPECT_EQ(folders.Sddl(folder), made);
        }
    }
}

// What the pruning of a SYSTEM run's journals may delete: plain files of the journal's own
// form in the held folder, never another file, a link or what a link leads to.
TEST(RunJournal, PruningDeletesOnlyThePlainJournalsOfItsOwnFolder)
{
    using Kind = FakeFolders::Kind;
    const std::wstring journal = L"C:\\ProgramData\\Orvane\\Journal";
    const std::wstring outside = L"C:\\Users\\user\\AppData\\Local\\Kept";
    const struct {
        const char* name;
        const wchar_t* odd;       // put among the journals
        Kind kind;
        const wchar_t* leadsTo;   // a link's target
    } cases[] = {
        {"a name of another form", L"1999-notes.log", Kind::File, L""},
        {"a name only its short name matches", L"0-audit.logx", Kind::File, L""},
        {"a folder of a journal's name", L"20260901-070000-COM9.log", Kind::Folder, L""},
        {"a junction among the journals", L"20260901-070000-COM9.log", Kind::Folder, L"C:\\Users\\user\\AppData\\Local\\Kept"},
        {"a link to a file outside", L"20260901-070000-COM9.log", Kind::File,
         L"C:\\Users\\user\\AppData\\Local\\Kept\\20260901-060000-COM9.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        FakeFolders folders;
        folders.account = FakeFolders::Account::LocalSystem;
        folders.Put(L"C:\\ProgramData\\Orvane", Kind::Folder, kMachineFolderSddl);
        folders.Put(journal, Kind::Folder, kMachineFolderSddl);
        folders.Put(outside, Kind::Folder, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)");
        folders.Put(outside + L"\\20260901-060000-COM9.log", Kind::File, L"O:BAD:(A;;FA;;;BU)");
        // Thirty-two journals of September and October, all older than a month.
        for (int i = 0; i < 32; ++i) {
            wchar_t name[64];
            std::swprintf(name, 64, L"\\2026%02d%02d-080000-COM5.log", 9 + i / 20, 1 + i % 20);
            folders.Put(journal + name, Kind::File, kMachineFolderSddl, std::wstring(), "old");
        }
        folders.Put(journal + L"\\" + c.odd, c.kind, kMachineFolderSddl, c.leadsTo);

        EXPECT_TRUE(OpenJournal("COM5").open);
        // Thirty-three journals: the three oldest go, and nothing else.
        EXPECT_EQ(folders.deleted, (std::vector<std::wstring>{journal + L"\\20260901-080000-COM5.log",
                                                              journal + L"\\20260902-080000-COM5.log",
                                                              journal + L"\\20260903-080000-COM5.log"}));
        EXPECT_TRUE(folders.Exists(journal + L"\\" + c.odd));
        EXPECT_TRUE(folders.Exists(outside + L"\\20260901-060000-COM9.log"));
    }
}

// ---- several runs in one process ----

TEST(UpdateRun, TwoRunsAtOnceEachCompleteTheirOwnUpdate)
{
    FakeOsOnRealFiles os;
    PackageDir dir;
    // One reader of each model, each on its own port, thread, terminal and view.
    struct Lane {
        const char* model;
        std::vector<std::string> files;
        std::string portText;
        Events shown; // before the ending
        std::unique_ptr<LoaderPeer> peer{};
        CTerminal terminal{};
        std::unique_ptr<RecordingView> view{};
        int result = -1;
    };
    const Events sent = {"step:Diffusion en cours...", "stepit"};
    Lane lanes[2] = {
        {"M30", {"A.PDF", "B.DDF", "C.BIN"}, "COM8",
         Then(Then(Then(Then(kIdentified, {"range:3", "stepsize:1", "pos:0"}), sent), sent), sent)},
        {"M31", {"3648LDR.SGN", "D.PDF"}, "COM9",
         Then(Then(Then({"step:Recherche du terminal...", "step:Terminal Garnet. Collecte des informations",
                         "range:2", "stepsize:1", "pos:0"}, sent), LoaderRestartTexts()), sent)},
    };
    int seed = 1;
    for (Lane& lane : lanes) {
        for (const std::string& file : lane.files) {
            dir.Write(file, Content(200 + 150 * static_cast<std::size_t>(seed), seed));
            ++seed;
        }
        WriteOpenCatalogue(dir, lane.files, lane.model);
        lane.peer = std::make_unique<LoaderPeer>(os, os.PortAt("\\\\.\\" + lane.portText),
                                                 LoaderScenario(lane.model, kNoOptions, kApps));
        lane.view = std::make_unique<RecordingView>(os);
    }
    FakeFolders folders;
    folders.realPrefixes = {AnsiToWide(dir.Path())};
    const std::shared_ptr<const JournalFolder> journals = OpenJournalFolder();
    std::vector<std::thread> threads;
    for (Lane& lane : lanes)
        threads.emplace_back([&lane, &journals] {
            UpdateRun run(lane.terminal, lane.portText, *lane.view);
            run.SetJournalFolder(journals);
            lane.result = run.Execute();
        });
    for (std::thread& t : threads)
        t.join();

    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(lanes[i].model);
        const Lane& lane = lanes[i];
        EXPECT_EQ(lane.result, RUN_SUCCEEDED);
        EXPECT_EQ(WithoutPercents(lane.view->events), Then(lane.shown, SuccessfulEnding()));
        EXPECT_EQ(lane.peer->StoredOrder(), lane.files);
        EXPECT_TRUE(lane.peer->Stats().violations.empty());
        EXPECT_EQ(lane.view->modules.size(), lane.files.size());
        // Each run's journal holds its own lines only.
        // Named after its own start, which the other run's waits may have moved on.
        const std::vector<std::wstring> names = folders.Names(kUserJournals);
        const std::wstring suffix = L"-" + AnsiToWide(lane.portText) + L".log";
        const auto named = std::find_if(names.begin(), names.end(), [&suffix](const std::wstring& n) {
            return n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0;
        });
        ASSERT_NE(named, names.end());
        const std::vector<std::string> journal =
            JournalLines(folders.Content(kUserJournals + L"\\" + *named));
        const auto mentions = [&journal](const std::string& text) {
            return std::count_if(journal.begin(), journal.end(), [&text](const std::string& l) {
                return l.find(text) != std::string::npos;
            });
        };
        EXPECT_GE(mentions("Terminal detecte sur le port : " + lane.portText), 1);
        EXPECT_EQ(mentions("Terminal detecte sur le port : " + lanes[1 - i].portText), 0);
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.back().substr(13), "Resultat de la mise a jour : 0 (message 107)");
    }
}

// ---- several readers from the console ----

// Two readers, of two models, named to `OrvaneCli update` as COM8 and COM9, in a package
// directory, with the journals in a folder of the test's own.
struct ConsoleRig {
    FakeOsOnRealFiles os;
    PackageDir dir;
    ScratchDir appData{"ovappdata"};
    const std::vector<std::string> files[2] = {{"A.PDF", "B.DDF", "C.BIN"}, {"3648LDR.SGN", "D.PDF"}};
    std::unique_ptr<LoaderPeer> peers[2];

    ConsoleRig()
    {
        const char* models[2] = {"M30", "M31"};
        const char* paths[2] = {"\\\\.\\COM8", "\\\\.\\COM9"};
        int seed = 1;
        for (int i = 0; i < 2; ++i) {
            for (const std::string& file : files[i]) {
                dir.Write(file, Content(200 + 150 * static_cast<std::size_t>(seed), seed));
                ++seed;
            }
            WriteOpenCatalogue(dir, files[i], models[i]);
            peers[i] = std::make_unique<LoaderPeer>(os, os.PortAt(paths[i]),
                                                    LoaderScenario(models[i], kNoOptions, kApps));
        }
        ::SetEnvironmentVariableA("LOCALAPPDATA", appData.Path().c_str());
    }
    ~ConsoleRig() { ::SetEnvironmentVariableA("LOCALAPPDATA", m_appData.c_str()); }

    // The command's exit code, or -1 when it did not end within a minute of real time.
    int Update(const std::string& record = std::string())
    {
        UpdateRequest request;
        request.named = {"COM8", "COM9"};
        request.recordName = record;
        auto command = std::async(std::launch::async, [&request] { return RunUpdates(request).Code(); });
        if (command.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            os.console.Release();
            command.wait();
            return -1;
        }
        return command.get();
    }

private:
    std::string m_appData = EnvironmentText("LOCALAPPDATA");

    static std::string EnvironmentText(const char* name)
    {
        char value[MAX_PATH] = {};
        const DWORD n = ::GetEnvironmentVariableA(name, value, MAX_PATH);
        return n < MAX_PATH ? std::string(value, n) : std::string();
    }
};

// The lines written, each without its end.
std::vector<std::string> WrittenLines(const std::string& written)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = written.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(written.substr(start, end - start));
    EXPECT_EQ(start, written.size()) << "the last line was cut";
    return lines;
}

TEST(ConsoleUpdate, ABlockedConsoleHoldsUpNoRunAndGetsEveryLineWholeAndInOrder)
{
    ConsoleRig rig;
    std::string written;
    {
        ConsoleWriter console(true);
        // A selection is open in the console from the start to the end of the runs.
        rig.os.console.Block();
        ASSERT_EQ(rig.Update(), 0) << "a run waited on the console";
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(rig.peers[i]->StoredOrder(), rig.files[i]);
        // A bar late for the console is replaced by the next one, not queued behind it.
        for (int percent = 0; percent <= 100; percent += 10)
            console.DrawBar("bar " + std::to_string(percent));
        console.WriteLine("after the bar");
        rig.os.console.Release();
    }
    std::vector<std::string> lines = WrittenLines(rig.os.console.Written());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"\rbar 100", "after the bar"}));
    lines.resize(lines.size() - 2);

    // Each run's own lines, in the order it wrote them, stamps aside; every diagnostic line
    // of either run, whole.
    const std::vector<std::string> expected[2] = {
        {"step: Recherche du terminal...", "step: Terminal Falko. Collecte des informations",
         "step: Diffusion en cours...", "file 1/3: A.PDF (A.PDF), 350 bytes", "total: 1/3 files",
         "step: Diffusion en cours...", "file 2/3: B.DDF (KAVRON SYSTEM), 500 bytes",
         "total: 2/3 files", "step: Diffusion en cours...",
         "file 3/3: C.BIN (C.BIN), 650 bytes", "total: 3/3 files",
         "step: Diffusion en cours...", u8"step: Activation des modules chargés",
         "step: Fin du chargement", "result: 0 (success)"},
        {"step: Recherche du terminal...", "step: Terminal Garnet. Collecte des informations",
         "step: Diffusion en cours...", "file 1/2: 3648LDR.SGN (3648LDR.SGN), 800 bytes",
         "total: 1/2 files", u8"file: Mise à jour du chargeur",
         u8"file: Redémarrage... Ne pas débrancher votre terminal",
         u8"file: Redémarrage du lecteur...", "reader restarting: waiting 30 s",
         "file: Recherche du terminal...", "step: Diffusion en cours...",
         "file 2/2: D.PDF (D.PDF), 950 bytes", "total: 2/2 files",
         "step: Diffusion en cours...", u8"step: Activation des modules chargés",
         "step: Fin du chargement", "result: 0 (success)"}};
    const std::string prefixes[2] = {"COM8: ", "COM9: "};
    std::vector<std::string> shown[2];
    std::size_t diagnostics = 0;
    for (const std::string& line : lines) {
        if (line.compare(0, 8, "update: ") == 0)
            continue;
        const int lane = line.compare(0, 6, prefixes[0]) == 0   ? 0
                         : line.compare(0, 6, prefixes[1]) == 0 ? 1
                                                                : -1;
        ASSERT_NE(lane, -1) << line;
        const std::string text = line.substr(6);
        if (text.compare(0, 2, "  ") == 0) {
            ++diagnostics;
            EXPECT_TRUE(rig.os.Logged(Utf8ToAnsi(text.substr(2)))) << line;
            continue;
        }
        const std::size_t stamp = text.find(" s] ");
        ASSERT_TRUE(text.compare(0, 1, "[") == 0 && stamp != std::string::npos) << line;
        shown[lane].push_back(text.substr(stamp + 4));
    }
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(shown[i], expected[i]) << prefixes[i];
    EXPECT_EQ(diagnostics, rig.os.lines.size());
}

TEST(ConsoleUpdate, AConsoleTakesUtf16AndAPipeOrAFileUtf8)
{
    // The console keeps its owner's code page: French and Polish text still reach it whole,
    // and a redirected standard error is UTF-8 for whatever reads it. A bar is drawn in
    // place on a console only: a deployment tool's log would keep every figure.
    const std::string line = u8"step: Activation des modules chargés, C:\\Users\\Łukasz";
    const struct {
        const char* name;
        bool redirected;
        std::wstring units;
        std::string bytes;
    } cases[] = {
        {"console", false, Utf8ToWide(line + "\n\r A.PDF [##] 100%\nend\n"), ""},
        // Bytes as the C runtime's text mode writes them: each LF as CR LF.
        {"pipe or file", true, L"", line + "\r\nend\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs os;
        os.console.redirected = c.redirected;
        {
            ConsoleWriter console(false);
            console.WriteLine(line);
            console.DrawBar(" A.PDF [##] 100%");
            console.WriteLine("end");
            EXPECT_EQ(StderrDrawsInPlace(), !c.redirected);
        }
        EXPECT_EQ(os.console.UnitsWritten(), c.units);
        EXPECT_EQ(os.console.BytesWritten(), c.bytes);
    }
}

TEST(ConsoleUpdate, ARunWhoseThreadCannotBeMadeEndsUndefinedAndTheOtherCompletes)
{
    ConsoleRig rig;
    rig.os.failThreadNumber = 1; // COM9's
    ConsoleWriter console(false);
    EXPECT_EQ(rig.Update(), RUN_DOWNLOAD_UNDEFINED);
    EXPECT_EQ(rig.peers[0]->StoredOrder(), rig.files[0]);
    EXPECT_TRUE(rig.os.PortAt("\\\\.\\COM9").writes.empty());
}

// What a deployment tool's detection rule reads, in the 64-bit view whoever built the
// program; or, for an account that may not write it, the command refused before a port opens.
TEST(ConsoleUpdate, TheRecordHoldsTheOutcomeOrNothingIsSent)
{
    const struct {
        const char* name;
        bool system, wow64, silentCom9;
        LSTATUS writeError;
        int exit;
        const wchar_t* readers;  // empty: no record
    } cases[] = {
        {"both updated", true, false, false, ERROR_SUCCESS, 0, L"COM8=0 COM9=0"},
        {"by a 32-bit build", true, true, false, ERROR_SUCCESS, 0, L"COM8=0 COM9=0"},
        {"COM9 silent", true, false, true, ERROR_SUCCESS, 21, L"COM8=0 COM9=21"},
        {"a standard user", false, false, false, ERROR_SUCCESS, 2, L""},
        {"the key deleted meanwhile", true, false, false, ERROR_KEY_DELETED, 31, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConsoleRig rig;
        rig.os.localSystem = c.system;
        rig.os.programData = rig.appData.Path();
        rig.os.wow64 = c.wow64;
        rig.os.machineWriteError = c.writeError;
        if (c.silentCom9) {
            rsim::Scenario silent = LoaderScenario("M31", kNoOptions, kApps);
            silent.loader = rsim::LoaderMode::Silent;
            rig.peers[1].reset();
            rig.peers[1] =
                std::make_unique<LoaderPeer>(rig.os, rig.os.PortAt("\\\\.\\COM9"), silent);
        }
        ConsoleWriter console(false);
        EXPECT_EQ(rig.Update("Kavron-2026-11"), c.exit);
        EXPECT_EQ(rig.os.opened.empty(), c.exit == 2);
        EXPECT_EQ(rig.os.openKeys, 0);
        const auto value = [&rig](const wchar_t* name) -> std::wstring {
            const FakeOs::Value& v =
                rig.os.machineValues[{L"SOFTWARE\\Orvane\\Records\\Kavron-2026-11", name}];
            if (v.type == REG_DWORD)
                return std::to_wstring(*reinterpret_cast<const DWORD*>(v.data.data()));
            return v.type == REG_SZ ? reinterpret_cast<const wchar_t*>(v.data.data()) : L"";
        };
        const bool recorded = c.readers[0] != L'\0';
        EXPECT_EQ(value(L"Result"), recorded ? std::to_wstring(c.exit) : L"");
        EXPECT_EQ(value(L"Readers"), c.readers);
        const char* finished = recorded ? R"(2026-12-08T[0-9:]{8}[+-]\d\d:\d\d)" : "";
        EXPECT_TRUE(std::regex_match(WideToUtf8(value(L"Finished")), std::regex(finished)));
    }
}

TEST(ConsoleUpdate, AJournalFolderNoRunCanTrustIsSaidOnceAndNamedInEachEvent)
{
    ConsoleRig rig;
    FakeFolders folders;
    folders.realPrefixes = {AnsiToWide(rig.dir.Path())};
    folders.account = FakeFolders::Account::LocalSystem;
    ASSERT_TRUE(folders.UserCreates(L"C:\\ProgramData\\Orvane", FakeFolders::Kind::Folder));
    ConsoleWriter console(false);
    EXPECT_EQ(rig.Update(), 0);
    EXPECT_TRUE(folders.created.empty());
    const std::string refusal =
        "C:\\ProgramData\\Orvane (owner S-1-5-21-1-2-3-1001): its owner is not a trusted owner";
    const std::vector<std::string> lines = WrittenLines(rig.os.console.Written());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "update: no journal is kept: " + refusal), 1);
    ASSERT_EQ(rig.os.events.size(), 2u);
    for (const FakeOs::Event& event : rig.os.events) {
        ASSERT_EQ(event.strings.size(), 5u);
        EXPECT_EQ(event.strings[4], AnsiToWide("not kept: " + refusal));
    }
}

// ---- result codes ----

TEST(RunResult, DownloadCodesMapOntoRunResults)
{
    const int mapped[][2] = {{1, 7},  {2, 8},  {3, 9},   {4, 10},  {5, 11},  {6, 12}, {7, 13},
                             {8, 14}, {9, 15}, {10, 16}, {11, 17}, {12, 18}, {13, 16}, {99, 16},
                             {-1, 16}};
    for (const auto& m : mapped)
        EXPECT_EQ(ResultOfDownload(static_cast<DownloadResult>(m[0])), m[1]) << "download code " << m[0];
}

TEST(RunResult, EveryResultHasItsMessageAndUnknownOnesTheFallback)
{
    const unsigned ids[] = {107, 109, 117, 119, 104, 105, 106, 130, 131, 132, 133, 134, 135,
                            136, 137, 138, 139, 140, 141, 142, 118, 108, 143, 144, 145, 146, 147};
    static_assert(sizeof ids / sizeof ids[0] == kLastRunResult + 1, "one message per result");
    for (int code = 0; code <= kLastRunResult; ++code)
        EXPECT_EQ(ResultMessageId(AsResult(code)), ids[code]) << "result " << code;
    EXPECT_EQ(ResultMessageId(AsResult(kLastRunResult + 1)), 125u);
    EXPECT_EQ(ResultMessageId(AsResult(-1)), 125u);

    EXPECT_EQ(ResultBoxText(AsResult(0)), T(u8"La mise à jour s'est effectuée avec succès"));
    EXPECT_EQ(ResultBoxText(AsResult(10)), T(u8"Erreur 133:\nErreur de communication avec le lecteur : pas de "
                                   u8"réponse de la part du lecteur.\nVeuillez vérifier que le lecteur "
                                   u8"est bien branché sur le port sélectionné et que l'écran affiche "
                                   u8"le message d'accueil."));
    EXPECT_EQ(ResultBoxText(AsResult(14)), T(u8"Erreur 137:\nErreur lors de la mise à jour : perte de la "
                                   u8"communication avec le lecteur. "));
    EXPECT_EQ(ResultBoxText(AsResult(25)), T(u8"Erreur 146:\nLe paquet de mise à jour contient un nom de "
                                             u8"fichier invalide.\nVeuillez contacter votre fournisseur."));
    EXPECT_EQ(ResultBoxText(AsResult(26)), T(u8"Erreur 147:\nLe lecteur ne répond plus après sa mise à jour.\n"
                                             u8"Débranchez-le, rebranchez-le puis relancez la mise à jour."));
    EXPECT_EQ(ResultBoxText(AsResult(77)), T(u8"Erreur 125:\nErreur lors de la mise à jour : erreur inconnue."));
    EXPECT_EQ(ResultBoxIcon(AsResult(0)), static_cast<unsigned>(MB_ICONINFORMATION));
    EXPECT_EQ(ResultBoxIcon(AsResult(21)), static_cast<unsigned>(MB_ICONERROR));
}

// ---- waits ----

ULONGLONG g_clock = 0;
void WINAPI HalfSleep(DWORD ms) { g_clock += ms / 2 + 1; }
ULONGLONG WINAPI HalfClock() { return g_clock; }

TEST(SleepAtLeast, TopsUpASleepThatEndedEarly)
{
    OsCalls calls = RealOsCalls();
    calls.Sleep = HalfSleep;
    calls.GetTickCount64 = HalfClock;
    ScopedOsCalls swap(calls);
    g_clock = 1000;
    SleepAtLeast(750);
    EXPECT_GE(g_clock - 1000, 750u);
    EXPECT_LT(g_clock - 1000, 760u);
}

} // namespace
