"""The release archive as an operator's machine gets it: built by the release script,
unpacked into a fresh folder and run in the case's own Wine prefix, as on a machine that never
ran the updater.

Each case is one CTest test: `release_cases.py NAME`.
"""
import codecs
import hashlib
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

from harness import BIN_DIR, WINE_RUN, WINEPREFIX, check, run_case, run_windows, scratch

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD = os.path.abspath(os.path.join(BIN_DIR, "..", ".."))
TOOLS_DIR = os.environ["OV_TOOLS_DIR"]
VERSION = os.environ["OV_VERSION"]
TITLE = "Mise à jour des lecteurs de cartes Vitale"
UTF8 = {"LC_ALL": "C.UTF-8"}  # the driver's accented window titles, as Wine reads them
BINARIES = ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe")


class Machine:
    """The case's own Wine prefix and display, as on a machine that never ran the updater."""

    def __init__(self):
        self.dir = scratch("ov-release-")

    def run(self, *args, cwd=None, timeout=300):
        done = run_windows(*args, cwd=cwd, timeout=timeout, env=UTF8)
        return done.code, done.out

    def start(self, *args, cwd=None):
        return subprocess.Popen([WINE_RUN] + list(args), env=dict(os.environ, **UTF8), cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)


def build_archive(*options, env=None, must_pass=True):
    """The release script's run: its archive (last line of its output) and its whole output."""
    out = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package-release.py")]
                         + list(options) + [BUILD], env=env, capture_output=True, text=True,
                         timeout=120)
    if must_pass:
        check(out.returncode == 0, out.stdout + out.stderr)
    lines = out.stdout.strip().splitlines()
    return (lines[-1] if lines else ""), out


def check_sums(z, top):
    """SHA256SUMS lists every other file of the archive with its SHA-256, as sha256sum -c reads it."""
    sums = z.read(top + "SHA256SUMS").decode("ascii")
    listed = {}
    for line in sums.splitlines():
        m = re.fullmatch(r"([0-9a-f]{64})  (\S.*)", line)
        check(m is not None, "not a sha256sum line: %r" % line)
        listed[m.group(2)] = m.group(1)
    files = {name[len(top):] for name in z.namelist()
             if name.startswith(top) and not name.endswith("/")} - {"SHA256SUMS"}
    check(set(listed) == files, (sorted(listed), sorted(files)))
    for name, digest in listed.items():
        check(hashlib.sha256(z.read(top + name)).hexdigest() == digest, name + ": wrong sum")


def case_archive_runs_in_a_fresh_prefix():
    archive, out = build_archive(env=dict(os.environ, OV_SIGN_PFX=""))
    check("unsigned" in out.stdout, out.stdout)
    check(os.path.basename(archive) == "Orvane-%s-x64.zip" % VERSION, archive)
    top = "Orvane-%s-x64/" % VERSION
    with zipfile.ZipFile(archive) as z:
        names = set(z.namelist())
        for name in ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe", "LISEZMOI.txt",
                     "ADMINISTRATORS.txt", "exemple/catalogueM30.ini", "exemple/ReadMe.txt", "exemple/Lecteur.png",
                     "SHA256SUMS"):
            check(top + name in names, "%s missing from %s" % (name, sorted(names)))
        readme = z.read(top + "LISEZMOI.txt")
        # Notepad on any Windows: the ANSI code page and CR LF.
        check("Démarrer".encode("cp1252") in readme and b"\r\n" in readme and b"\n\n" not in readme,
              readme[:200])
        guide = z.read(top + "ADMINISTRATORS.txt").decode("utf-8-sig")
        check(guide.startswith("## For IT administrators") and "msiexec" in guide
              and "\n" not in guide.replace("\r\n", ""), guide[:200])
        check_sums(z, top)
        # What the administrator checks before unpacking: the archive and the installer.
        release = os.path.dirname(archive)
        sums = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=release,
                              capture_output=True, text=True)
        check(sums.returncode == 0 and sums.stdout.count(": OK") == 2, sums.stdout + sums.stderr)
        machine = Machine()
        unpacked = os.path.join(machine.dir, "unpacked")
        z.extractall(unpacked)
        home = os.path.join(unpacked, top)
        sums = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=home,
                              capture_output=True, text=True)
        check(sums.returncode == 0, sums.stdout + sums.stderr)
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


