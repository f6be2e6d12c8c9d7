"""Integration cases of the package check: `OrvaneCli check` under Wine, in the sample
package directory, against readersim.

Each case is one CTest test: `package_cases.py NAME`, with a COM number of its own.
"""
import contextlib
import hashlib
import json
import os
import shutil
import sys

from harness import M30_LOAD_LIST, Device, Reader, check, cli, run_case, scratch, winpath

SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples",
                      "package")
# The sample reader: option bytes 27 to 39 that the M30 catalogue accepts.
GOOD_OPTIONS = "00ff0003010000000000000000"
APPS = "SANTE,TIERSPAYANT,LECTEUR"


def load_list(out):
    return [tuple(line.split("\t")) for line in out.splitlines() if "\t" in line]


def check_in(directory, number, *options):
    with Reader(number, *options) as sim:
        run = cli("check", "COM%d" % number, cwd=directory)
        return run, sim.summary()


def case_m30_allowed():
    run, summary = check_in(SAMPLE, 60, "--model", "M30", "--options", GOOD_OPTIONS,
                            "--apps", APPS)
    check(run.code == 0, run)
    check("model: M30 " in run.out, run)
    check("catalogue: OK (Catalogue .\\catalogueM30.ini enregistre)" in run.out, run)
    check("constraints: OK" in run.out, run)
    check(load_list(run.out) == M30_LOAD_LIST, run)
    check("verdict: the update would be allowed" in run.out, run)
    # A check sends nothing to the reader.
    check(summary["files"] == [] and summary["activations"] == 0, summary)


def case_m30_options_refused():
    run, _ = check_in(SAMPLE, 69, "--model", "M30", "--options", "0" * 26, "--apps", APPS)
    check(run.code == 20, run)
    check("catalogue: refused (Options generales non conformes (Presence))" in run.out, run)
    check(load_list(run.out) == [], run)


def case_constraints_refused():
    for model, options, apps, refusal in (
            ("M30", GOOD_OPTIONS, "TIERSPAYANT,ANCIENSANTE", "EXCLUSION entry ANCIEN* found"),
            ("M31", "00010000000000000000000000", "SANTE", "PRESENCE entry TIERS* not found")):
        run, _ = check_in(SAMPLE, 62, "--model", model, "--options", options, "--apps", apps)
        check(run.code == 4 and "constraints: refused (%s)" % refusal in run.out, run)


def case_unknown_model_and_missing_catalogue():
    run, _ = check_in(SAMPLE, 63, "--model", "M99")
    check(run.code == 20 and "model: unknown (M99)" in run.out, run)
    run, _ = check_in(SAMPLE, 63, "--model", "M44")
    check(run.code == 20, run)
    check("Impossible de trouver le fichier .\\catalogueM44.ini" in run.out, run)


def case_description_and_applications_unreadable():
    run, _ = check_in(SAMPLE, 64, "--desc", "badcrc")
    check(run.code == 2 and "description: refused (CRC incoherent)" in run.out, run)
    run, _ = check_in(SAMPLE, 64, "--model", "M31", "--options", "00010000000000000000000000")
    check(run.code == 4, run)  # no application: no constraint can be met
    check("the reader reports no application" in run.out, run)


