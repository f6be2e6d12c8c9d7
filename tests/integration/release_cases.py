"""The release archive as an operator's machine gets it: built by the release script,
unpacked into a fresh folder and run in a Wine prefix of its own, made for this case and
removed after it (kept when the case fails).

Each case is one CTest test: `release_cases.py NAME`.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from harness import BIN_DIR, Failure, check, run_case, scratch

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD = os.path.abspath(os.path.join(BIN_DIR, "..", ".."))
TOOLS_DIR = os.environ["OV_TOOLS_DIR"]
VERSION = os.environ["OV_VERSION"]
TITLE = "Mise à jour des lecteurs de cartes Vitale"
WINE_EXEC = os.path.join(ROOT, "scripts", "wine-exec")


class FreshPrefix:
    """A Wine prefix and display of its own, as on a machine that never ran the updater."""

    def __init__(self):
        self.dir = scratch("ov-release-")
        # The prefix's wineserver makes its socket folder under TMPDIR and never removes it:
        # here it goes with the case's folder.
        self.env = dict(os.environ, WINEPREFIX=os.path.join(self.dir, "prefix"), WINEARCH="win64",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8",
                        TMPDIR=self.dir)
        self.env.pop("DISPLAY", None)

    def run(self, *args, cwd=None, timeout=300):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.call([WINE_EXEC] + list(args), env=self.env, cwd=cwd, timeout=timeout,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            out.seek(0)
            return code, out.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def start(self, *args, cwd=None):
        return subprocess.Popen([WINE_EXEC] + list(args), env=self.env, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        subprocess.call([WINE_EXEC, "--stop"], env=self.env, stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return False


def build_archive():
    out = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package-release.py"), BUILD],
                         capture_output=True, text=True, timeout=120)
    check(out.returncode == 0, out.stderr)
    return out.stdout.strip()


def case_archive_runs_in_a_fresh_prefix():
    archive = build_archive()
    check(os.path.basename(archive) == "Orvane-%s-x64.zip" % VERSION, archive)
    top = "Orvane-%s-x64/" % VERSION
    with zipfile.ZipFile(archive) as z:
        names = set(z.namelist())
        for name in ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe", "LISEZMOI.txt",
                     "exemple/catalogueM30.ini", "exemple/ReadMe.txt", "exemple/Lecteur.png"):
            check(top + name in names, "%s missing from %s" % (name, sorted(names)))
        readme = z.read(top + "LISEZMOI.txt")
        # Notepad on any Windows: the ANSI code page and CR LF.
        check("Démarrer".encode("cp1252") in readme and b"\r\n" in readme and b"\n\n" not in readme,
              readme[:200])
        with FreshPrefix() as machine:
            unpacked = os.path.join(machine.dir, "unpacked")
            z.extractall(unpacked)
            home = os.path.join(unpacked, top)
            code, out = machine.run(os.path.join(home, "OrvaneCli.exe"), "--version")
            check(code == 0 and out == "OrvaneCli %s\n" % VERSION, (code, out))

            # The operator's start: in the example package, with the programs beside it.
            package = os.path.join(home, "exemple")
            for name in ("Orvane.exe", "Tessock.dll"):
                shutil.copy(os.path.join(home, name), package)
            updater = machine.start(os.path.join(package, "Orvane.exe"), cwd=package)
            try:
                windriver = os.path.join(TOOLS_DIR, "windriver.exe")
                code, out = machine.run(windriver, "wait", TITLE, "60000")
                check(code == 0, "no main window: " + out)
                code, out = machine.run(windriver, "text", TITLE, "1043")
                check(code == 0 and out.strip() == "Lecteur Kavron 30", out)
                machine.run(windriver, "close", TITLE)
                deadline = time.time() + 30
                while updater.poll() is None and time.time() < deadline:
                    time.sleep(0.2)
                check(updater.poll() is not None, "the updater did not end with its window")
            finally:
                if updater.poll() is None:
                    updater.kill()
                    updater.wait()


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