def openssl(*args):
    made = subprocess.run(["openssl"] + list(args), capture_output=True, text=True, timeout=60)
    check(made.returncode == 0, made.stderr)


def certificate(work, stem, usage, key_usage="digitalSignature,keyCertSign"):
    """A throw-away self-signed certificate for `usage` (codeSigning, timeStamping): key, cert."""
    key, cert = os.path.join(work, stem + ".key"), os.path.join(work, stem + ".pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
            "-days", "2", "-subj", "/CN=Orvane release test " + stem,
            "-addext", "keyUsage=critical," + key_usage,
            "-addext", "extendedKeyUsage=critical," + usage)
    return key, cert


def case_signed_archive_verifies():
    work = scratch("ov-release-sign-")
    key, cert = certificate(work, "sign", "codeSigning")
    pfx = os.path.join(work, "sign.pfx")
    openssl("pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
            "-passout", "pass:test-Pass 1")
    built = {name: open(os.path.join(BIN_DIR, name), "rb").read() for name in BINARIES}

    # A certificate that cannot be opened fails the release: no unsigned archive instead.
    wrong = os.path.join(work, "wrong")
    _, out = build_archive("--out", wrong, must_pass=False,
                           env=dict(os.environ, OV_SIGN_PFX=pfx, OV_SIGN_PASS="not it"))
    left = os.listdir(wrong) if os.path.isdir(wrong) else []
    check(out.returncode != 0 and not left, (out.returncode, out.stderr, left))

    archive, out = build_archive("--out", os.path.join(work, "out"),
                                 env=dict(os.environ, OV_SIGN_PFX=pfx, OV_SIGN_PASS="test-Pass 1"))
    check("release: signed, not timestamped (OV_SIGN_TIMESTAMP not set)" in out.stdout, out.stdout)
    check(os.path.dirname(archive) == os.path.join(work, "out"), archive)
    top = "Orvane-%s-x64/" % VERSION
    with zipfile.ZipFile(archive) as z:
        check_sums(z, top)
        z.extractall(os.path.join(work, "unpacked"))
    for name in BINARIES:
        signed = os.path.join(work, "unpacked", top, name)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                                  capture_output=True, text=True, timeout=60)
        text = verified.stdout + verified.stderr
        check(verified.returncode == 0 and "Signature verification: ok" in text
              and re.search(r"digest algorithm\s*:\s*SHA256", text), name + ":\n" + text)
        # Copies were signed: the build tree's binaries are as the build left them.
        with open(os.path.join(BIN_DIR, name), "rb") as f:
            check(f.read() == built[name], name + " changed in the build tree")
        with open(signed, "rb") as f:
            check(f.read() != built[name], name + " packed unsigned")


SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"


class TimeStampingAuthority:
    """An RFC 3161 authority on 127.0.0.1: OpenSSL's `ts` answers each query posted to it."""

    def __init__(self, work):
        # A time-stamping certificate may be used for nothing else (RFC 3161, 2.3).
        self.key, self.cert = certificate(work, "tsa", "timeStamping", "digitalSignature")
        self.config = os.path.join(work, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write("[tsa]\ndefault_tsa = ov\n[ov]\nserial = %s\ncrypto_device = builtin\n"
                    "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                    "digests = sha1, sha256, sha384, sha512\naccuracy = secs:1\nordering = no\n"
                    "tsa_name = no\ness_cert_id_chain = no\ness_cert_id_alg = sha256\n"
                    % os.path.join(work, "tsa.serial"))
        self.work = work
        self.answered = 0
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                reply = authority.reply(query)
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def reply(self, query):
        with tempfile.TemporaryDirectory(dir=self.work) as d:
            request, response = os.path.join(d, "q.tsq"), os.path.join(d, "r.tsr")
            with open(request, "wb") as f:
                f.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                   "-queryfile", request, "-signer", self.cert, "-inkey", self.key,
                                   "-out", response], capture_output=True, timeout=60)
            if made.returncode != 0:
                return b""
            self.answered += 1
            with open(response, "rb") as f:
                return f.read()

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
        return False


