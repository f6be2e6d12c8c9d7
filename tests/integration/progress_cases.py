"""The progress window under Wine and Xvfb: Orvane.exe runs a whole update on the sample
package against readersim while the probe watches the window, tries Enter, Escape and a
close request, and answers the outcome's box. A screenshot is kept.

Each case is one CTest test: `progress_cases.py NAME`, with a COM number of its own.
"""
import os
import sys

from harness import (BIN_DIR, Reader, check, ensure_prefix, run_case, screenshot, start_windows,
                     wait_for)

SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples",
                      "package")
TOOLS_DIR = os.environ["OV_TOOLS_DIR"]
ACTIVATING = "Activation des modules chargés"


def states(probe_out):
    rows = []
    for line in probe_out.splitlines():
        parts = line.split("\t")
        if parts[0] == "state" and len(parts) == 5:
            rows.append(tuple(parts[1:]))
    return rows


def case_short_run_in_the_window():
    ensure_prefix()
    # A slow activation holds the window at its end long enough to look at it.
    with Reader(75, "--model", "M30", "--options", "00ff0003010000000000000000",
                "--apps", "SANTE,TIERSPAYANT", "--activate", "late:4000") as sim:
        updater = start_windows(os.path.join(BIN_DIR, "Orvane.exe"), "COM75", cwd=SAMPLE)
        probe = start_windows(os.path.join(TOOLS_DIR, "progressprobe.exe"), "--interrupt")
        shot = None
        if wait_for(lambda: ACTIVATING in probe.output_so_far(), 180):
            shot = screenshot("progress-window.png")
        watched = probe.wait(120)
        ran = updater.wait(60)
        summary = sim.summary()

    out = watched.out
    check(ran.code == 0, "Orvane.exe: %r\nprobe: %r" % (ran, watched))
    check("caption\tChargement" in out and "closebox\tno" in out, watched)
    children = [l.split("\t") for l in out.splitlines() if l.startswith("child\t")]
    check(sorted(c[1] for c in children) == ["1001", "1002", "1005", "1018", "65535"], children)
    check(["child", "65535", "Static", "Progression totale"] in children, children)
    check(sum(c[2] == "msctls_progress32" for c in children) == 2, children)
    check("interrupted\tno" in out, watched)
    rows = states(out)
    steps = [r[0] for r in rows]
    files = [r[1] for r in rows]
    check("Terminal Falko. Collecte des informations" in steps and "Diffusion en cours..." in steps,
          steps)
    check("Module en cours: KAVRON MANAGER" in files and "Mise à jour du chargeur" in files and
          "Redémarrage du lecteur..." in files, files)
    # At the end both bars are full: every file counted, the last one sent whole.
    at_end = [r for r in rows if r[0] == ACTIVATING]
    check(at_end and at_end[-1][2] == "11/11" and at_end[-1][3] == "100", at_end)
    check("closed" in out and "box\tLa mise à jour s'est effectuée avec succès" in out, watched)
    boxes = [l for l in out.splitlines() if l.startswith("box\t")]
    check(len(boxes) == 1, watched)  # the run itself showed none
    check(summary["activations"] == 2 and summary["restarts"] == 2, summary)
    check(shot is not None and os.path.getsize(shot) > 0, "no screenshot")
    print("screenshot: " + shot)


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
