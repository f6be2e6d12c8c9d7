#!/usr/bin/env python3
"""Builds the release from a build tree, in build/release:
- Orvane-VERSION-x64.zip: the three Windows binaries, the operators' read-me (Windows-1252,
  CR LF, as Notepad shows it on any Windows), the administrators' guide (the README's section,
  UTF-8 with a byte-order mark, CR LF), the example package and SHA256SUMS (sha256sum's format,
  paths relative to the archive's top folder, every other file of the archive);
- Orvane-VERSION-x64.msi: the binaries and both guides, installed per machine (res/Orvane.wxs,
  built with wixl);
- SHA256SUMS of the archive and the installer, to check before unpacking;
and prints their SHA-256.

Both are reproducible: the archive's members come in a fixed order, with the commit's date
(the build tree's source-date.txt) and fixed attributes; the installer's summary times are the
commit's date (wixl reads only the clock: it runs under faketime), its files carry that date
in the cabinet, and its package code is a name-based UUID of its own bytes (wixl draws a random
one). Two builds of one commit give the same bytes before signing.

Signing (Authenticode, SHA-256, by osslsigncode, on copies in a staging folder before they
are packed), with the key in one of two places:
- OV_SIGN_PFX: a PKCS#12 file, its password in OV_SIGN_PASS;
- OV_SIGN_PKCS11_MODULE (the token's PKCS#11 module), OV_SIGN_PKCS11_KEY (the key's PKCS#11
  URI) and OV_SIGN_CERT (the certificate file): a key on a token, its PIN in OV_SIGN_PASS.
With OV_SIGN_TIMESTAMP (an RFC 3161 time-stamping URL) every signature is timestamped, so it
outlives its certificate. A signing or timestamping failure fails the release: no archive, no
installer.
Without a key the release is unsigned. The installer is signed too, after it is built from
the signed binaries.

usage: package-release.py [--out DIR] BUILD_DIR    (DIR: BUILD_DIR/release by default)
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARIES = ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe")
ADMIN_GUIDE = "ADMINISTRATORS.txt"
ADMIN_SECTION = "## For IT administrators"
# res/Orvane.wxs's upgrade code: the product code of each version is named under it.
UPGRADE_CODE = uuid.UUID("6F0B3C8E-2D4A-4F4B-9C21-5A7E0D913B64")


# Every member of the archive: a regular file, readable by all, as on any unpacking machine.
MEMBER_MODE = 0o100644
ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip member can carry


def signing_key(env):
    """osslsigncode's options naming the key, and what names it; None without a key.
    Exits when the key is named half or twice."""
    pfx = env.get("OV_SIGN_PFX", "")
    token = [env.get(name, "") for name in
             ("OV_SIGN_PKCS11_MODULE", "OV_SIGN_PKCS11_KEY", "OV_SIGN_CERT")]
    if pfx and any(token):
        sys.exit("release: OV_SIGN_PFX and OV_SIGN_PKCS11_* both set: name one key")
    if pfx:
        return ["-pkcs12", os.path.abspath(pfx)], pfx
    if any(token):
        if not all(token):
            sys.exit("release: a key on a token needs OV_SIGN_PKCS11_MODULE, OV_SIGN_PKCS11_KEY "
                     "and OV_SIGN_CERT")
        module, key, cert = token
        return (["-pkcs11module", module, "-certs", os.path.abspath(cert), "-key", key],
                "on the token of %s" % module)  # a key URI may carry its PIN: never shown
    return None


def sign(source, staging, key_options, password, timestamp):
    """The signed (and timestamped) copy of `source`, made in `staging`; exits on any failure."""
    signed = os.path.join(staging, os.path.basename(source))
    command = ["osslsigncode", "sign"] + key_options + ["-h", "sha256", "-n", "Orvane"]
    # The password or PIN goes through a file of the staging folder, never the command line.
    pass_file = os.path.join(staging, ".pass")
    if password:
        fd = os.open(pass_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(fd, "w") as f:
            f.write(password)
        command += ["-readpass", pass_file]
    if timestamp:
        command += ["-ts", timestamp]
    command += ["-in", source, "-out", signed]
    try:
        out = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=300)
    except (OSError, subprocess.TimeoutExpired) as e:
        sys.exit("release: cannot run osslsigncode: %s" % e)
    finally:
        if os.path.exists(pass_file):
            os.remove(pass_file)
    if out.returncode != 0 or not os.path.isfile(signed):
        sys.exit("release: signing %s failed:\n%s%s" % (os.path.basename(source), out.stdout,
                                                        out.stderr))
    return signed


def source_epoch(build):
    """The commit's date, as the build stamped the binaries with it (never before 1980)."""
    try:
        with open(os.path.join(build, "win", "source-date.txt")) as f:
            epoch = int(f.read().strip())
    except (OSError, ValueError):
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0") or 0)
    return max(epoch, ZIP_EPOCH)


