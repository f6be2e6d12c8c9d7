"""Integration cases of the whole update: `OrvaneCli update` under Wine, in the sample
package directory, against readersim, with the reader's restart for real (a 30 s wait).

Each case is one CTest test: `update_cases.py NAME`, with a COM number of its own.
"""
import contextlib
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

from harness import (APPS, BIN_DIR, EVENT_SOURCE_KEY, GOOD_OPTIONS, M30_FILES, M30_LOAD_LIST,
                     SAMPLE, TOOLS_DIR, Device, Reader, check, cli, event_source, journals,
                     new_journal, run_case, run_windows, scratch, start_windows, wine_reg,
                     winpath)

SUCCESS = "La mise à jour s'est effectuée avec succès"
UNREACHABLE = "Erreur 108:\nImpossible de communiquer avec le lecteur."


# Wine 8 logs each ReportEventW: its type and id on advapi's fixme line, then each text on
# the eventlog channel, at a level that follows the type.
EVENT_LOG = {"WINEDEBUG": "-all,+eventlog,fixme+advapi"}
EVENT_LEVELS = {0x4: "trace", 0x2: "warn", 0x1: "err"}


def update(number, *options, timeout=240):
    with Reader(number, "--model", "M30", "--options", GOOD_OPTIONS, *options) as sim:
        run = cli("update", "COM%d" % number, cwd=SAMPLE, timeout=timeout, env=EVENT_LOG)
        return run, sim


def wine_text(debug):
    """A text as Wine's debug line escapes it, as it was."""
    plain = {"\\": "\\", "n": "\n", "r": "\r", "t": "\t", '"': '"'}
    return re.sub(r'\\(\\|n|r|t|"|[0-9a-f]{4})',
                  lambda m: plain.get(m.group(1)) or chr(int(m.group(1), 16)), debug)


def check_event(run, kind, result, port, model, journal):
    """The run wrote one event, of `kind` and id 1000 + `result`: its port, model, result, the
    operator's message (what the console printed) and the path of its journal, named
    `journal` (None: no journal)."""
    calls = re.findall(r"fixme:advapi:ReportEventW \(\w+,0x(\w{4}),0x\w{4},0x(\w{8}),", run.err)
    check(calls == [("%04x" % kind, "%08x" % (1000 + result))], (calls, run.err[-2000:]))
    texts = [wine_text(t) for t in
             re.findall(r'%s:eventlog:ReportEventW L"(.*)"' % EVENT_LEVELS[kind], run.err)]
    check(len(texts) == 5 and texts[:3] == [port, model, str(result)], texts)
    check(texts[3] == run.out.rstrip("\n"), (texts[3], run.out))
    if journal:
        check(texts[4].endswith("\\AppData\\Local\\Orvane\\Journal\\" + journal), texts)


def journal_name(before, port):
    """The name of the one journal a run on `port` made since `before`."""
    made = [os.path.basename(p) for p in journals() if p not in before and p.endswith("-%s.log" % port)]
    check(len(made) == 1, "one new journal expected: %r" % made)
    return made[0]


def stamped(err, what):
    """The run's lines of one kind, as (seconds, text)."""
    return [(float(s), t) for s, t in re.findall(r"\[ *([0-9.]+) s\] %s: (.*)" % what, err)]


