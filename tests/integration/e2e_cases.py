"""End to end: Orvane.exe under Wine and Xvfb, started in a package directory, against
readersim on COM5 where the reader's USB serial device is registered. The main window
selects the reader by itself; "Démarrer" is pressed from outside; progressprobe watches the
progress window, reads and answers every message box; the reader's summary says what it
received. A screenshot of each case is kept in build/win/screenshots/.

Each case is one CTest test: `e2e_cases.py NAME`.
"""
import os
import shutil
import sys
import time

from window_cases import (PORTS, READER, READER_ENTRY, START, TITLE, Device, Updater, drive,
                          screenshot)
from harness import (APPS, GOOD_OPTIONS, M30_FILES, SAMPLE, Reader, check, journals,
                     new_journal, run_case, scratch, start_windows)

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


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
