"""Window cases of the updater: Orvane.exe under Wine and Xvfb, worked from outside by the
windriver tool as an operator would (texts, buttons, the port list, keys, message boxes).

The main window lists the COM ports of the case's own prefix, on the case's own display.
Screenshots go to build/win/screenshots/. Each case is one CTest test: `window_cases.py NAME`.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

# The driver takes window captions with accents on its command line: Wine reads it in the
# locale's character set.
os.environ["LC_ALL"] = "C.UTF-8"

from harness import (BIN_DIR, SHOTS, TOOLS_DIR, WINE_RUN, Device, Failure, Reader, check,
                     ensure_prefix, run_case, run_windows, scratch, screenshot)

VERSION = os.environ["OV_VERSION"]
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "package")

TITLE = "Mise à jour des lecteurs de cartes Vitale"
CAPTION = "Orvane"          # every message box of the program
SPLASH_CLASS = "SplashScreenExClass"
START, PORTS, DETECTION, INDICATOR = 1014, 1019, 1028, 1033
STATE, READ_ME, READER_TYPE, UPDATE, NOTICE = 1035, 1037, 1043, 1044, 1045
VK_RETURN, VK_ESCAPE, VK_F1 = 0x0D, 0x1B, 0x70

DETECTED = "Votre lecteur a été détecté sur le port :"
NOT_DETECTED = "Votre lecteur n'est pas détecté.\nVeuillez sélectionner le port de communication :"
NO_PACKAGE = ("Aucun paquet de mise à jour dans ce dossier.\n"
              "Lancez le programme depuis le dossier du paquet fourni par votre fournisseur.")
READER = ("USB\\VID_079B&PID_0028\\5&1234&0&4", "COM5", "DORAN Kavron USB")
OTHER = ("USB\\VID_0403&PID_6001\\A1B2C3D4", "COM6", "USB Serial Port")
READER_ENTRY = "DORAN Kavron USB (COM5)"
OTHER_ENTRY = "USB Serial Port (COM6)"
INK = (35, 65, 120)           # the splash's lettering


def unescape(line):
    out, i = [], 0
    while i < len(line):
        if line[i] == "\\" and i + 1 < len(line):
            out.append({"n": "\n", "r": "\r", "\\": "\\"}.get(line[i + 1], line[i + 1]))
            i += 2
        else:
            out.append(line[i])
            i += 1
    return "".join(out)


def drive(*args):
    """windriver ARGS; its output line(s), or Failure."""
    run = run_windows(os.path.join(TOOLS_DIR, "windriver.exe"), *[str(a) for a in args], timeout=120)
    if run.code != 0:
        raise Failure("windriver %s: %s" % (" ".join(str(a) for a in args), run))
    return run.out


def text(control):
    return unescape(drive("text", TITLE, control).rstrip("\n"))


def items():
    return [unescape(line) for line in drive("items", TITLE, PORTS).splitlines()]


def pixel(path, x, y):
    out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "txt:-"],
                         check=True, capture_output=True, text=True).stdout
    hex_colour = out.splitlines()[-1].split("#")[1][:6]
    return tuple(int(hex_colour[i:i + 2], 16) for i in (0, 2, 4))


def indicator_colour(shot):
    """The colour at the middle of the drawn indicator dot."""
    left, top = (int(v) for v in drive("origin", TITLE).split())
    x, y, _, _ = (int(v) for v in drive("rect", TITLE, INDICATOR).split())
    return pixel(shot, left + x + 8, top + y + 8)


def bmp_pixels(path):
    """The RGB pixels of a 24-bit BMP."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) // 4 * 4
    for row in range(abs(height)):
        base = offset + row * stride
        for x in range(width):
            b, g, r = data[base + 3 * x:base + 3 * x + 3]
            yield (r, g, b)


class Updater:
    """Orvane.exe started in a directory (with `args`: its command line), closed and awaited
    at the end."""

    def __init__(self, directory, program=None, args=()):
        self.directory = directory
        self.program = program or os.path.join(BIN_DIR, "Orvane.exe")
        self.args = list(args)
        self.process = None

    def __enter__(self):
        ensure_prefix()
        self.out = tempfile.TemporaryFile()
        self.process = subprocess.Popen([WINE_RUN, self.program] + self.args, cwd=self.directory,
                                        stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.out)
        return self

    def wait_window(self):
        drive("wait", TITLE, 20000)

    def ended(self, seconds):
        try:
            self.process.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def __exit__(self, kind, *rest):
        if self.process.poll() is None:
            run_windows(os.path.join(TOOLS_DIR, "windriver.exe"), "close", TITLE)
            if not self.ended(15):
                self.process.kill()
                self.process.wait()
                if kind is None:
                    raise Failure("the updater did not end when its window was closed")
        self.out.close()
        return False