def closed_port_url():
    """A URL on 127.0.0.1 where nothing answers."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return "http://127.0.0.1:%d/" % s.getsockname()[1]


def case_key_on_a_token_signs_and_timestamps():
    work = scratch("ov-release-token-")
    key, cert = certificate(work, "sign", "codeSigning")
    # A SoftHSM token of the case's own, holding the signing key.
    config = os.path.join(work, "softhsm2.conf")
    os.makedirs(os.path.join(work, "tokens"))
    with open(config, "w") as f:
        f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n"
                % os.path.join(work, "tokens"))
    env = dict(os.environ, SOFTHSM2_CONF=config, OV_SIGN_PFX="", OV_SIGN_PKCS11_MODULE=SOFTHSM_MODULE,
               OV_SIGN_PKCS11_KEY="pkcs11:token=ov-release;object=ov-sign;type=private",
               OV_SIGN_CERT=cert, OV_SIGN_PASS="4711-pin")
    for command in (["--init-token", "--free", "--label", "ov-release", "--pin", "4711-pin",
                     "--so-pin", "so-4711"],
                    ["--import", key, "--token", "ov-release", "--label", "ov-sign", "--id", "01",
                     "--pin", "4711-pin"]):
        made = subprocess.run(["softhsm2-util"] + command, env=env, capture_output=True, text=True,
                              timeout=60)
        check(made.returncode == 0, made.stdout + made.stderr)

    with TimeStampingAuthority(work) as tsa:
        # A wrong PIN, or an authority that does not answer, fails the release: no archive.
        for what, changes in (("wrong PIN", dict(OV_SIGN_PASS="0000", OV_SIGN_TIMESTAMP=tsa.url)),
                              ("no authority", dict(OV_SIGN_TIMESTAMP=closed_port_url()))):
            out_dir = os.path.join(work, what.replace(" ", "-"))
            _, out = build_archive("--out", out_dir, must_pass=False, env=dict(env, **changes))
            left = os.listdir(out_dir) if os.path.isdir(out_dir) else []
            check(out.returncode != 0 and not left, (what, out.returncode, out.stderr, left))

        archive, out = build_archive("--out", os.path.join(work, "out"),
                                     env=dict(env, OV_SIGN_TIMESTAMP=tsa.url))
        check("release: signed, timestamped by %s" % tsa.url in out.stdout, out.stdout)
        check(tsa.answered > len(BINARIES), "the authority answered %d times" % tsa.answered)
    top = "Orvane-%s-x64/" % VERSION
    with zipfile.ZipFile(archive) as z:
        z.extractall(os.path.join(work, "unpacked"))
    signed = {name: os.path.join(work, "unpacked", top, name) for name in BINARIES}
    signed["the installer"] = archive[:-len(".zip")] + ".msi"
    for name, path in signed.items():
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-TSA-CAfile", tsa.cert,
                                   "-in", path],
                                  capture_output=True, text=True, timeout=60)
        text = verified.stdout + verified.stderr
        check(verified.returncode == 0 and "Signature verification: ok" in text
              and "Timestamp Server Signature verification: ok" in text
              # Debian 12's osslsigncode (2.5) and its backport word the time differently.
              and re.search(r"(Timestamp time|The signature is timestamped): \S", text),
              name + ":\n" + text)

EVENT_SOURCE = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Orvane"
UNINSTALL = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
PROGRAM_FILES = ("Orvane.exe", "OrvaneCli.exe", "Tessock.dll", "LISEZMOI.txt", "ADMINISTRATORS.txt")


def release_of(work, version):
    """The installer of a build tree like this one, of `version`, whose Tessock.dll ends with
    the version (files that differ from this build's, as another build's would)."""
    tree = os.path.join(work, "build-" + version)
    for folder in ("bin", "drawn"):
        os.makedirs(os.path.join(tree, "win", folder))
    for name in BINARIES:
        shutil.copy(os.path.join(BIN_DIR, name), os.path.join(tree, "win", "bin"))
    with open(os.path.join(tree, "win", "bin", "Tessock.dll"), "ab") as f:
        f.write(version.encode("ascii"))
    shutil.copy(os.path.join(BUILD, "win", "drawn", "orvane.ico"), os.path.join(tree, "win", "drawn"))
    shutil.copy(os.path.join(BUILD, "win", "source-date.txt"), os.path.join(tree, "win"))
    with open(os.path.join(tree, "win", "version.txt"), "w") as f:
        f.write(version + "\n")
    made = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package-release.py"),
                           "--out", os.path.join(tree, "out"), tree], capture_output=True, text=True,
                          env=dict(os.environ, OV_SIGN_PFX=""), timeout=120)
    check(made.returncode == 0, made.stdout + made.stderr)
    return os.path.join(tree, "out", "Orvane-%s-x64.msi" % version)


def msiexec(machine, option, msi):
    """msiexec's exit code, whole (a Unix exit status keeps only its low byte: 1603 is 67),
    and the custom actions that ran and succeeded, by its log."""
    batch, log = os.path.join(machine.dir, "msiexec.bat"), os.path.join(machine.dir, "msiexec.log")
    with open(batch, "w") as f:
        f.write("@start /wait msiexec %*\r\n@echo msiexec exit %errorlevel%\r\n")
    batch, msi, wlog = ("Z:" + path.replace("/", "\\") for path in (batch, msi, log))
    _, out = machine.run("cmd", "/c", batch, option, msi, "/qn", "/l*v", wlog)
    m = re.search(r"msiexec exit (\d+)", out)
    check(m is not None, out)
    with open(log, "rb") as f:
        ran = set(re.findall(rb"Action ended [\d:]+: (\w+Machine)\. Return value 1\.", f.read()))
    return int(m.group(1)), {name.decode() for name in ran}


def registry(machine, key):
    """{value name: data} of `key` and of the keys under it, by path; None when it is missing."""
    code, out = machine.run("reg", "query", key, "/s")
    if code != 0:
        return None
    found, current = {}, key
    for line in out.splitlines():
        if line.startswith("HKEY_"):
            current = line.strip()
        m = re.match(r"\s{4}(\S.*?)\s{4}REG_\w+\s{4}(.*)$", line)
        if m:
            found.setdefault(current, {})[m.group(1)] = m.group(2)
    return found


def orvane_entries(machine):
    return [values for values in registry(machine, UNINSTALL).values()
            if values.get("DisplayName") == "Orvane"]


def installed(machine):
    """The installed programs' folder and what it holds: {name: bytes}."""
    folder = os.path.join(WINEPREFIX, "drive_c", "Program Files", "Orvane")
    if not os.path.isdir(folder):
        return {}
    return {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}


