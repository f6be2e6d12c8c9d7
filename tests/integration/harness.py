"""Runs the Windows programs under Wine against readersim on a pty mapped as a COM port."""
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

READERSIM = os.environ["OV_READERSIM"]
BIN_DIR = os.environ["OV_BIN_DIR"]
TOOLS_DIR = os.environ["OV_TOOLS_DIR"]
SHOTS = os.path.join(os.path.dirname(BIN_DIR), "screenshots")
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "wine-exec")

# Each case (a process of its own) runs in a Wine prefix of its own, a copy of the build tree's
# template with its own server and Xvfb display, so that cases run side by side: the ports,
# devices, registry and windows it makes are its alone. Its temporary files go beside the
# prefix; all go when it passes, and stay, named, when it fails.
_cases = os.path.join(os.path.dirname(BIN_DIR), "cases")
os.makedirs(_cases, exist_ok=True)
CASE_DIR = tempfile.mkdtemp(prefix="%s-" % (sys.argv[1:] or ["case"])[0], dir=_cases)
tempfile.tempdir = CASE_DIR
WINEPREFIX = os.path.join(CASE_DIR, "prefix")
os.environ.update(WINEPREFIX=WINEPREFIX, WINEDLLOVERRIDES="mscoree,mshtml=", TMPDIR=CASE_DIR)
os.environ.pop("DISPLAY", None)

# The sample package and a reader it is meant for.
SAMPLE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                      "samples", "package"))
GOOD_OPTIONS = "00ff0003010000000000000000"  # option bytes 27 to 39 the M30 catalogue accepts
APPS = "SANTE,TIERSPAYANT,LECTEUR"
# The M30 catalogue's files in sending order (the loader's own files first), each with the
# module it is announced under (a signature file takes its companion's).
M30_LOAD_LIST = [
    ("3648LDR.SGN", "KAVRON MANAGER"), ("3648LDR.LDF", "KAVRON MANAGER"),
    ("K30APP.SGN", "KAVRON MANAGER"), ("K30APP.LDF", "KAVRON MANAGER"),
    ("K30CFG.SGN", "K30CFG.SGN"), ("K30CFG.ADF", "K30CFG.ADF"),
    ("VIT3777.PDF", "KAVRON SYSTEM"), ("VIT3778.PDF", "KAVRON MANAGER"),
    ("TABLES.DDF", "KAVRON SYSTEM"), ("3592PARAM.BIN", "KAVRON MANAGER"),
    ("LISEZMOI.TXT", "LISEZMOI.TXT"),
]
M30_FILES = [name for name, _ in M30_LOAD_LIST]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def scratch(prefix):
    """A new temporary folder for the running case's files."""
    return tempfile.mkdtemp(prefix=prefix)


