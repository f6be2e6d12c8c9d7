"""End to end: Orvane.exe under Wine and Xvfb, started in a package directory, against
readersim on COM5 where the reader's USB serial device is registered. The main window
selects the reader by itself; "Démarrer" is pressed from outside; progressprobe watches the
progress window, reads and answers every message box; the reader's summary says what it
received. A screenshot of each case is kept in build/win/screenshots/.

Each case is one CTest test: `e2e_cases.py NAME`.
"""
import os
import shutil
import subprocess
import sys
import time

from window_cases import (CAPTION, DETECTED, DETECTION, PORTS, READER, READER_ENTRY, START, TITLE,
                          Device, Updater, drive, screenshot)
from harness import (APPS, GOOD_OPTIONS, M30_FILES, SAMPLE, WINE_RUN, Reader, check, journals,
                     new_journal, run_case, run_windows, scratch, start_windows)

TOOLS_DIR = os.environ["OV_TOOLS_DIR"]

ACTIVATING = "Activation des modules chargés"
SUCCESS = "La mise à jour s'est effectuée avec succès"
MSG108 = ("Impossible de communiquer avec le lecteur.\nVeuillez vérifier que le lecteur est bien "
          "branché sur le port sélectionné et que l'écran affiche le message d'accueil.")
MSG118 = ("Configuration matérielle du lecteur non conforme.\nLa mise à jour n'est pas destinée "
          "à ce lecteur de cartes Vitale.")
MSG104 = ("La configuration logicielle du terminal ne permet pas d'effectuer cette mise à "
          "jour.\nVeuillez contacter votre fournisseur.")
MSG106 = "Autorisation de chargement du logiciel non accordée.\nVeuillez contacter votre fournisseur."
MSG141 = "Erreur lors de la mise à jour : plus de réponse de la part du lecteur."
REOPEN_FAILED = "Impossible d'ouvrir le port.\nLe terminal n'a pas été mis à jour"


def error(number, text):
    return "Erreur %d:\n%s" % (number, text)


class Watched:
    """What the probe saw of one run."""

    def __init__(self, out):
        self.out = out
        self.boxes = [l.split("\t", 1)[1].replace("\\n", "\n") for l in out.splitlines()
                      if l.startswith("box\t")]
        self.states = [tuple(l.split("\t")[1:]) for l in out.splitlines()
                       if l.startswith("state\t") and len(l.split("\t")) == 5]

    def steps(self):
        return [s[0] for s in self.states]

    def files(self):
        return [s[1] for s in self.states]

    def __repr__(self):
        return self.out


def update(name, *sim_options, package=SAMPLE, interrupt=False, shot_when=None, timeout=240):
    """One update through the windows; returns what the probe saw and the reader's summary."""
    with Device(*READER), Reader(5, *sim_options) as sim, Updater(package) as app:
        app.wait_window()
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 20000)
        # Outside a run nothing holds Windows back from shutting down.
        check(drive("queryend", TITLE).strip() == "allowed", "shutdown refused outside a run")
        probe_args = ["--box-delay", "1500"] + (["--interrupt"] if interrupt else [])
        probe = start_windows(os.path.join(TOOLS_DIR, "progressprobe.exe"), *probe_args)
        drive("click", TITLE, START)
        shot = None
        deadline = time.time() + timeout
        marker = shot_when or "\nbox\t"
        while time.time() < deadline and probe.process.poll() is None:
            if shot is None and marker in probe.output_so_far():
                time.sleep(0.3)
                shot = screenshot("e2e-%s.png" % name)
            time.sleep(0.1)
        watched = Watched(probe.wait(30).out)
        # Back in the main window, polling again once the outcome was answered.
        drive("waitenabled", TITLE, START, 1, 20000)
        summary = sim.summary()
    check(shot is not None, "no screenshot of %s: %r" % (name, watched))
    return watched, summary


def received_names(summary):
    return [f["name"] for f in summary["files"] if f["complete"]]


def case_full_update_with_loader_restart():
    before = journals()
    watched, summary = update("success", "--model", "M30", "--options", GOOD_OPTIONS,
                              "--apps", APPS, "--activate", "late:3000",
                              shot_when="\t" + ACTIVATING + "\t")
    check(watched.boxes == [SUCCESS], watched)
    steps, files = watched.steps(), watched.files()
    check(steps[0] == "Recherche du terminal..." and
          "Terminal Falko. Collecte des informations" in steps and "Diffusion en cours..." in steps
          and ACTIVATING in steps, steps)
    for text in ("Mise à jour du chargeur", "Redémarrage... Ne pas débrancher votre terminal",
                 "Redémarrage du lecteur...", "Recherche du terminal...",
                 "Module en cours: KAVRON MANAGER"):
        check(text in files, (text, files))
    at_end = [s for s in watched.states if s[0] == ACTIVATING]
    check(at_end and at_end[-1][2] == "11/11" and at_end[-1][3] == "100", at_end)
    # Every file byte for byte, in order, and the last one announced again to activate.
    check([f["name"] for f in summary["files"]] == M30_FILES + ["LISEZMOI.TXT"], summary["files"])
    check(received_names(summary) == M30_FILES, summary["files"])
    check(summary["activations"] == 2 and summary["restarts"] == 2, summary)
    check(summary["violations"] == 0, summary["violation_list"])
    check(new_journal(before, "COM5")[-1].endswith("Resultat de la mise a jour : 0 (message 107)"),
          "the run's journal")


