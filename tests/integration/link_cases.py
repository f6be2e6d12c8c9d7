"""Integration cases of the terminal link: OrvaneCli.exe under Wine against readersim.

Each case is one CTest test: `link_cases.py NAME`, with a COM number of its own.
"""
import os
import re
import shutil
import sys

from harness import (BIN_DIR, EVENT_SOURCE_KEY, SAMPLE, WINEPREFIX, Reader, check, cli, event_source,
                     percentages, run_case, run_windows, sample_file, scratch, wine_reg, winpath)

BOX_122 = "Un élément logiciel est absent du lecteur."
NO_LIBRARY = "Impossible de charger la dll Tessock"


def case_find_at_38400():
    with Reader(11, "--baud", "38400") as sim:
        run = cli("find", "Port COM11 (COM11)")
        check(run.code == 0, run)
        check(run.out == "COM11 38400\n", run)
        bauds = sim.summary()["probe_bauds"]
        order = [b for i, b in enumerate(bauds) if i == 0 or bauds[i - 1] != b]
        check(order == [9600, 19200, 38400], "probe rates seen: %s" % bauds)
        # Tessock.dll sits beside the program: the USB lookup finds no device of the
        # maker on this port and fails quietly, without the missing-library message.
        check(NO_LIBRARY not in run.err, run)


def case_find_com_in_lower_case():
    # Windows' port names ignore case: com61 is COM61, searched and written so.
    with Reader(61):
        for text in ("com61", "Port com61 (com61)"):
            run = cli("find", text, "-v")
            check(run.code == 0 and run.out == "COM61 9600\n", run)
            check("Terminal detecte sur le port : COM61" in run.err, run)
            check("com61" not in run.err, run)


def case_loader_absent():
    with Reader(12, "--loader", "absent"):
        run = cli("find", "COM12")
        check(run.code == 1, run)
        check(run.out == "", run)
        # One box per baud rate: the search goes on after each.
        check(run.err.count(BOX_122) == 5, run)


def case_found_at_each_rate():
    for number, baud in zip(range(40, 45), (9600, 19200, 38400, 57600, 115200)):
        with Reader(number, "--baud", str(baud)):
            run = cli("find", "COM%d" % number)
            check(run.code == 0 and run.out == "COM%d %d\n" % (number, baud), run)


def case_no_reader():
    with Reader(13, "--loader", "silent") as sim:
        run = cli("find", "COM13", "-v")
        check(run.code == 1, run)
        # Three 1 s lookup waits, then three 0.5 s read time-outs at each of five rates.
        check(run.seconds >= 10, run)
        check("Port correctement ferme" in run.err, run)
        # The silent wait is said once, and its end says why on one line.
        check(run.err.count("looking for the reader on COM13...") == 1, run)
        check(run.err.splitlines()[-1] ==
              "find: COM13: no reader's loader answered at any rate (9600 to 115200 baud)", run)
        check(sim.summary()["probes_b"] == 0, sim.summary())
        check(len(set(sim.summary()["probe_bauds"])) == 5, sim.summary())


def case_describe():
    options = "0102030405060708090a0b0c0d"
    with Reader(14, "--model", "M40", "--options", options):
        run = cli("describe", "COM14")
        check(run.code == 0, run)
        lines = run.out.splitlines()
        check(len(lines) == 2 and lines[0] == "M40", run)
        check(len(lines[1]) == 194, run)
        check(lines[1][27 * 2:40 * 2] == options, run)


def case_describe_bad_crc():
    with Reader(15, "--desc", "badcrc"):
        run = cli("-v", "describe", "COM15")
        check(run.code == 1 and run.out == "", run)
        check("CRC incoherent" in run.err, run)


def case_apps():
    with Reader(16, "--apps", "SANTE,VITALE2,PHARMA"):
        run = cli("apps", "COM16")
        check(run.code == 0, run)
        check(run.out.splitlines() == ["SANTE", "VITALE2", "PHARMA"], run)


def case_send_thousand_bytes():
    with Reader(17) as sim:
        path = sample_file(sim.dir, "3648abc.sgn", 1000)
        run = cli("send", "COM17", winpath(path), "MODULE1")
        check(run.code == 0, run)
        # A pipe, not a console: the file is one line, its bar never drawn.
        check(percentages(run.err) == [] and "\r" not in run.err, run)
        check(re.search(r"^download: 1000 bytes in [0-9.]+ s, CPU [0-9.]+ s, result 0$", run.err,
                        re.M), run)
        check(sim.received("3648ABC.SGN") == open(path, "rb").read(), "file differs")
        summary = sim.summary()
        check(summary["files"][0]["blocks"] == 9, summary)
        check(summary["violations"] == 0, summary)