def case_missing_file_and_empty_list():
    work = scratch("ov-pkg-")
    for name in os.listdir(SAMPLE):
        shutil.copy(os.path.join(SAMPLE, name), work)
    os.remove(os.path.join(work, "TABLES.DDF"))
    run, _ = check_in(work, 65, "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS)
    check(run.code == 5 and "file TABLES.DDF: missing" in run.out, run)
    with open(os.path.join(work, "catalogueM31.ini"), "w") as f:
        f.write("[GENERAL OPTIONS]\r\nPresence=0\r\n")
    run, _ = check_in(work, 65, "--model", "M31", "--apps", APPS)
    check(run.code == 5 and "load list: empty" in run.out, run)


def case_load_list_paths_refused():
    """A catalogue entry that is a path, after a valid file: `check` and `update` both end
    with 25 before any listed file is opened, and the reader only gave its description."""
    work = scratch("ov-pkg-")
    for name in os.listdir(SAMPLE):
        shutil.copy(os.path.join(SAMPLE, name), work)
    with open(os.path.join(SAMPLE, "catalogueM30.ini"), "rb") as f:
        catalogue = f.read()
    section = b"[FICHIER A CHARGER]\r\nK30APP.SGN\r\n"
    check(section in catalogue, "the sample catalogue's file section")
    for hostile in ["\\\\ov-nohost\\share\\x.bin", "..\\..\\x.bin", "C:\\windows\\win.ini"]:
        with open(os.path.join(work, "catalogueM30.ini"), "wb") as f:
            f.write(catalogue.replace(section, section + hostile.encode() + b"\r\n"))
        for command, says in (("check", "file %s: not a file name of the package" % hostile),
                              ("update", "Erreur 146:\nLe paquet de mise à jour contient un nom "
                                         "de fichier invalide.")):
            with Reader(54, "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS) as sim:
                run = cli(command, "COM54", cwd=work)
                summary = sim.summary()
            check(run.code == 25 and says in run.out, (hostile, run))
            check(summary["files"] == [] and set(summary["commands"]) == {"7"},
                  (hostile, command, summary))


def case_no_reader():
    run = cli("check", "COM66", cwd=SAMPLE)
    check(run.code == 30 and "reader: not found" in run.out, run)
    check(run.err.splitlines()[-1] ==
          "check: COM66: the port cannot be opened: there is no such port", run)


def case_all_readers_checked_before_a_deployment():
    """Three registered readers read side by side, one of a model the package has no
    catalogue for: a verdict each, in port order, and nothing but the description and the
    application list asked of any."""
    report = os.path.join(scratch("ov-report-"), "r.json")
    readers = [(140, "M30"), (141, "M30"), (142, "M44")]
    with contextlib.ExitStack() as stack:
        sims = []
        for number, model in readers:
            stack.enter_context(Device("USB\\VID_079B&PID_0028\\5&140&0&%d" % number,
                                       "COM%d" % number, "DORAN Kavron USB"))
            sims.append(stack.enter_context(Reader(number, "--model", model, "--options",
                                                   GOOD_OPTIONS, "--apps", APPS)))
        run = cli("check", "--all", "--report", winpath(report), cwd=SAMPLE, timeout=120)
        summaries = [sim.summary() for sim in sims]
    check(run.code == 20, run)
    lines = [line.split("\t") for line in run.out.splitlines()]
    check([l[:3] for l in lines] == [["COM140", "0", "M30"], ["COM141", "0", "M30"],
                                      ["COM142", "20", "M44"]], run)
    check(lines[0][3] == "would be updated: %d files" % len(M30_LOAD_LIST), lines)
    check("catalogueM44.ini" in lines[2][3] and GOOD_OPTIONS in lines[2][3], lines)
    for summary in summaries:
        check(summary["files"] == [] and set(summary["commands"]) <= {"7", "1"}, summary)
    with open(report, encoding="utf-8") as f:
        document = json.load(f)
    check(document["program"] == "OrvaneCli" and document["result"] == 20 and
          document["package"] == winpath(os.path.abspath(SAMPLE)), document)
    runs = document["runs"]
    check([(r["port"], r["verdict"], r["model"]) for r in runs] ==
          [("COM140", 0, "M30"), ("COM141", 0, "M30"), ("COM142", 20, "M44")], runs)
    check(all(r["options"] == GOOD_OPTIONS for r in runs), runs)
    check(runs[0]["applications"] == APPS.split(",") and runs[2]["applications"] is None, runs)
    check([(f["name"], f["module"]) for f in runs[1]["files"]] == M30_LOAD_LIST and
          runs[2]["files"] == [], runs)
    for entry in runs[0]["files"]:
        with open(os.path.join(SAMPLE, entry["name"]), "rb") as f:
            content = f.read()
        check(entry["bytes"] == len(content) and
              entry["sha256"] == hashlib.sha256(content).hexdigest(), entry)

    # Named ports: a reader its applications forbid, a port nobody answers on and a reader
    # whose description is damaged; then the first alone, its steps said as ever and its
    # report written.
    forbidden = ("--model", "M30", "--options", GOOD_OPTIONS, "--apps", "TIERSPAYANT,ANCIENSANTE")
    with Reader(143, *forbidden), Reader(145, "--desc", "badcrc"):
        run = cli("check", "COM143", "COM144", "COM145", cwd=SAMPLE)
    lines = [line.split("\t") for line in run.out.splitlines()]
    check(run.code == 4 and [l[:3] for l in lines] == [["COM143", "4", "M30"],
                                                        ["COM144", "30", ""],
                                                        ["COM145", "2", ""]], run)
    check(lines[0][3] == "constraints refused (EXCLUSION entry ANCIEN* found); "
                         "the reader has: TIERSPAYANT, ANCIENSANTE", lines)
    check(lines[1][3] == "the port cannot be opened: there is no such port" and
          lines[2][3] == "the description could not be read (CRC incoherent)", lines)
    with Reader(143, *forbidden):
        run = cli("check", "COM143", "--report", winpath(report), cwd=SAMPLE)
    check(run.code == 4 and "constraints: refused (EXCLUSION entry ANCIEN* found)" in run.out and
          run.out.endswith("verdict: the update would end with result 4\n"), run)
    with open(report, encoding="utf-8") as f:
        document = json.load(f)
    check(document["result"] == 4 and [(r["port"], r["verdict"], r["applications"], r["files"])
                                       for r in document["runs"]] ==
          [("COM143", 4, ["TIERSPAYANT", "ANCIENSANTE"], [])], document)


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
