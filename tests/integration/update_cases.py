"""Integration cases of the whole update: `OrvaneCli update` under Wine, in the sample
package directory, against readersim, with the reader's restart for real (a 30 s wait).

Each case is one CTest test: `update_cases.py NAME`, with a COM number of its own.
"""
import os
import re
import sys

from harness import (APPS, GOOD_OPTIONS, M30_FILES, SAMPLE, Reader, check, cli, journals,
                     new_journal, run_case)

SUCCESS = "La mise à jour s'est effectuée avec succès"
UNREACHABLE = "Erreur 108:\nImpossible de communiquer avec le lecteur."


def update(number, *options, timeout=240):
    with Reader(number, "--model", "M30", "--options", GOOD_OPTIONS, *options) as sim:
        run = cli("update", "COM%d" % number, cwd=SAMPLE, timeout=timeout)
        return run, sim


def stamped(err, what):
    """The run's lines of one kind, as (seconds, text)."""
    return [(float(s), t) for s, t in re.findall(r"\[ *([0-9.]+) s\] %s: (.*)" % what, err)]


def case_whole_update_with_loader_restart():
    before = journals()
    run, sim = update(70, "--apps", APPS)
    summary = sim.summary()
    check(run.code == 0 and SUCCESS in run.out, run)
    # Every file byte for byte, in the load list's order, then the last one announced again.
    names = [f["name"] for f in summary["files"]]
    check(names == M30_FILES + ["LISEZMOI.TXT"], names)
    for name in M30_FILES:
        with open(os.path.join(SAMPLE, name), "rb") as f:
            check(sim.received(name) == f.read(), name + " differs")
    check(summary["files"][-1]["received"] == 0, summary["files"][-1])
    check(summary["activations"] == 2 and summary["restarts"] == 2, summary)
    check(summary["violations"] == 0, summary["violation_list"])
    check(summary["probes_a"] >= 2, summary)  # found at the start and after the restart
    files = stamped(run.err, "file")
    texts = [t for _, t in files]
    check(texts[:4] == ["Mise à jour du chargeur", "Redémarrage... Ne pas débrancher votre terminal",
                        "Redémarrage du lecteur...", "Recherche du terminal..."], texts)
    wait = files[3][0] - files[2][0]
    print("restart wait: %.2f s" % wait)
    check(wait >= 29.99, "the restart wait lasted %.2f s" % wait)
    steps = [t for _, t in stamped(run.err, "step")]
    check(steps[-2:] == ["Activation des modules chargés", "Fin du chargement"], steps)
    check("11/11 files" in run.err, run)
    # The run's journal: its lines stamped, the search among them, the result last.
    lines = new_journal(before, "COM70")
    check(any(l[13:] == "Terminal detecte sur le port : COM70" for l in lines), lines[:20])
    check(lines[-1][13:] == "Resultat de la mise a jour : 0 (message 107)", lines[-3:])
    check(all(re.match(r"\d\d:\d\d:\d\d\.\d\d\d ", l) for l in lines), lines[:5])


def case_no_reader():
    run = cli("update", "COM71", cwd=SAMPLE)
    check(run.code == 21 and UNREACHABLE in run.out, run)
    check("step: Terminal non détecté" in run.err, run)


def case_constraints_refused():
    run, sim = update(72, "--apps", "TIERSPAYANT,ANCIENSANTE")
    check(run.code == 4, run)
    check("Erreur 104:\nLa configuration logicielle du terminal" in run.out, run)
    check("step: Erreur critique lors du chargement" in run.err, run)
    check(sim.summary()["files"] == [], "nothing may be sent")


def case_reader_silent_after_restart():
    run, sim = update(73, "--apps", APPS, "--restart-silence", "never")
    summary = sim.summary()
    check(run.code == 21 and UNREACHABLE in run.out, run)
    boxes = [t for _, t in stamped(run.err, "box")]
    check(len(boxes) == 2 and boxes[0] == "Impossible d'ouvrir le port." and
          "Impossible de communiquer avec le lecteur." in run.err, run)
    # Only the loader's own files went out before the reader was lost.
    check([f["name"] for f in summary["files"]] == ["3648LDR.SGN", "3648LDR.LDF"], summary)
    check(summary["activations"] == 1 and summary["restarts"] == 1, summary)


ACTIVATE = 5


def commands_received(sim):
    """The command codes the reader received, in order."""
    return [int(code) for code in re.findall(r"rx command (\d+) ", sim.log())]


def case_loader_activation_refused():
    run, sim = update(74, "--apps", APPS, "--activate", "ko-first")
    summary = sim.summary()
    check(run.code == 19 and "Erreur 142:" in run.out, run)
    # The reader's refusal of its new loader is the last thing it hears: no restart, no file.
    commands = commands_received(sim)
    check(commands and commands[-1] == ACTIVATE, commands)
    check(summary["restarts"] == 0 and summary["activations"] == 1, summary)
    check([f["name"] for f in summary["files"]] == ["3648LDR.SGN", "3648LDR.LDF"], summary)


def case_application_list_without_end():
    run, sim = update(75, "--apps-endless", timeout=90)
    check(run.code == 3 and "Erreur 119:" in run.out, run)
    check(run.seconds < 60, "the run took %.1f s" % run.seconds)
    check(sim.summary()["files"] == [], "nothing may be sent")


def case_reader_unplugged_during_a_download():
    run, sim = update(76, "--apps", APPS, "--unplug-at", "10", timeout=120)
    check(run.code == 23 and "Erreur 144:\nLe lecteur a été débranché" in run.out, run)
    check(run.seconds < 60, "the run took %.1f s" % run.seconds)
    check("cable pulled" in sim.log(), sim.log()[-500:])


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