def case_rejected_twice_then_taken():
    with Reader(18, "--reject-block", "3:2") as sim:
        path = sample_file(sim.dir, "data.bin", 1000)
        run = cli("-v", "send", "COM18", winpath(path))
        check(run.code == 0, run)
        check(run.err.count("Acquittement KO, reemission de la trame") == 2, run)
        check(sim.received("DATA.BIN") == open(path, "rb").read(), "file differs")
        check(sim.summary()["resends"] == 2, sim.summary())


def case_reject_for_ever_ends():
    with Reader(19, "--reject-block", "1:1000") as sim:
        path = sample_file(sim.dir, "data.bin", 500)
        run = cli("send", "COM19", winpath(path))
        check(run.code == 13, run)
        check(sim.summary()["resends"] == 50, sim.summary())


def case_stop_then_silence():
    with Reader(20, "--stop-at", "2") as sim:
        path = sample_file(sim.dir, "data.bin", 1000)
        run = cli("send", "COM20", winpath(path))
        # The empty read after the stop replaces the stop's code.
        check(run.code == 12, run)


def case_unknown_start_status():
    with Reader(21, "--start-status", "41") as sim:
        path = sample_file(sim.dir, "data.bin", 1000)
        run = cli("send", "COM21", winpath(path))
        check(run.code == 10, run)
        check(sim.summary()["blocks"] == 0, sim.summary())


def case_silent_authorisation_grants():
    with Reader(22, "--auth", "silent") as sim:
        path = sample_file(sim.dir, "data.bin", 300)
        run = cli("send", "COM22", winpath(path))
        check(run.code == 0, run)
        check(sim.received("DATA.BIN") == open(path, "rb").read(), "file differs")


def case_refused_authorisation():
    with Reader(23, "--auth", "refuse") as sim:
        path = sample_file(sim.dir, "data.bin", 300)
        run = cli("-v", "send", "COM23", winpath(path))
        check(run.code == 21, run)
        check("Trame recue, autorisation refusee" in run.err, run)
        check(sim.summary()["blocks"] == 0, sim.summary())


def case_oversized_file_not_announced():
    with Reader(24) as sim:
        path = sample_file(sim.dir, "big.bin", 1000000)
        run = cli("send", "COM24", winpath(path))
        check(run.code == 20, run)
        check(sim.summary()["commands"].get("2", 0) == 0, sim.summary())


def case_activate_and_restart():
    with Reader(25, "--activate", "late:7000", "--restart-silence", "1000"):
        run = cli("-v", "activate", "COM25")
        check(run.code == 0, run)
        run = cli("-v", "restart", "COM25")
        check(run.code == 0, run)
        check("Fin du chargement" in run.err, run)


def case_bad_arguments():
    # Each refusal names what was wrong on its first line, then the command's own usage
    # (update has three forms).
    for args, reason, usage in (
            (["fnd", "COM5"], 'unknown command "fnd"; did you mean "find"?', "find PORT"),
            (["bogus", "COM5"], 'unknown command "bogus" (OrvaneCli help lists them)',
             "COMMAND [ARGS]"),
            (["find"], "find: missing PORT", "find PORT"),
            (["send", "COM5"], "send: missing FILE", "send PORT FILE [MOD]"),
            (["apps", "COM5", "extra", "-v"], 'apps: unexpected argument "extra"', "apps PORT"),
            (["describe", "--report", "r.json", "COM5"],
             'describe: "--report" is not an option of describe', "describe PORT"),
            (["update", "COM5", "--report"], "update: --report without its FILE",
             "update [--report FILE] [--record NAME] [--verify] PORT|--auto"),
            (["update", "--auto", "COM5"], "update: name ports, --auto or --all, only one of them",
             "update [--report FILE] [--record NAME] [--verify] PORT|--auto"),
            (["check", "--record", "x", "COM5"], "check: --record is update's alone",
             "check [--report FILE] PORT"),
            (["check", "COM5", "--package"], "--package without its DIR", "COMMAND [ARGS]"),
            (["--package", "a", "check", "--package", "b", "COM5"], "--package given twice",
             "COMMAND [ARGS]")):
        run = cli(*args)
        lines = run.err.splitlines()
        check(run.code == 2 and run.out == "" and lines[0] == "OrvaneCli: " + reason and
              lines[1] == "usage: OrvaneCli [-v] [--package DIR] " + usage and len(lines) <= 4,
              run)
    # A name no ANSI code page holds whole is refused at the door, never fitted to another
    # folder's (C:\\Users\\Lukasz for C:\\Users\\Łukasz); so is a report path whole in such a
    # current folder.
    outside = "\u0141\u0101\u0448\u4e00"
    folder = os.path.join(scratch("ov-cp-"), outside)
    os.mkdir(folder)
    for args, named in ((["--package", "C:\\" + outside, "check", "COM5"], "\"C:\\%s\"" % outside),
                        (["update", "--report", "r.json", "COM5"], winpath(folder) + "\\r.json")):
        run = cli(*args, cwd=folder)
        check(run.code == 2 and run.out == "" and named in run.err and
              "cannot hold: it would name another file" in run.err, run)
        check(os.listdir(folder) == [], os.listdir(folder))
    # Help, whole or one command's, is no error.
    for args, shown, left_out in ((["--help"], "send PORT FILE", None),
                                  (["help"], "send PORT FILE", None),
                                  (["find", "-h"], "find PORT", "send PORT"),
                                  (["help", "send"], "send PORT FILE", "find PORT")):
        run = cli(*args)
        check(run.code == 0 and shown in run.out and run.err == "", run)
        check(left_out is None or left_out not in run.out, run)


