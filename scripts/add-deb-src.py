#!/usr/bin/env python3
"""Adds deb-src entries mirroring the machine's own Debian archive entries, with the same
options (signed-by above all: apt refuses two entries for one source that differ in it),
so that `apt-get source` works. Prints nothing and changes nothing when one exists."""
import glob
import re
import sys

OUT_LIST = "/etc/apt/sources.list.d/project-deb-src.list"
OUT_SOURCES = "/etc/apt/sources.list.d/project-deb-src.sources"


def is_debian_archive(uri):
    return re.search(r"/debian/?$", uri) is not None


def one_line_entries(text):
    for line in text.splitlines():
        m = re.match(r"^\s*(deb|deb-src)\s+(\[[^\]]*\]\s+)?(\S+)\s+(.*)$", line)
        if m:
            yield m.group(1), m.group(2) or "", m.group(3), m.group(4)


def stanzas(text):
    for block in re.split(r"\n\s*\n", text):
        fields = {}
        for line in block.splitlines():
            m = re.match(r"^([A-Za-z-]+):\s*(.*)$", line)
            if m:
                fields[m.group(1)] = m.group(2)
        if fields:
            yield fields


def main():
    lists = ["/etc/apt/sources.list"] + glob.glob("/etc/apt/sources.list.d/*.list")
    deb822 = glob.glob("/etc/apt/sources.list.d/*.sources")
    new_lines, new_stanzas = [], []
    for path in lists:
        try:
            text = open(path).read()
        except OSError:
            continue
        for kind, options, uri, rest in one_line_entries(text):
            if kind == "deb-src" and is_debian_archive(uri):
                return 0
            if kind == "deb" and is_debian_archive(uri):
                new_lines.append("deb-src %s%s %s" % (options, uri, rest))
    for path in deb822:
        for fields in stanzas(open(path).read()):
            uris = fields.get("URIs", "").split()
            types = fields.get("Types", "").split()
            if not any(is_debian_archive(u) for u in uris):
                continue
            if "deb-src" in types:
                return 0
            if "deb" in types:
                fields["Types"] = "deb-src"
                new_stanzas.append("\n".join("%s: %s" % kv for kv in fields.items()))
    if new_lines:
        open(OUT_LIST, "w").write("\n".join(new_lines) + "\n")
    if new_stanzas:
        open(OUT_SOURCES, "w").write("\n\n".join(new_stanzas) + "\n")
    if not new_lines and not new_stanzas:
        sys.exit("add-deb-src: no Debian archive entry to mirror")
    return 0


if __name__ == "__main__":
    sys.exit(main())