def case_whole_update_with_loader_restart():
    before = journals()
    # Started from another folder, the package named: the report's relative path still
    # names a file of the folder it was started from.
    elsewhere = scratch("ov-report-")
    report = os.path.join(elsewhere, "r.json")
    with Reader(70, "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS) as sim:
        run = cli("--package", winpath(SAMPLE), "update", "COM70", "--report", "r.json",
                  cwd=elsewhere, timeout=240, env=EVENT_LOG)
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
    check_event(run, 0x4, 0, "COM70", "M30", journal_name(before, "COM70"))
    check(any(l[13:] == "Terminal detecte sur le port : COM70" for l in lines), lines[:20])
    check(lines[-1][13:] == "Resultat de la mise a jour : 0 (message 107)", lines[-3:])
    # Read on its own, it names its program, the package named (not where it started) and
    # the port first.
    check([l[13:] for l in lines[:3]] == ["Version du programme : " + os.environ["OV_VERSION"],
                                          "Dossier du paquet : " + winpath(SAMPLE), "Port : COM70"],
          lines[:3])
    check(all(re.match(r"\d\d:\d\d:\d\d\.\d\d\d ", l) for l in lines), lines[:5])
    # Each file named with its module as `check` lists it and the journal announces it; the
    # report says the same.
    announced = [l[13:] for l in lines if l[13:].startswith("Autorisation ")]
    check(announced == ["Autorisation %s (%s)" % f for f in M30_LOAD_LIST], announced)
    sizes = [os.path.getsize(os.path.join(SAMPLE, name)) for name in M30_FILES]
    shown = re.findall(r"\] (file \d+/\d+: .*)", run.err)
    check(shown == ["file %d/11: %s (%s), %d bytes" % (i + 1, name, module, size)
                    for i, ((name, module), size) in enumerate(zip(M30_LOAD_LIST, sizes))], shown)
    with open(report, encoding="utf-8") as f:
        document = json.load(f)
    check(document["package"] == winpath(SAMPLE), document["package"])
    files = document["runs"][0]["files"]
    check([(f["name"], f["module"]) for f in files] == M30_LOAD_LIST, files)
    # Standard error is a pipe, as in a deployment tool's log: the restart is one line, and no
    # bar or countdown is redrawn.
    check(run.err.count("reader restarting: waiting 30 s") == 1 and "\r" not in run.err
          and " of 30 s" not in run.err and " [#" not in run.err, run.err[-300:])


def case_no_reader():
    before = journals()
    # The event is written without a source, and the run makes none.
    wine_reg("delete", EVENT_SOURCE_KEY, "/f")
    run = cli("update", "COM71", cwd=SAMPLE, env=EVENT_LOG)
    check(event_source() is None, event_source())
    check(run.code == 21 and UNREACHABLE in run.out, run)
    check("step: Terminal non détecté" in run.err, run)
    check("update: COM71: the port cannot be opened: there is no such port" in run.err, run)
    check_event(run, 0x2, 21, "COM71", "-", journal_name(before, "COM71"))


def case_constraints_refused():
    run, sim = update(72, "--apps", "TIERSPAYANT,ANCIENSANTE")
    check(run.code == 4, run)
    check_event(run, 0x1, 4, "COM72", "M30", None)
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


def case_interrupted_before_anything_was_sent():
    # The reader lists its applications without end: the run is held before its first
    # announce, where Ctrl+C ends the command at once rather than when the list gives up.
    with Reader(97, "--model", "M30", "--options", GOOD_OPTIONS, "--apps-endless") as sim:
        started = start_windows(os.path.join(BIN_DIR, "OrvaneCli.exe"), "update", "COM97",
                                cwd=SAMPLE)
        deadline = time.time() + 60
        while "rx command 1 " not in sim.log() and time.time() < deadline:
            time.sleep(0.05)
        time.sleep(1)
        interrupted = time.time()
        started.process.send_signal(signal.SIGINT)
        run = started.wait(120)
        check(run.code == 33 and time.time() - interrupted < 5, (run, time.time() - interrupted))
        check("update: interrupted before anything was sent" in run.err, run.err[-300:])
        check(set(sim.summary()["commands"]) <= {"7", "1"} and sim.summary()["files"] == [],
              sim.summary())


def case_reader_unplugged_during_a_download():
    run, sim = update(76, "--apps", APPS, "--unplug-at", "10", timeout=120)
    check(run.code == 23 and "Erreur 144:\nLe lecteur a été débranché" in run.out, run)
    check(run.seconds < 60, "the run took %.1f s" % run.seconds)
    check("cable pulled" in sim.log(), sim.log()[-500:])
    # The pulled cable is no reason to keep the processor busy while the run finds out.
    cpu = re.search(r"CPU ([0-9.]+) s", run.err)
    check(cpu and float(cpu.group(1)) < 1.0, run.err[-300:])


def case_file_rewritten_during_its_transfer():
    """A package on a share others can write to: a 60 KB file rewritten once its tenth block
    is on the line reaches the reader as it was announced, and the report names those bytes."""
    package = scratch("ov-share-")
    for name in os.listdir(SAMPLE):
        shutil.copy(os.path.join(SAMPLE, name), package)
    target = os.path.join(package, "LISEZMOI.TXT")
    announced = bytes((i * 7 + 3) & 0xFF for i in range(60000))
    with open(target, "wb") as f:
        f.write(announced)
    report = os.path.join(scratch("ov-report-"), "r.json")
    before = journals()
    # The reply to its tenth block comes 2 s late: the file is rewritten meanwhile.
    with Reader(94, "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS,
                "--fault-file", "LISEZMOI.TXT", "--late-at", "9:2000") as sim:
        started = start_windows(os.path.join(BIN_DIR, "OrvaneCli.exe"), "update", "COM94",
                                "--report", winpath(report), cwd=package)
        deadline = time.time() + 200
        while "block 9 taken, late (scenario)" not in sim.log() and time.time() < deadline:
            time.sleep(0.02)
        with open(target, "wb") as f:
            f.write(bytes(60000 * [0x5A]))
        run = started.wait(240)
        check(run.code == 0 and SUCCESS in run.out, run)
        check(sim.received("LISEZMOI.TXT") == announced, "LISEZMOI.TXT is not what was announced")
    digest = hashlib.sha256(announced).hexdigest()
    with open(report, encoding="utf-8") as f:
        sent = json.load(f)["runs"][0]["files"][-1]
    check(sent["name"] == "LISEZMOI.TXT" and sent["bytes"] == 60000 and sent["sha256"] == digest,
          sent)
    lines = new_journal(before, "COM94")
    check(any(l.endswith("LISEZMOI.TXT : 60000 octets, SHA-256 : " + digest) for l in lines),
          [l for l in lines if "LISEZMOI" in l])


# ---- several readers at once, and the ports found by themselves ----

ISO_LOCAL = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$"
NO_PORT = "Erreur 109:"


def reader(number, *options):
    return Reader(number, "--model", "M30", "--options", GOOD_OPTIONS, "--apps", APPS, *options)


def check_whole_update(sim):
    """Every file of the load list byte for byte, in its order, and the reader restarted."""
    summary = sim.summary()
    names = [f["name"] for f in summary["files"]]
    check(names == M30_FILES + ["LISEZMOI.TXT"], "%s: %s" % (sim.port, names))
    for name in M30_FILES:
        with open(os.path.join(SAMPLE, name), "rb") as f:
            check(sim.received(name) == f.read(), "%s: %s differs" % (sim.port, name))
    check(summary["restarts"] == 2 and summary["violations"] == 0, summary)


def check_untouched(sim):
    check("rx " not in sim.log(), "%s heard: %s" % (sim.port, sim.log()[:300]))


def result_lines(run):
    return [line.split("\t") for line in run.out.splitlines()]


def check_report(path, run, ports):
    with open(path, encoding="utf-8") as f:
        report = json.load(f)
    check(report["program"] == "OrvaneCli" and report["result"] == run.code, report)
    check(report["package"] == winpath(SAMPLE), report["package"])
    check(re.match(ISO_LOCAL, report["started"]) and re.match(ISO_LOCAL, report["finished"]),
          report)
    check([r["port"] for r in report["runs"]] == ports, report["runs"])
    lines = result_lines(run)
    for entry, line in zip(report["runs"], lines):
        check([entry["port"], str(entry["result"]), entry["message"].replace("\n", " ")] == line,
              (entry, line))
        check(entry["port_after_restart"] is None, entry)
        files = entry["files"]
        check([f["name"] for f in files] == M30_FILES, files)
        if entry["result"] == 0:
            check(entry["model"] == "M30", entry)
            for f in files:
                size = os.path.getsize(os.path.join(SAMPLE, f["name"]))
                check(f["sent"] and f["bytes"] == size and f["seconds"] >= 0, f)
                with open(os.path.join(SAMPLE, f["name"]), "rb") as sent:
                    check(f["sha256"] == hashlib.sha256(sent.read()).hexdigest(), f)
    return report


def case_three_readers_at_once():
    report = os.path.join(scratch("ov-report-"), "r.json")
    with reader(80) as a, reader(81) as b, reader(82) as c:
        started = start_windows(os.path.join(BIN_DIR, "OrvaneCli.exe"), "update", "COM80",
                                "COM81", "COM82", "--report", winpath(report), cwd=SAMPLE)
        # Ctrl+C in the middle of the transfers would leave three readers half-updated.
        time.sleep(10)
        started.process.send_signal(signal.SIGINT)
        # So would the end of the session: the console's hidden window refuses it.
        asked = run_windows(os.path.join(TOOLS_DIR, "windriver.exe"), "queryendclass",
                            "OrvaneCliEndSession")
        check(asked.out.strip() == "refused", asked)
        run = started.wait(240)
        check(run.code == 0, run)
        check("update: Ctrl+C is ignored while readers are being updated" in run.err, run)
        check(result_lines(run) == [[p, "0", SUCCESS] for p in ("COM80", "COM81", "COM82")], run)
        for sim in (a, b, c):
            check_whole_update(sim)
    check_report(report, run, ["COM80", "COM81", "COM82"])
    # Each run's lines name their port; no bar is drawn in place among them.
    check("\r" not in run.err, run.err[-300:])
    for port in ("COM80", "COM81", "COM82"):
        check(re.search(r"^%s: \[ *[0-9.]+ s\] step: " % port, run.err, re.M), run.err[-300:])
    # Side by side, three readers take hardly longer than one (a 30 s restart each).
    check(run.seconds < 90, "three readers took %.1f s" % run.seconds)


def case_middle_reader_refuses_the_authorisation():
    report = os.path.join(scratch("ov-report-"), "r.json")
    with reader(83) as a, reader(84, "--auth", "refuse") as b, reader(85) as c:
        run = cli("update", "COM83", "COM84", "COM85", "--report", winpath(report), cwd=SAMPLE,
                  timeout=240)
        check(run.code == 6, run)
        lines = result_lines(run)
        check([l[:2] for l in lines] == [["COM83", "0"], ["COM84", "6"], ["COM85", "0"]], lines)
        check(lines[1][2].startswith("Erreur 106: "), lines)
        check_whole_update(a)
        check_whole_update(c)
        check(all(f["received"] == 0 for f in b.summary()["files"]), b.summary())
    entry = check_report(report, run, ["COM83", "COM84", "COM85"])["runs"][1]
    check(entry["model"] == "M30" and not any(f["sent"] for f in entry["files"]), entry)
    check(all(f["seconds"] is None for f in entry["files"]), entry)


def maker(number):
    return Device("USB\\VID_079B&PID_0028\\5&77&0&%d" % number, "COM%d" % number,
                  "DORAN Kavron USB")


def plain(number):
    return Device("USB\\VID_0403&PID_6001\\PLAIN%d" % number, "COM%d" % number, "USB Serial Port")


def case_all_registered_readers_and_no_other_port():
    with contextlib.ExitStack() as stack:
        for device in (maker(86), plain(88), maker(87)):
            stack.enter_context(device)
        a, b = stack.enter_context(reader(86)), stack.enter_context(reader(87))
        other = stack.enter_context(reader(88))
        run = cli("update", "--all", cwd=SAMPLE, timeout=240)
        check(run.code == 0, run)
        check(sorted(l[0] for l in result_lines(run)) == ["COM86", "COM87"], run)
        check_whole_update(a)
        check_whole_update(b)
        check_untouched(other)


def case_auto_takes_the_registered_reader_only():
    report = os.path.join(scratch("ov-report-"), "r.json")
    with maker(89), plain(90), reader(89) as sim, reader(90) as other:
        listed = cli("ports")
        run = cli("update", "--auto", "--report", winpath(report), cwd=SAMPLE, timeout=240)
        check(run.code == 0 and run.out == SUCCESS + "\n", run)
        check("update: DORAN Kavron USB (COM89)" in run.err, run)
        # `ports` counts the list --auto takes from, in the same words.
        count = re.search(r'^ports: (\d+ ports? in the port list, 1 "DORAN Kavron" entry)$',
                          listed.err, re.M)
        check(count and "update: " + count.group(1) in run.err, (listed, run.err[:400]))
        check_whole_update(sim)
        check_untouched(other)
    with open(report, encoding="utf-8") as f:
        document = json.load(f)
    check(document["result"] == 0 and [r["port"] for r in document["runs"]] == ["COM89"],
          document)


def case_auto_or_all_without_registered_reader_sends_nothing():
    report = os.path.join(scratch("ov-report-"), "r.json")
    with plain(91), reader(91) as other:
        # A pharmacy in the Antilles, four hours west of UTC: the report's times say so to
        # the minute (POSIX zone text, so no time-zone data need be installed).
        for form in ("--auto", "--all"):
            run = cli("update", form, "--report", winpath(report), cwd=SAMPLE, env={"TZ": "AST4"})
            check(run.code == 1 and run.out.startswith(NO_PORT), run)
            check(re.search(r'^update: \d+ ports? in the port list, no "DORAN Kavron" entry$',
                            run.err, re.M), run)
            with open(report, encoding="utf-8") as f:
                document = json.load(f)
            check(document["result"] == 1 and document["runs"] == [], document)
            check(document["started"].endswith("-04:00") and
                  document["finished"].endswith("-04:00"), document)
        check_untouched(other)


NOT_BACK = ("Erreur 147: Le lecteur ne répond plus après sa mise à jour. "
            "Débranchez-le, rebranchez-le puis relancez la mise à jour.")


def case_verify_after_the_final_restart():
    """--verify: each reader found and read again after its final restart; one that stays
    silent ends with 26, one that comes back with other options with 24."""
    report = os.path.join(scratch("ov-report-"), "r.json")
    with reader(130), reader(131, "--silent-from-restart", "2"), \
            reader(132, "--options-from-restart", "2:" + GOOD_OPTIONS[:-2] + "01"):
        run = cli("update", "COM130", "COM131", "COM132", "--verify", "--report", winpath(report),
                  cwd=SAMPLE, timeout=300)
    check(run.code == 26 and result_lines(run)[1] == ["COM131", "26", NOT_BACK], run)
    runs = check_report(report, run, ["COM130", "COM131", "COM132"])["runs"]
    check([r["result"] for r in runs] == [0, 26, 24], runs)
    for entry in runs:
        check(entry["description"][54:80] == GOOD_OPTIONS, entry)
        check(entry["journal"].endswith("-%s.log" % entry["port"]), entry)
    check(runs[0]["verified"] is True and runs[0]["after"] == {
        "model": "M30", "options": GOOD_OPTIONS, "description": runs[0]["description"],
        "applications": APPS.split(",")}, runs[0])
    check(all(r["verified"] is False and r["after"] is None for r in runs[1:]), runs)


def case_watch_updates_each_reader_as_it_is_plugged_in():
    """A depot station: one reader present at the start, another plugged in later; each
    updated once and verified, the report rewritten as each ends, `q` ends the watch."""
    report = os.path.join(scratch("ov-report-"), "r.json")

    def until(started, pattern, seconds):
        deadline = time.time() + seconds
        while not re.search(pattern, started.output_so_far(), re.M):
            check(time.time() < deadline and started.process.poll() is None,
                  "no %r: %s" % (pattern, started.output_so_far()))
            time.sleep(1)

    with maker(156), reader(156) as a, reader(157) as b:
        started = start_windows(os.path.join(BIN_DIR, "OrvaneCli.exe"), "update", "--watch",
                                "--report", winpath(report), cwd=SAMPLE, stdin=subprocess.PIPE)
        plugged = r"^%s: reader plugged in( \(hub \d+, port \d+\))?, updating$"
        until(started, plugged % "COM156", 30)
        with maker(157):
            until(started, plugged % "COM157", 30)
            until(started, "^COM156: result ", 200)
            with open(report, encoding="utf-8") as f:
                watching = json.load(f)
            check(watching["result"] is None and watching["runs"][0]["port"] == "COM156" and
                  watching["runs"][0]["result"] == 0, watching)
            until(started, "^COM157: result ", 200)
            # Both stay plugged in: neither is updated twice.
            time.sleep(4)
            started.process.stdin.write(b"q\r\n")
            started.process.stdin.flush()
            run = started.wait(120)
        check(run.code == 0, run)
        lines = run.out.splitlines()
        check(len([l for l in lines if "reader plugged in" in l]) == 2, run)
        for port in ("COM156", "COM157"):
            check(any(re.match(r"^%s: result 0, model M30, \d+ of \d+ files, verified, "
                               r"(\d+ min )?\d+ s$" % port, l) for l in lines), run)
        check(lines[-1] == "2 readers updated, 0 failed", run)
        check_whole_update(a)
        check_whole_update(b)
    with open(report, encoding="utf-8") as f:
        document = json.load(f)
    check(document["result"] == 0 and sorted(r["port"] for r in document["runs"]) ==
          ["COM156", "COM157"], document)
    check(all(r["result"] == 0 and r["verified"] is True for r in document["runs"]), document)


def case_record_for_a_success_and_a_silent_reader():
    # What a detection rule reads, whatever the outcome. Wine's registry keeps no rights: a
    # standard user's refusal is shown on the simulated machine.
    for number, options, result in ((92, ["--loader", "silent"], 21), (93, [], 0)):
        name = "ov-case-COM%d" % number
        key = "HKLM\\SOFTWARE\\Orvane\\Records\\" + name
        run_windows("reg", "delete", key, "/f", "/reg:64", timeout=60)  # an earlier run's
        with reader(number, *options) as sim:
            run = cli("update", "COM%d" % number, "--record", name, cwd=SAMPLE, timeout=240)
        check(run.code == result, run)
        shown = run_windows("reg", "query", key, "/reg:64", timeout=60).out
        values = dict(re.findall(r"^ +(\w+) +REG_\w+ +(.*)$", shown, re.M))
        check(values.pop("Result", None) == "0x%x" % result and
              values.pop("Readers", None) == "COM%d=%d" % (number, result) and
              re.match(ISO_LOCAL, values.pop("Finished", "")) and not values, shown)
        if result == 0:
            check_whole_update(sim)
        run_windows("reg", "delete", key, "/f", "/reg:64", timeout=60)


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