def case_register_only_from_program_files():
    # The build's copy lies outside Program Files: refused, nothing written. Copied there, it
    # is refused still under Wine, whose files are the Wine user's, not SYSTEM's or
    # Administrators'; unregister finds no source to remove.
    wine_reg("delete", EVENT_SOURCE_KEY, "/f")
    run = cli("register")
    check(run.code == 2 and "is not inside C:\\Program Files" in run.err, run)
    check(event_source() is None, event_source())
    installed = os.path.join(WINEPREFIX, "drive_c", "Program Files", "OrvaneRegisterCase")
    os.makedirs(installed, exist_ok=True)
    try:
        shutil.copy(os.path.join(BIN_DIR, "OrvaneCli.exe"), installed)
        program = "C:\\Program Files\\OrvaneRegisterCase\\OrvaneCli.exe"
        run = run_windows(program, "register")
        check(run.code == 2 and "its owner is not a trusted owner" in run.err, run)
        check(event_source() is None, event_source())
        run = run_windows(program, "unregister")
        check(run.code == 0 and "there was no event source Orvane" in run.err, run)
    finally:
        wine_reg("delete", EVENT_SOURCE_KEY, "/f")
        shutil.rmtree(installed, ignore_errors=True)


def case_not_a_port():
    # Refused before anything is looked up or opened: "E:" would open the volume.
    for args in (["find", "Lecteur (COM5) branche en USB"], ["describe", "E:"],
                 ["check", "NUL"], ["update", "COM5", "\\\\.\\pipe\\lecteur"],
                 ["usb", "COM12345"]):
        run = cli(*args)
        check(run.code == 2 and run.out == "", run)
        check(run.err.count("\n") == 1 and "is not a COM port name" in run.err, run)


def case_failures_say_why():
    # No reader, or outside a package, or an unwritable report: one line names the port (or
    # the folder) and the cause; a reader on the port hears nothing.
    empty = scratch("ov-empty-")
    missing = winpath(os.path.join(empty, "absent", "r.json"))
    absent = winpath(os.path.join(empty, "absent"))
    outside = "no update package in %s: no catalogue*.ini" % winpath(empty)
    with Reader(26) as sim:
        for args, cwd, code, line in (
                (["find", "COM67"], None, 1,
                 "find: COM67: the port cannot be opened: there is no such port"),
                (["usb", "COM68"], None, 1,
                 "usb: COM68: the port library found no device for this port"),
                (["check", "COM26"], empty, 32, "check: " + outside),
                (["update", "COM26"], empty, 32, "update: " + outside),
                (["update", "--all"], empty, 32, "update: " + outside),
                # --package names the folder instead of the current one.
                (["--package", winpath(empty), "check", "COM26"], SAMPLE, 32, "check: " + outside),
                (["check", "COM26", "--package", absent], empty, 2,
                 'check: the package folder "%s" cannot be used: no such folder' % absent),
                (["update", "--package", absent, "--all"], empty, 2,
                 'update: the package folder "%s" cannot be used: no such folder' % absent),
                (["update", "--report", missing, "COM26"], SAMPLE, 2,
                 "update: the report cannot be written to %s: its folder does not exist"
                 % missing)):
            run = cli(*args, cwd=cwd)
            lines = [l for l in run.err.splitlines() if not l.startswith("looking for")]
            check(run.code == code and lines == [line], run)
            # At once, not after an update (the reader hearing nothing is checked below):
            # with a dozen cases side by side, Wine alone may take seconds to start a program.
            check(run.seconds < 15, "%s took %.1f s" % (args, run.seconds))
        check("rx " not in sim.log(), "the reader heard: " + sim.log()[:300])
    check(os.listdir(empty) == [], os.listdir(empty))


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