def package_dir(*files, catalogue=True):
    """A temporary package directory holding copies of sample files, and a catalogue unless
    told otherwise (without one the window offers no update)."""
    directory = scratch("ov-win-")
    for name in ("catalogueM30.ini",) * catalogue + files:
        shutil.copy(os.path.join(SAMPLE, name), directory)
    return directory


def listing(directory):
    return {name: open(os.path.join(directory, name), "rb").read() for name in os.listdir(directory)}


def case_main_window_texts_and_keys():
    directory = package_dir("ReadMe.txt", "Lecteur.txt", "Lecteur.png")
    with open(os.path.join(directory, "Lecteur.txt"), "ab") as f:
        f.write("Deuxième ligne\r\n".encode("cp1252"))
    # A file the operator happens to keep under the name of the old temporary picture.
    with open(os.path.join(directory, "temp.png"), "wb") as f:
        f.write(b"not ours")
    before = listing(directory)
    # Started from another folder, the package named on the command line.
    elsewhere = scratch("ov-win-")
    splash_bmp = os.path.join(scratch("ov-win-"), "splash.bmp")
    ensure_prefix()  # the case's prefix made and up before the watcher starts in it
    capture = subprocess.Popen([WINE_RUN, os.path.join(TOOLS_DIR, "windriver.exe"), "capture",
                                SPLASH_CLASS, "Z:" + splash_bmp.replace("/", "\\"), "20000"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    time.sleep(1)  # the splash lives half a second: the watcher must be up first
    with Updater(elsewhere, args=["Z:" + directory.replace("/", "\\")]) as updater:
        updater.wait_window()
        check(capture.wait(timeout=60) == 0, "the splash was not seen")
        # The splash is cut along its magenta; it shows its lettering, then goes.
        colours = list(bmp_pixels(splash_bmp))
        check((255, 0, 255) not in colours, "magenta left in the splash")
        check(colours.count(INK) > 200, "no lettering in the splash")
        os.makedirs(SHOTS, exist_ok=True)
        subprocess.run(["convert", splash_bmp, os.path.join(SHOTS, "splash.png")], check=True)
        drive("goneclass", SPLASH_CLASS, 5000)

        check(text(READER_TYPE) == "Lecteur Kavron 30", text(READER_TYPE))
        readme = open(os.path.join(SAMPLE, "ReadMe.txt"), "rb").read().decode("cp1252")
        check(text(READ_ME) == readme + "\r\n", repr(text(READ_ME)))
        check(text(STATE) == "Etat du lecteur :" and text(UPDATE) == "Mise à jour du lecteur",
              text(STATE))
        check(text(START) == "&Démarrer", text(START))
        check(text(NOTICE) == os.environ["OV_LEGAL_COPYRIGHT"], text(NOTICE))
        check(text(DETECTION) == NOT_DETECTED, text(DETECTION))
        # No reader's port: nothing is selected and Démarrer stays disabled.
        time.sleep(1.5)
        check(not any(entry.startswith("* ") for entry in items()), items())
        check(drive("enabled", TITLE, START).strip() == "0", "Démarrer enabled")
        check(drive("rect", TITLE, PORTS).split()[:3] == ["418", "128", "209"],
              drive("rect", TITLE, PORTS))
        shot = screenshot("main-window-no-reader.png")
        red = indicator_colour(shot)
        check(red[0] > red[1] + 60, "the indicator is not red: %s" % (red,))

        # F1: the about box, with the build's version and notice.
        drive("press", TITLE, VK_F1)
        about = unescape(drive("box", CAPTION, 10000).rstrip("\n"))
        check(about == "Logiciel de mise à jour de lecteurs \nde cartes Vitale Orvane v%s\n\n%s"
              % (VERSION, os.environ["OV_LEGAL_COPYRIGHT"]), repr(about))
        drive("answer", CAPTION, 10000)

        # Escape and Enter away from Démarrer do nothing: no update, no closing.
        for key in (VK_ESCAPE, VK_RETURN):
            drive("key", TITLE, 0, key)
            drive("key", TITLE, PORTS, key)
        time.sleep(1.5)
        drive("wait", TITLE, 1000)
        check(run_windows(os.path.join(TOOLS_DIR, "windriver.exe"), "wait", "Chargement", "200").code != 0,
              "an update started")

        drive("close", TITLE)
        check(updater.ended(15), "the updater did not end when its window was closed")
    # Nothing was written into, or taken from, the package directory, nor where it started.
    check(listing(directory) == before, sorted(listing(directory)))
    check(os.listdir(elsewhere) == [], os.listdir(elsewhere))


def case_reader_entry_selected_by_itself():
    # A folder with a read-me but no catalogue, named on the command line: the list finds
    # the reader as always, but the window says there is no package and offers no update.
    empty = package_dir("ReadMe.txt", "Lecteur.txt", catalogue=False)
    with Device(*READER), Updater(scratch("ov-win-"), args=["Z:" + empty.replace("/", "\\")]) as updater:
        updater.wait_window()
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 10000)
        drive("waittext", TITLE, DETECTION, DETECTED, 5000)
        time.sleep(1.5)
        check(text(READ_ME) == NO_PACKAGE, repr(text(READ_ME)))
        check(drive("enabled", TITLE, START).strip() == "0", "Démarrer enabled without a package")
        check(drive("focus", TITLE).split()[0] != str(START), drive("focus", TITLE))
        drive("key", TITLE, START, VK_RETURN)
        check(run_windows(os.path.join(TOOLS_DIR, "windriver.exe"), "wait", "Chargement", "1000").code != 0,
              "an update started without a package")

    directory = package_dir("ReadMe.txt", "Lecteur.txt", "Lecteur.png")
    with Device(*READER) as reader, Updater(directory) as updater:
        updater.wait_window()
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 10000)
        drive("waittext", TITLE, DETECTION, DETECTED, 5000)
        drive("waitenabled", TITLE, START, 1, 5000)
        check(drive("focus", TITLE).split()[0] == str(START), drive("focus", TITLE))
        check(drive("rect", TITLE, PORTS).split()[:3] == ["350", "110", "209"],
              drive("rect", TITLE, PORTS))
        time.sleep(0.5)
        shot = screenshot("main-window-reader-detected.png")
        green = indicator_colour(shot)
        check(green[1] > green[0] + 60, "the indicator is not green: %s" % (green,))

        # The device goes: the program's own selection is refreshed away at the next poll.
        reader.remove()
        drive("waittext", TITLE, DETECTION, NOT_DETECTED, 5000)
        check(READER_ENTRY not in "".join(items()), items())
        drive("waitenabled", TITLE, START, 0, 5000)
        check(drive("rect", TITLE, PORTS).split()[:2] == ["418", "128"], drive("rect", TITLE, PORTS))