def case_installer_installs_upgrades_and_uninstalls():
    work = scratch("ov-release-msi-")
    archive, _ = build_archive("--out", os.path.join(work, "out"), env=dict(os.environ, OV_SIGN_PFX=""))
    first = archive[:-len(".zip")] + ".msi"
    numbers = [int(n) for n in VERSION.split(".")]
    newer_version = "%d.%d.%d.0" % (numbers[0], numbers[1], numbers[2] + 1)
    newer = release_of(work, newer_version)
    # Windows Installer compares three numbers: another build of those is the same product.
    rebuilt = release_of(work, newer_version[:-1] + "1")
    with zipfile.ZipFile(archive) as z:
        shipped = {name: z.read("Orvane-%s-x64/%s" % (VERSION, name)) for name in PROGRAM_FILES}

    machine = Machine()
    data = os.path.join(WINEPREFIX, "drive_c", "ProgramData", "Orvane")
    check(msiexec(machine, "/i", first) == (0, {"RegisterMachine"}), "first install")
    check(installed(machine) == shipped, sorted(installed(machine)))
    source = registry(machine, EVENT_SOURCE)
    check(source == {EVENT_SOURCE.replace("HKLM", "HKEY_LOCAL_MACHINE"): {
        "EventMessageFile": r"C:\Program Files\Orvane\OrvaneCli.exe",
        "TypesSupported": "0x7"}}, source)
    code, out = machine.run(r"C:\Program Files\Orvane\OrvaneCli.exe", "--version")
    check(code == 0 and out == "OrvaneCli %s\n" % VERSION, (code, out))
    entries = orvane_entries(machine)
    check(len(entries) == 1 and entries[0].get("Publisher") == "Doran"
          and entries[0].get("DisplayVersion") == VERSION and entries[0].get("NoModify") == "0x1",
          entries)
    icons = [values.get("ProductIcon", "") for values in
             registry(machine, r"HKLM\SOFTWARE\Classes\Installer\Products").values()
             if values.get("ProductName") == "Orvane"]
    check(len(icons) == 1 and icons[0].endswith("\\Orvane.ico"), icons)

    before = (installed(machine), registry(machine, EVENT_SOURCE), orvane_entries(machine))
    check(msiexec(machine, "/i", first)[0] == 0, "the same installer again")
    check((installed(machine), registry(machine, EVENT_SOURCE), orvane_entries(machine))
          == before, "the same installer again changed the installation")

    check(msiexec(machine, "/i", newer)[0] == 0, "upgrade")
    with open(os.path.join(work, "build-" + newer_version, "win", "bin", "Tessock.dll"), "rb") as f:
        check(installed(machine)["Tessock.dll"] == f.read(), "the upgrade kept the old library")
    entries = orvane_entries(machine)
    check([e.get("DisplayVersion") for e in entries] == [newer_version], entries)

    # The failures the README names: an older version, another build of the same one.
    for what, msi, expected in (("downgrade", first, 1603), ("same version", rebuilt, 1638)):
        code = msiexec(machine, "/i", msi)[0]
        check(code == expected, "%s: exit %d, not %d" % (what, code, expected))
    check([e.get("DisplayVersion") for e in orvane_entries(machine)] == [newer_version],
          "a refused installer changed the installation")

    # What runs left: a journal and a record; uninstalling keeps both.
    journal = os.path.join(data, "Journal")
    os.makedirs(journal, exist_ok=True)
    with open(os.path.join(journal, "20261109-101500-COM5.log"), "w") as f:
        f.write("journal\n")
    code, out = machine.run("reg", "add", r"HKLM\SOFTWARE\Orvane\Records\kavron-2026-11",
                            "/v", "Result", "/t", "REG_DWORD", "/d", "0", "/f")
    check(code == 0, out)
    check(msiexec(machine, "/x", newer) == (0, {"UnregisterMachine"}), "uninstall")
    check(installed(machine) == {}, sorted(installed(machine)))
    check(registry(machine, EVENT_SOURCE) is None, "the event source stayed")
    check(orvane_entries(machine) == [], "the uninstall entry stayed")
    check(os.listdir(journal) == ["20261109-101500-COM5.log"], os.listdir(journal))
    kept = registry(machine, r"HKLM\SOFTWARE\Orvane")
    check(kept is not None and all("InstallFolder" not in values for values in kept.values())
          and any(key.endswith("kavron-2026-11") for key in kept), kept)


