#!/usr/bin/env python3
"""Builds the release archive from a build tree: build/release/Orvane-VERSION-x64.zip with
the three Windows binaries, the operators' read-me (Windows-1252, CR LF, as Notepad shows
it on any Windows), the example package and SHA256SUMS (sha256sum's format, paths relative
to the archive's top folder, every other file of the archive).

When OV_SIGN_PFX names a PKCS#12 certificate (its password in OV_SIGN_PASS), the binaries
are signed with Authenticode (SHA-256) by osslsigncode, as copies in a staging folder, before
they are packed; a signing failure fails the release. Without it the release is unsigned.

usage: package-release.py [--out DIR] BUILD_DIR    (DIR: BUILD_DIR/release by default)
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARIES = ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe")


def sign(source, staging, pfx, password):
    """The signed copy of `source`, made in `staging`; exits on any failure."""
    signed = os.path.join(staging, os.path.basename(source))
    # The password goes through a file of the staging folder, never the command line.
    pass_file = os.path.join(staging, ".pass")
    fd = os.open(pass_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write(password)
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-h", "sha256", "-n", "Orvane",
               "-in", source, "-out", signed]
    if password:
        command[4:4] = ["-readpass", pass_file]
    try:
        out = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    except OSError as e:
        sys.exit("release: cannot run osslsigncode: %s" % e)
    finally:
        os.remove(pass_file)
    if out.returncode != 0 or not os.path.isfile(signed):
        sys.exit("release: signing %s failed:\n%s%s" % (os.path.basename(source), out.stdout,
                                                        out.stderr))
    return signed


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
    os.makedirs(out_dir, exist_ok=True)
    archive = os.path.join(out_dir, top + ".zip")
    with open(os.path.join(ROOT, "res", "LISEZMOI.txt"), encoding="utf-8") as f:
        readme = f.read().replace("\n", "\r\n").encode("cp1252")
    sample = os.path.join(ROOT, "samples", "package")
    pfx = os.environ.get("OV_SIGN_PFX", "")
    with tempfile.TemporaryDirectory(prefix="ov-release-") as staging:
        binaries = [os.path.join(build, "win", "bin", name) for name in BINARIES]
        if pfx:
            binaries = [sign(path, staging, os.path.abspath(pfx), os.environ.get("OV_SIGN_PASS", ""))
                        for path in binaries]
            print("release: signed with %s" % pfx)
        else:
            print("release: unsigned (OV_SIGN_PFX not set)")
        # (path in the top folder, file to pack or the contents themselves)
        files = [(os.path.basename(path), path) for path in binaries]
        files.append(("LISEZMOI.txt", readme))
        files += [("exemple/" + name, os.path.join(sample, name))
                  for name in sorted(os.listdir(sample))]
        sums = ""
        with zipfile.ZipFile(archive + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
            for name, source in files:
                if isinstance(source, bytes):
                    z.writestr(top + "/" + name, source)
                    data = source
                else:
                    z.write(source, top + "/" + name)
                    with open(source, "rb") as f:
                        data = f.read()
                sums += "%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
            z.writestr(top + "/SHA256SUMS", sums.encode("ascii"))
    os.replace(archive + ".tmp", archive)
    print(archive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