def case_no_reader():
    watched, summary = update("no-reader", "--loader", "silent")
    check(watched.boxes == [error(108, MSG108)], watched)
    check(watched.steps()[0] == "Recherche du terminal...", watched.steps())
    # Probed at each of the five rates, never spoken to.
    check(len(set(summary["probe_bauds"])) == 5 and summary["commands"] == {}, summary)


def case_unknown_model():
    watched, summary = update("unknown-model", "--model", "M99", "--apps", APPS)
    check(watched.boxes == [error(118, MSG118)], watched)
    # Its description was read, and nothing else asked of it.
    check(summary["commands"] == {"7": 1} and summary["files"] == [], summary)


def case_constraints_not_met():
    watched, summary = update("constraints", "--model", "M30", "--options", GOOD_OPTIONS,
                              "--apps", "TIERSPAYANT,ANCIENSANTE")
    check(watched.boxes == [error(104, MSG104)], watched)
    # Description and application list read; nothing announced.
    check(summary["commands"] == {"1": 1, "7": 1} and summary["files"] == [], summary)


def case_authorisation_refused():
    watched, summary = update("authorisation", "--model", "M30", "--options", GOOD_OPTIONS,
                              "--apps", APPS, "--auth", "refuse")
    check(watched.boxes == [error(106, MSG106)], watched)
    check(summary["commands"].get("3") == 1, summary)  # asked once, refused
    # The first file was announced, and not one byte of it sent.
    check([f["name"] for f in summary["files"]] == ["3648LDR.SGN"], summary["files"])
    check(summary["files"][0]["received"] == 0 and summary["blocks"] == 0, summary)


def case_stop_then_silence_during_a_download():
    watched, summary = update("stop", "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS,
                              "--stop-at", "3")
    check(watched.boxes == [error(141, MSG141)], watched)
    check("Module en cours: KAVRON MANAGER" in watched.files(), watched.files())
    first = summary["files"][0]
    check(first["name"] == "3648LDR.SGN" and not first["complete"] and first["blocks"] == 3,
          summary["files"])
    check(summary["restarts"] == 0, summary)


def case_reader_silent_after_the_loader_restart():
    watched, summary = update("lost-after-restart", "--model", "M30", "--options", GOOD_OPTIONS,
                              "--apps", APPS, "--restart-silence", "never",
                              shot_when="\nbox\tImpossible d'ouvrir")
    # The run's own two boxes, then the main window's.
    check(watched.boxes == [REOPEN_FAILED, MSG108, error(108, MSG108)], watched)
    check(received_names(summary) == ["3648LDR.SGN", "3648LDR.LDF"], summary["files"])
    check(summary["activations"] == 1 and summary["restarts"] == 1, summary)


def case_enter_and_escape_during_a_run():
    # A package without loader files: no restart wait.
    directory = scratch("ov-e2e-")
    names = ["K30APP.SGN", "K30APP.LDF", "VIT3777.PDF", "VIT3778.PDF", "TABLES.DDF"]
    for name in names + ["ContraintesM30.ini", "ReadMe.txt", "Lecteur.txt", "Lecteur.png"]:
        shutil.copy(os.path.join(SAMPLE, name), directory)
    with open(os.path.join(SAMPLE, "catalogueM30.ini"), "rb") as f:
        head = f.read().split(b"[FICHIER A CHARGER]")[0]
    with open(os.path.join(directory, "catalogueM30.ini"), "wb") as f:
        f.write(head + b"[FICHIER A CHARGER]\r\n" + b"".join(n.encode() + b"\r\n" for n in names))
    watched, summary = update("keys", "--model", "M30", "--options", GOOD_OPTIONS,
                              "--apps", APPS, "--pace", package=directory, interrupt=True)
    check("interrupted\tno" in watched.out, watched)
    check("endsession\trefused" in watched.out, watched)
    check(watched.boxes == [SUCCESS], watched)
    check(received_names(summary) == names, summary["files"])
    check(summary["restarts"] == 1, summary)


PROGRESS = "Chargement"
DPIS = (96, 120, 144, 192)
# Children that overlap by design: the indicator at the end of the state label's area. The
# port list stands at the end of the detection text's, checked apart: see list_clear_of_text.
OVERLAPS = {frozenset((1035, 1033))}
# Dialog units round: a size is within 8 % of its 96-DPI size scaled, and two pixels.
SLACK = 0.08


def layout(title):
    """The client size and the children (id -> (x, y, width, height)) of a window."""
    lines = drive("layout", title).splitlines()
    client = tuple(int(v) for v in lines[0].split()[1:])
    children = {}
    for line in lines[1:]:
        ident, _, x, y, w, h, visible = line.split()
        if visible == "1" and int(ident) not in children:
            children[int(ident)] = tuple(int(v) for v in (x, y, w, h))
    return client, children


