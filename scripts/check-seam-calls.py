#!/usr/bin/env python3
"""Fails when a file that reaches Windows through Os() also calls one of the seam's calls
(GetLastError, GetProcAddress, ...) directly: only the seam's own files bind the real ones."""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
SEAM_FILES = {"winfw/OsSeam.h", "winfw/OsSeam.cpp"}
PRODUCT = ("app", "cli", "engine", "package", "terminal", "usbpos", "winfw")

listed = re.search(r"#define OV_OS_CALLS.*?[^\\]\n", (ROOT / "winfw/OsSeam.h").read_text(), re.S)[0]
calls = set(re.findall(r"(?:CALL\(|LATE\(\"[\w.]+\", )(\w+)", listed))
direct = re.compile(r"(?<![\w:>.])::(%s)\s*\(" % "|".join(sorted(calls)))
faults = []
for path in sorted(p for d in PRODUCT for p in (ROOT / d).rglob("*.[ch]*")):
    name = path.relative_to(ROOT).as_posix()
    text = path.read_text(encoding="utf-8", errors="replace")
    if name in SEAM_FILES or "Os()" not in text:
        continue
    for number, line in enumerate(text.splitlines(), 1):
        for match in direct.finditer(line.split("//")[0]):
            faults.append(f"{name}:{number}: ::{match.group(1)} beside Os(): call Os().{match.group(1)}")
print("\n".join(faults) or f"no call of the seam's {len(calls)} made around it")
sys.exit(1 if faults else 0)
