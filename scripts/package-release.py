#!/usr/bin/env python3
"""Builds the release archive from a build tree: build/release/Orvane-VERSION-x64.zip with
the three Windows binaries, the operators' read-me (Windows-1252, CR LF, as Notepad shows
it on any Windows), the example package and SHA256SUMS (sha256sum's format, paths relative
to the archive's top folder, every other file of the archive), and prints its SHA-256.

The archive is reproducible: its members come in a fixed order, with the commit's date
(the build tree's source-date.txt) and fixed attributes, so two builds of one commit give
the same bytes before signing.

Signing (Authenticode, SHA-256, by osslsigncode, on copies in a staging folder before they
are packed), with the key in one of two places:
- OV_SIGN_PFX: a PKCS#12 file, its password in OV_SIGN_PASS;
- OV_SIGN_PKCS11_MODULE (the token's PKCS#11 module), OV_SIGN_PKCS11_KEY (the key's PKCS#11
  URI) and OV_SIGN_CERT (the certificate file): a key on a token, its PIN in OV_SIGN_PASS.
With OV_SIGN_TIMESTAMP (an RFC 3161 time-stamping URL) every signature is timestamped, so it
outlives its certificate. A signing or timestamping failure fails the release: no archive.
Without a key the release is unsigned.

usage: package-release.py [--out DIR] BUILD_DIR    (DIR: BUILD_DIR/release by default)
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARIES = ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe")


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


def source_date(build):
    """The commit's date, as the build stamped the binaries with it (never before 1980)."""
    try:
        with open(os.path.join(build, "win", "source-date.txt")) as f:
            epoch = int(f.read().strip())
    except (OSError, ValueError):
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0") or 0)
    return time.gmtime(max(epoch, ZIP_EPOCH))[:6]


def member(name, date):
    info = zipfile.ZipInfo(name, date_time=date)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # attributes as Unix modes: the same whoever builds
    info.external_attr = MEMBER_MODE << 16
    return info


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
    archive = os.path.join(out_dir, top + ".zip")
    with open(os.path.join(ROOT, "res", "LISEZMOI.txt"), encoding="utf-8") as f:
        readme = f.read().replace("\n", "\r\n").encode("cp1252")
    sample = os.path.join(ROOT, "samples", "package")
    key = signing_key(os.environ)
    timestamp = os.environ.get("OV_SIGN_TIMESTAMP", "")
    with tempfile.TemporaryDirectory(prefix="ov-release-") as staging:
        binaries = [os.path.join(build, "win", "bin", name) for name in BINARIES]
        if key:
            binaries = [sign(path, staging, key[0], os.environ.get("OV_SIGN_PASS", ""), timestamp)
                        for path in binaries]
            if timestamp:
                print("release: signed, timestamped by %s" % timestamp)
            else:
                print("release: signed, not timestamped (OV_SIGN_TIMESTAMP not set)")
            print("release: key %s" % key[1])
        else:
            print("release: unsigned")
        # (path in the top folder, file to pack or the contents themselves), in a fixed order
        files = [(os.path.basename(path), path) for path in binaries]
        files.append(("LISEZMOI.txt", readme))
        files += [("exemple/" + name, os.path.join(sample, name))
                  for name in sorted(os.listdir(sample))]
        date = source_date(build)
        sums = ""
        os.makedirs(out_dir, exist_ok=True)
        with zipfile.ZipFile(archive + ".tmp", "w") as z:
            for name, source in files:
                if isinstance(source, bytes):
                    data = source
                else:
                    with open(source, "rb") as f:
                        data = f.read()
                z.writestr(member(top + "/" + name, date), data)
                sums += "%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
            z.writestr(member(top + "/SHA256SUMS", date), sums.encode("ascii"))
    os.replace(archive + ".tmp", archive)
    with open(archive, "rb") as f:
        print("SHA-256 %s  %s" % (hashlib.sha256(f.read()).hexdigest(), os.path.basename(archive)))
    print(archive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
