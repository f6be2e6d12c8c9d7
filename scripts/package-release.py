#!/usr/bin/env python3
"""Builds the release archive from a build tree: build/release/Orvane-VERSION-x64.zip with
the three Windows binaries, the operators' read-me (Windows-1252, CR LF, as Notepad shows
it on any Windows) and the example package.

usage: package-release.py BUILD_DIR
"""
import os
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARIES = ("Orvane.exe", "Tessock.dll", "OrvaneCli.exe")


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    build = os.path.abspath(argv[1])
    with open(os.path.join(build, "win", "version.txt")) as f:
        version = f.read().strip()
    top = "Orvane-%s-x64" % version
    out_dir = os.path.join(build, "release")
    os.makedirs(out_dir, exist_ok=True)
    archive = os.path.join(out_dir, top + ".zip")
    with open(os.path.join(ROOT, "res", "LISEZMOI.txt"), encoding="utf-8") as f:
        readme = f.read().replace("\n", "\r\n").encode("cp1252")
    sample = os.path.join(ROOT, "samples", "package")
    with zipfile.ZipFile(archive + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
        for name in BINARIES:
            z.write(os.path.join(build, "win", "bin", name), top + "/" + name)
        z.writestr(top + "/LISEZMOI.txt", readme)
        for name in sorted(os.listdir(sample)):
            z.write(os.path.join(sample, name), top + "/exemple/" + name)
    os.replace(archive + ".tmp", archive)
    print(archive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