def ensure_prefix():
    """The prefix and its server exist before any pty is mapped into it."""
    subprocess.run([WINE_RUN, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=False)


class Reader:
    """readersim on COM<number>, with its log, summary and received files in a temp dir."""

    def __init__(self, number, *options):
        self.number = number
        self.options = list(options)
        self.dir = scratch("ov-sim-")
        self.link = os.path.join(WINEPREFIX, "dosdevices", "com%d" % number)
        self.process = None

    def __enter__(self):
        ensure_prefix()
        out = open(os.path.join(self.dir, "stdout"), "w")
        self.process = subprocess.Popen(
            [READERSIM, "--com", self.link, "--outdir", self.dir,
             "--summary", os.path.join(self.dir, "summary.json"),
             "--log", os.path.join(self.dir, "sim.log"), "--lifetime", "600"] + self.options,
            stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline:
            with open(os.path.join(self.dir, "stdout")) as f:
                if "READY" in f.read():
                    return self
            check(self.process.poll() is None, "readersim exited: " + self.output())
            time.sleep(0.05)
        raise Failure("readersim did not get ready")

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        """Ends the simulator, which writes its final summary."""
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()

    def output(self):
        with open(os.path.join(self.dir, "stdout")) as f:
            return f.read()

    def summary(self):
        self.stop()
        with open(os.path.join(self.dir, "summary.json")) as f:
            return json.load(f)

    def log(self):
        path = os.path.join(self.dir, "sim.log")
        return open(path).read() if os.path.exists(path) else ""

    def received(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    @property
    def port(self):
        return "COM%d" % self.number


class Run:
    def __init__(self, code, out, err, seconds):
        self.code, self.out, self.err, self.seconds = code, out, err, seconds

    def __repr__(self):
        return "exit %d after %.1fs\n--- stdout\n%s--- stderr\n%s" % (
            self.code, self.seconds, self.out, self.err)


class Device:
    """A Ports-class device registered in the prefix for the duration of a `with`."""

    def __init__(self, instance, port, description):
        self.instance, self.port, self.description = instance, port, description
        self.present = False

    def tool(self, *args):
        return run_windows(os.path.join(TOOLS_DIR, "portdev.exe"), *args, timeout=120)

    def __enter__(self):
        ensure_prefix()
        self.tool("remove", self.instance)  # a leftover of a killed run
        run = self.tool("add", self.instance, self.port, self.description)
        if run.code != 0:
            self.tool("remove", self.instance)
            raise Failure("portdev add: %s" % run)
        self.present = True
        return self

    def remove(self):
        if self.present:
            run = self.tool("remove", self.instance)
            self.present = False
            check(run.code == 0, "device not removed: %s" % run)

    def __exit__(self, *exc):
        self.remove()
        return False


def cli(*args, timeout=180, cwd=None, env=None):
    """OrvaneCli.exe under Wine; `env` adds to the environment (a time zone, say)."""
    return run_windows(os.path.join(BIN_DIR, "OrvaneCli.exe"), *args, timeout=timeout, cwd=cwd,
                       env=env)


def run_windows(program, *args, timeout=180, cwd=None, env=None):
    """A Windows program with its output in files: Wine's services must not hold our pipes.

    Every failure of a test tool says why on its output; a tool that fails with none never
    ran (Wine did not start it, as the unit-test launcher also sees): it is started once
    more and the start logged for the test command's summary."""
    run = _run_once(program, args, timeout, cwd, env)
    if os.path.dirname(program) == TOOLS_DIR and run.code != 0 and not run.out and not run.err:
        with open(os.path.join(BIN_DIR, "..", "wine-restarts.log"), "a") as log:
            log.write("%s ended with code %d and no output: %s %s\n"
                      % (time.strftime("%H:%M:%S"), run.code, os.path.basename(program),
                         " ".join(args)))
        run = _run_once(program, args, timeout, cwd, env)
    return run


def _run_once(program, args, timeout, cwd, env):
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.time()
        code = subprocess.call([WINE_RUN, program] + list(args),
                               stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               timeout=timeout, cwd=cwd, env=dict(os.environ, **(env or {})))
        seconds = time.time() - start
        out.seek(0)
        err.seek(0)
        # A Windows program's text output ends its lines with CR LF.
        return Run(code, out.read().decode("utf-8", "replace").replace("\r\n", "\n"),
                   err.read().decode("utf-8", "replace").replace("\r\n", "\n"), seconds)


class Started:
    """A Windows program running in the background, its output going to files."""

    def __init__(self, program, args, cwd, stdin=subprocess.DEVNULL):
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.start = time.time()
        self.process = subprocess.Popen([WINE_RUN, program] + list(args), stdin=stdin,
                                        stdout=self.out, stderr=self.err, cwd=cwd)

    def output_so_far(self):
        self.out.seek(0)
        return self.out.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def wait(self, timeout):
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            code = -1
        seconds = time.time() - self.start
        self.out.seek(0)
        self.err.seek(0)
        run = Run(code, self.out.read().decode("utf-8", "replace").replace("\r\n", "\n"),
                  self.err.read().decode("utf-8", "replace").replace("\r\n", "\n"), seconds)
        self.out.close()
        self.err.close()
        return run


def start_windows(program, *args, cwd=None, stdin=subprocess.DEVNULL):
    """`stdin=subprocess.PIPE` lets a case type into the program (process.stdin)."""
    return Started(program, args, cwd, stdin)


def display():
    """The X display the prefix's programs draw on."""
    if os.environ.get("DISPLAY"):
        return os.environ["DISPLAY"]
    with open(WINEPREFIX + ".display") as f:
        return ":" + f.read().split()[1]


def screenshot(name):
    """The whole screen, saved under the build tree's screenshots folder; returns the path."""
    os.makedirs(SHOTS, exist_ok=True)
    path = os.path.join(SHOTS, name)
    subprocess.run(["import", "-display", display(), "-window", "root", path], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    return path


def percentages(stderr):
    return [int(p) for p in re.findall(r"(\d+)%", stderr)]


def sample_file(directory, name, size):
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(bytes((i * 31 + 7) & 0xFF for i in range(size)))
    return path


def journals():
    """The run journals in the prefix, by path, with their modification times."""
    pattern = os.path.join(WINEPREFIX, "drive_c", "users", "*", "AppData", "Local", "Orvane",
                           "Journal", "*.log")
    return {path: os.path.getmtime(path) for path in glob.glob(pattern)}


def new_journal(before, port):
    """The one journal of a run on `port` written since `before` (what journals() gave), as
    its lines; cases running beside it write their own, on their own ports."""
    made = [p for p, t in journals().items()
            if p.endswith("-%s.log" % port) and (p not in before or t != before[p])]
    check(len(made) == 1, "one new journal expected: %r" % made)
    with open(made[0], "rb") as f:
        return f.read().decode("cp1252").split("\r\n")[:-1]


EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Orvane"


def wine_reg(*args):
    """Wine's reg.exe on the prefix: its exit code and output."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.call([WINE_RUN, "reg"] + list(args), stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.STDOUT, timeout=120)
        out.seek(0)
        return code, out.read().decode("utf-8", "replace").replace("\r\n", "\n")


def event_source():
    """The event source's values as `reg query` lists them; None when there is no source."""
    code, text = wine_reg("query", EVENT_SOURCE_KEY)
    return text if code == 0 else None


def winpath(path):
    """A Linux path as Wine sees it through drive Z:."""
    return "Z:" + path.replace("/", "\\")


def run_case(namespace, argv):
    """Runs the case named by argv[1] among the `case_` functions of `namespace`; its prefix
    and folders go when it passes and stay, named, when it fails."""
    name = argv[1] if len(argv) > 1 else ""
    case = namespace.get("case_" + name)
    if case is None:
        print("unknown case " + name)
        shutil.rmtree(CASE_DIR)
        return 2
    # Fail before CTest kills the case at its time-out, so that its folders are named.
    limit = int(os.environ.get("OV_CASE_TIMEOUT", "0")) - 30
    if limit > 0:
        def out_of_time(*_):
            raise Failure("still running after %d s" % limit)
        signal.signal(signal.SIGALRM, out_of_time)
        signal.alarm(limit)
    try:
        try:
            case()
        finally:
            signal.alarm(0)
            # The case's server, its programs and its Xvfb end, whatever the outcome.
            subprocess.call([WINE_RUN, "--stop"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    except Failure as failure:
        print("FAILED %s:\n%s" % (name, failure))
    except BaseException:  # any other error fails the case as well, its folders kept
        traceback.print_exc(file=sys.stdout)
        print("FAILED " + name)
    else:
        shutil.rmtree(CASE_DIR, ignore_errors=True)
        if os.path.exists(CASE_DIR):
            print("FAILED %s: could not remove %s" % (name, CASE_DIR))
            return 1
        print("passed " + name)
        return 0
    print("kept " + CASE_DIR)
    return 1