def near(value, expected):
    return abs(value - expected) <= 2 + SLACK * abs(expected)


def list_clear_of_text(children, children96, scale):
    """Whether the port list, where it stands in the detection text's area, leaves the text
    the room its lines had at 96 DPI, scaled as their font is (exactly by the DPI)."""
    x, y = children[PORTS][:2]
    tx, ty, _, th = children[DETECTION]
    x96 = children96[PORTS][0]
    tx96 = children96[DETECTION][0]
    return x - tx >= int((x96 - tx96) * scale) and ty <= y < ty + th


def check_layout(name, dpi, shown, at96):
    """A window's layout at `dpi` against its layout at 96 DPI, and against itself."""
    (width, height), children = shown
    (width96, height96), children96 = at96
    scale = dpi / 96.0
    check(near(width, width96 * scale) and near(height, height96 * scale),
          "%s at %d DPI: client %dx%d for %dx%d at 96" % (name, dpi, width, height, width96, height96))
    check(set(children) == set(children96), "%s at %d DPI: children %s" % (name, dpi, sorted(children)))
    for ident, (x, y, w, h) in children.items():
        x96, y96, w96, h96 = children96[ident]
        # A drop-down list's height is its edit field's, which follows its font.
        check(near(x, x96 * scale) and near(y, y96 * scale) and near(w, w96 * scale) and
              (ident == PORTS or near(h, h96 * scale)),
              "%s at %d DPI: control %d at %s, at 96 %s" % (name, dpi, ident, (x, y, w, h),
                                                             children96[ident]))
        check(x >= 0 and y >= 0 and x + w <= width and y + h <= height,
              "%s at %d DPI: control %d outside the client area" % (name, dpi, ident))
    ids = sorted(children)
    for i, a in enumerate(ids):
        for b in ids[i + 1:]:
            ax, ay, aw, ah = children[a]
            bx, by, bw, bh = children[b]
            overlap = ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah
            if overlap and {a, b} == {PORTS, DETECTION}:
                check(list_clear_of_text(children, children96, scale),
                      "%s at %d DPI: port list %s over the detection text %s" %
                      (name, dpi, children[PORTS], children[DETECTION]))
                continue
            check(not overlap or frozenset((a, b)) in OVERLAPS,
                  "%s at %d DPI: controls %d and %d overlap" % (name, dpi, a, b))


def set_dpi(dpi):
    """The DPI Wine gives the programs started from now on (HKCU LogPixels)."""
    key = r"HKCU\Control Panel\Desktop"
    args = (["reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"]
            if dpi else ["reg", "delete", key, "/v", "LogPixels", "/f"])
    subprocess.run([WINE_RUN] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=False)


def screens_at(dpi):
    """The main window with the reader, the progress window held in a download (the reader
    goes silent at block 3 of the first file) and the result box, at one DPI: their layouts,
    and a screenshot of each."""
    set_dpi(dpi)
    # Whether each window's texts fit their controls is measured in the program itself,
    # which says so on its diagnostic output.
    monitor = start_windows(os.path.join(TOOLS_DIR, "windriver.exe"), "debuglines", "150000")
    time.sleep(0.5)
    with Device(*READER), Reader(5, "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS,
                                 "--silent-at", "3", "--fault-file", "3648LDR.SGN") as sim, \
            Updater(SAMPLE) as app:
        app.wait_window()
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 20000)
        drive("waittext", TITLE, DETECTION, DETECTED, 5000)
        time.sleep(0.5)
        main = layout(TITLE)
        screenshot("dpi-%d-main.png" % dpi)
        drive("click", TITLE, START)
        drive("wait", PROGRESS, 10000)
        deadline = time.time() + 30
        while time.time() < deadline and "rx block 3" not in sim.log():
            time.sleep(0.05)
        check("rx block 3" in sim.log(), "no download at %d DPI" % dpi)
        time.sleep(0.5)
        progress = layout(PROGRESS)
        screenshot("dpi-%d-progress.png" % dpi)
        # The reader is gone: the run ends and its outcome is shown.
        sim.stop()
        drive("gone", PROGRESS, 120000)
        drive("box", CAPTION, 30000)
        time.sleep(0.3)
        screenshot("dpi-%d-result.png" % dpi)
        drive("answer", CAPTION, 5000)
        drive("waitenabled", TITLE, 0, 1, 10000)
    lines = [l for l in monitor.wait(0.1).out.splitlines() if l.startswith("Fenetre a ")]
    # The main window at start and once the reader is found, the progress window at start.
    check(len(lines) >= 3 and all(l == "Fenetre a %d ppp : tous les textes tiennent" % dpi
                                  for l in lines), "texts at %d DPI: %s" % (dpi, lines))
    return main, progress


def case_screens_at_every_dpi():
    shown = {}
    try:
        for dpi in DPIS:
            shown[dpi] = screens_at(dpi)
    finally:
        set_dpi(None)
    for dpi in DPIS:
        check_layout("main window", dpi, shown[dpi][0], shown[96][0])
        check_layout("progress window", dpi, shown[dpi][1], shown[96][1])


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