# DLLs that Windows 7 to 11 always take from System32 (their KnownDLLs): a DLL outside this
# list named in an import table is looked for in the program's folder first, and that folder
# may be an update package. comctl32 comes through the manifest's Common-Controls dependency.
KNOWN_DLLS = {"advapi32", "clbcatq", "comdlg32", "difxapi", "gdi32", "imagehlp", "imm32",
              "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi",
              "rpcrt4", "sechost", "setupapi", "shell32", "shlwapi", "user32", "wldap32", "ws2_32"}
# IMAGE_DLLCHARACTERISTICS_: HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE.
PE_FLAGS = {"high-entropy ASLR": 0x20, "ASLR": 0x40, "DEP": 0x100, "terminal-server aware": 0x8000}
SUPPORTED_OS = {"Windows 7": "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                "Windows 8": "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                "Windows 8.1": "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                "Windows 10 and 11": "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}


def tool(name):
    return subprocess.run(["x86_64-w64-mingw32-" + name[0]] + name[1:], capture_output=True,
                          text=True, timeout=60, errors="replace")


def resources(path):
    """The binary's resources as windres writes them back as a script."""
    out = tool(["windres", "-i", path, "-O", "rc"])
    check(out.returncode == 0, out.stderr)
    return out.stdout


def manifest_of(script):
    """The RT_MANIFEST text of a resource script; None without one."""
    m = re.search(r"^1 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)^END", script, re.M | re.S)
    if m is None:
        return None
    raw = "".join(line.strip()[1:-1].replace('""', '"') for line in m.group(1).splitlines())
    return codecs.escape_decode(raw.encode("latin-1"))[0].decode("utf-8")