def case_hand_picked_entry_kept_across_polls():
    directory = package_dir()
    with Device(*OTHER), Device(*READER) as reader, Updater(directory) as updater:
        updater.wait_window()
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 10000)
        drive("pick", TITLE, PORTS, OTHER_ENTRY)
        drive("waitselected", TITLE, PORTS, OTHER_ENTRY, 2000)
        check(drive("enabled", TITLE, START).strip() == "1", "Démarrer disabled")
        # The reader goes and comes: polls leave the operator's choice alone.
        reader.remove()
        time.sleep(3.5)
        check(items() == ["  " + READER_ENTRY, "* " + OTHER_ENTRY], items())
        check(drive("enabled", TITLE, START).strip() == "1", "Démarrer disabled")
        # Opening the list refreshes it; the selection goes with the old list.
        drive("dropdown", TITLE, PORTS)
        check(items() == ["  " + OTHER_ENTRY], items())
        drive("waitenabled", TITLE, START, 0, 5000)


def case_update_outcome_reported():
    directory = package_dir()
    with Device(*READER), Reader(5, "--model", "M99"), Updater(directory) as updater:
        updater.wait_window()
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 10000)
        drive("waitenabled", TITLE, START, 1, 5000)
        # Enter on the focused Démarrer starts the update; the main window waits
        # disabled behind the progress window.
        drive("key", TITLE, START, VK_RETURN)
        drive("wait", "Chargement", 10000)
        drive("waitenabled", TITLE, 0, 0, 2000)
        box = unescape(drive("box", CAPTION, 60000).rstrip("\n"))
        check(box == "Erreur 118:\nConfiguration matérielle du lecteur non conforme.\n"
              "La mise à jour n'est pas destinée à ce lecteur de cartes Vitale.", repr(box))
        time.sleep(0.3)
        screenshot("result-box.png")
        drive("gone", "Chargement", 1000)
        drive("answer", CAPTION, 5000)
        # Polling resumes with the reader's entry still chosen.
        drive("waitenabled", TITLE, 0, 1, 5000)
        time.sleep(1.5)
        check(drive("selected", TITLE, PORTS).strip() == READER_ENTRY, items())
        check(drive("enabled", TITLE, START).strip() == "1", "Démarrer disabled")