def admin_guide():
    """The README's administrators' section, as a plain file Notepad reads on any Windows."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        lines = f.read().split("\n")
    try:
        start = next(i for i, line in enumerate(lines) if line.startswith(ADMIN_SECTION))
    except StopIteration:
        sys.exit("release: README.md has no section \"%s\"" % ADMIN_SECTION)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    text = "\n".join(lines[start:end]).strip() + "\n"
    return b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8")


def run_tool(command, what, cwd=None, env=None):
    try:
        out = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=300, cwd=cwd, env=env)
    except (OSError, subprocess.TimeoutExpired) as e:
        sys.exit("release: cannot run %s: %s" % (command[0], e))
    if out.returncode != 0:
        sys.exit("release: %s failed:\n%s%s" % (what, out.stdout, out.stderr))


def set_package_code(msi, code, subject):
    # msibuild -s rewrites the subject, author and template with the code: the same as wixl's.
    run_tool(["msibuild", msi, "-s", subject, "Doran", "x64;1036", "{%s}" % str(code).upper()],
             "setting the installer's package code")


def build_msi(files, icon, version, epoch, staging, msi):
    """Builds `msi` from res/Orvane.wxs and `files` ({name in Program Files: path}).
    Product code: one per version's first three numbers, which are all Windows Installer
    compares. Package code: the installer's own bytes with a zero code, so that two builds of
    one commit share it and any other build differs."""
    # wixl finds sources only by paths relative to its working folder.
    source = os.path.join(staging, "msi")
    os.makedirs(source)
    for name, path in files.items():
        target = os.path.join(source, name)
        shutil.copyfile(path, target)
        os.utime(target, (epoch, epoch))  # the cabinet records each file's time
    shutil.copyfile(icon, os.path.join(staging, "Orvane.ico"))
    numbers = version.split(".")
    product = uuid.uuid5(UPGRADE_CODE, "Orvane " + ".".join(numbers[:3]))
    stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(epoch))
    run_tool(["faketime", "-f", stamp, "wixl", "-a", "x64", "-o", msi,
              "-D", "Version=%s" % version, "-D", "ProductCode=%s" % str(product).upper(),
              "-D", "Staging=msi", "-D", "Icon=Orvane.ico",
              os.path.join(ROOT, "res", "Orvane.wxs")],
             "wixl", cwd=staging, env=dict(os.environ, TZ="UTC"))  # faketime reads local time
    subject = "Orvane %s" % version
    set_package_code(msi, uuid.UUID(int=0), subject)
    with open(msi, "rb") as f:
        code = uuid.uuid5(UPGRADE_CODE, hashlib.sha256(f.read()).hexdigest())
    set_package_code(msi, code, subject)


def member(name, date):
    info = zipfile.ZipInfo(name, date_time=date)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # attributes as Unix modes: the same whoever builds
    info.external_attr = MEMBER_MODE << 16
    return info


def publish(staged, out_dir):
    """Moves the staged files into `out_dir`, then writes SHA256SUMS of them there."""
    os.makedirs(out_dir, exist_ok=True)
    sums = ""
    for path in staged:
        name = os.path.basename(path)
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        shutil.move(path, os.path.join(out_dir, name))
        sums += "%s  %s\n" % (digest, name)
        print("SHA-256 %s  %s" % (digest, name))
    with open(os.path.join(out_dir, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
        f.write(sums)


def main(argv):
    args = argv[1:]
    out_dir = None
    if len(args) == 3 and args[0] == "--out":
        out_dir, args = os.path.abspath(args[1]), args[2:]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    build = os.path.abspath(args[0])
    out_dir = out_dir or os.path.join(build, "release")
    with open(os.path.join(build, "win", "version.txt")) as f:
        version = f.read().strip()
    top = "Orvane-%s-x64" % version
    with open(os.path.join(ROOT, "res", "LISEZMOI.txt"), encoding="utf-8") as f:
        readme = f.read().replace("\n", "\r\n").encode("cp1252")
    guide = admin_guide()
    sample = os.path.join(ROOT, "samples", "package")
    key = signing_key(os.environ)
    timestamp = os.environ.get("OV_SIGN_TIMESTAMP", "")
    password = os.environ.get("OV_SIGN_PASS", "")
    epoch = source_epoch(build)
    # Nothing reaches out_dir before everything is built and signed.
    with tempfile.TemporaryDirectory(prefix="ov-release-") as staging:
        binaries = [os.path.join(build, "win", "bin", name) for name in BINARIES]
        if key:
            binaries = [sign(path, staging, key[0], password, timestamp) for path in binaries]
            if timestamp:
                print("release: signed, timestamped by %s" % timestamp)
            else:
                print("release: signed, not timestamped (OV_SIGN_TIMESTAMP not set)")
            print("release: key %s" % key[1])
        else:
            print("release: unsigned")
        guides = os.path.join(staging, "guides")
        os.makedirs(guides)
        for name, data in (("LISEZMOI.txt", readme), (ADMIN_GUIDE, guide)):
            with open(os.path.join(guides, name), "wb") as f:
                f.write(data)
        installed = {os.path.basename(path): path for path in binaries}
        installed.update((name, os.path.join(guides, name)) for name in ("LISEZMOI.txt", ADMIN_GUIDE))

        # (path in the top folder, file to pack), in a fixed order
        files = list(installed.items())
        files += [("exemple/" + name, os.path.join(sample, name))
                  for name in sorted(os.listdir(sample))]
        date = time.gmtime(epoch)[:6]
        sums = ""
        archive = os.path.join(staging, top + ".zip")
        with zipfile.ZipFile(archive, "w") as z:
            for name, source in files:
                with open(source, "rb") as f:
                    data = f.read()
                z.writestr(member(top + "/" + name, date), data)
                sums += "%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
            z.writestr(member(top + "/SHA256SUMS", date), sums.encode("ascii"))

        msi = os.path.join(staging, "unsigned", top + ".msi")
        os.makedirs(os.path.dirname(msi))
        build_msi(installed, os.path.join(build, "win", "drawn", "orvane.ico"), version, epoch,
                  staging, msi)
        if key:
            msi = sign(msi, staging, key[0], password, timestamp)
        publish([archive, msi], out_dir)
    print(os.path.join(out_dir, top + ".zip"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