def case_binaries_import_system_dlls_only_and_say_what_they_are():
    numbers = ", ".join(VERSION.split("."))
    expected = {  # binary: (its version block, whether it has a manifest)
        "Orvane.exe": ("000C04B0", True),  # the block the about box reads
        "Tessock.dll": ("040C04B0", False),
        "OrvaneCli.exe": ("040C04B0", True),
    }
    for name, (block, has_manifest) in expected.items():
        path = os.path.join(BIN_DIR, name)
        headers = tool(["objdump", "-p", path])
        check(headers.returncode == 0, headers.stderr)
        script = resources(path)
        manifest = manifest_of(script)
        check((manifest is not None) == has_manifest, "%s: manifest %r" % (name, manifest))

        allowed = set(KNOWN_DLLS)
        if manifest and "Microsoft.Windows.Common-Controls" in manifest:
            allowed.add("comctl32")
        imports = {dll.lower()[:-4] for dll in re.findall(r"DLL Name: (\S+)", headers.stdout)}
        check("kernel32" in imports, "%s: no import table read: %s" % (name, sorted(imports)))
        check(imports <= allowed, "%s imports DLLs Windows may take from the program's folder: %s"
              % (name, sorted(imports - allowed)))

        flags = int(re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", headers.stdout, re.M)
                    .group(1), 16)
        missing = [what for what, bit in PE_FLAGS.items() if not flags & bit]
        check(not missing, "%s is not linked %s" % (name, ", ".join(missing)))

        check(re.search(r"^ FILEVERSION %s$" % numbers, script, re.M), name + ": FILEVERSION")
        m = re.search(r'BLOCK "StringFileInfo"\s*BEGIN\s*BLOCK "(\w+)"\s*BEGIN(.*?)\n    END',
                      script, re.S)
        check(m is not None and m.group(1) == block, "%s: version block %s"
              % (name, m and m.group(1)))
        values = dict(re.findall(r'VALUE "(\w+)", L?"([^"]*)"', m.group(2)))
        for key, value in (("FileVersion", numbers), ("ProductVersion", numbers),
                           ("OriginalFilename", name), ("CompanyName", "Doran")):
            check(values.get(key) == value, "%s: %s is %r" % (name, key, values.get(key)))
        check(values.get("LegalCopyright"), name + ": no LegalCopyright")
        check(re.search(r'VALUE "Translation", 0x%x, 1200' % int(block[:4], 16), script),
              name + ": the translation does not name the block")

        if manifest:
            check(re.search(r'requestedExecutionLevel level="asInvoker"', manifest),
                  name + ": not asInvoker")
            absent = [os_ for os_, guid in SUPPORTED_OS.items()
                      if '<supportedOS Id="{%s}"/>' % guid not in manifest]
            check(not absent, "%s: no supportedOS for %s" % (name, ", ".join(absent)))
            check('processorArchitecture="amd64"' in manifest, name + ": not an x64 manifest")

if __name__ == "__main__":
    sys.exit(run_case(globals(), sys.argv))