def case_library_only_beside_the_program():
    program_dir = scratch("ov-prog-")
    directory = package_dir()
    shutil.copy(os.path.join(BIN_DIR, "Orvane.exe"), program_dir)
    # A library in the package directory (the current one) is never loaded.
    shutil.copy(os.path.join(BIN_DIR, "Tessock.dll"), directory)
    with Updater(directory, os.path.join(program_dir, "Orvane.exe")) as updater:
        box = unescape(drive("box", CAPTION, 20000).rstrip("\n"))
        check(box == "Impossible de charger la dll Tessock", repr(box))
        drive("answer", CAPTION, 5000)
        check(updater.ended(15), "the updater did not end after the library was missing")
    # A package folder that is not there is refused first, named in its box.
    absent = "Z:" + os.path.join(directory, "absent").replace("/", "\\")
    with Updater(directory, os.path.join(program_dir, "Orvane.exe"), [absent]) as updater:
        box = unescape(drive("box", CAPTION, 20000).rstrip("\n"))
        check(box == "Le dossier de mise à jour « %s » est introuvable ou illisible.\n"
              "L'application va se terminer" % absent, repr(box))
        drive("answer", CAPTION, 5000)
        check(updater.ended(15), "the updater did not end after its folder was refused")
    # A folder whose name the ANSI code page cannot hold is refused, never entered under a
    # best-fitted name; the box shows what it can of it.
    outside = os.path.join(directory, "\u0141\u0101\u0448\u4e00")
    os.mkdir(outside)
    with Updater(directory, os.path.join(program_dir, "Orvane.exe"),
                 ["Z:" + outside.replace("/", "\\")]) as updater:
        box = unescape(drive("box", CAPTION, 20000).rstrip("\n"))
        shown = "Z:" + os.path.join(directory, "????").replace("/", "\\")
        check(box == "Le dossier de mise à jour « %s » est introuvable ou illisible.\n"
              "L'application va se terminer" % shown, repr(box))
        drive("answer", CAPTION, 5000)
        check(updater.ended(15), "the updater did not end after its folder was refused")


def case_windows_sized_by_their_own_layout_at_another_dpi():
    """Asked, as Windows asks before moving a window to a screen of another DPI, the size each
    window wants at twice the DPI: both answer with their own layout's, the client area
    doubled inside a frame."""

    def check_answer(title):
        answer, width, height = (int(v) for v in drive("dpisize", title, 192, 20000).split())
        client_w, client_h = (int(v) for v in drive("layout", title).splitlines()[0].split()[1:])
        check(answer == 1, "%s: answered %d" % (title, answer))
        # The frame: borders and a caption at 192 DPI, never nothing, never a window's worth.
        check(0 <= width - 2 * client_w < 64 and 0 < height - 2 * client_h < 160,
              "%s: %dx%d for a client of %dx%d at 96 DPI" % (title, width, height, client_w, client_h))

    directory = package_dir()
    with Device(*READER), Reader(5, "--model", "M99"), Updater(directory) as updater:
        updater.wait_window()
        check_answer(TITLE)
        drive("waitselected", TITLE, PORTS, READER_ENTRY, 10000)
        drive("waitenabled", TITLE, START, 1, 5000)
        # The progress window, asked as soon as it shows: the reader is refused at once.
        drive("click", TITLE, START)
        check_answer("Chargement")
        box = unescape(drive("box", CAPTION, 60000).rstrip("\n"))
        check(box.startswith("Erreur 118:"), repr(box))
        drive("answer", CAPTION, 5000)


if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
