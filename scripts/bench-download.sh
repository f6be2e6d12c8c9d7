#!/usr/bin/env bash
# Download benchmark: a 200 KB file to readersim pacing the wire at 115200 baud.
# Prints the achieved throughput as a ratio of the protocol's limit (per block: the wire
# time of a 128-byte block and its 32-byte reply, plus the 1 ms wait) and the updater's
# CPU time as a share of the transfer's wall time; then the reader's restart wait of a whole
# update, as a ratio of its specified 30 s; then four readers updated at once against one
# alone, as the ratio of their wall times, with the updater's CPU share. One run, ratios
# only; no assertion.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
wine_run=$build/win/wine-run
prefix=$build/win/wineprefix
work=$(mktemp -d -t orvane-bench.XXXXXX)
size=${BENCH_SIZE:-204800}
. "$(dirname "$0")/work-folder.sh"
end_with_work_folder bench "the reader's files and the runs' output"

"$wine_run" cmd /c exit </dev/null >/dev/null 2>&1 || true
start_sim "$work/sim.out" --com "$prefix/dosdevices/com31" --pace --outdir "$work" \
  --summary "$work/summary.json" --lifetime 600

head -c "$size" /dev/urandom >"$work/bench.bin"
server_pid=$(pgrep -n -x wineserver || true)
server_cpu() { [ -n "$server_pid" ] && awk '{print $14 + $15}' "/proc/$server_pid/stat" || echo 0; }
ticks=$(getconf CLK_TCK)
s0=$(server_cpu)
"$wine_run" "$build/win/bin/OrvaneCli.exe" send COM31 "Z:${work//\//\\}\\bench.bin" BENCH \
  </dev/null >"$work/cli.out" 2>"$work/cli.err" || true
s1=$(server_cpu)
stop_sims

python3 - "$work" "$size" "$s0" "$s1" "$ticks" <<'PY'
import json, math, re, sys
work, size, s0, s1, ticks = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
err = open(work + "/cli.err").read()
m = re.search(r"download: (\d+) bytes in ([\d.]+) s, CPU ([\d.]+) s, result (\d+)", err)
if not m or m.group(4) != "0":
    sys.exit("benchmark run failed:\n" + err)
wall, cpu = float(m.group(2)), float(m.group(3))
same = open(work + "/bench.bin", "rb").read() == open(work + "/BENCH.BIN", "rb").read()
blocks = math.ceil(size / 122)
per_block = (128 + 32) * 10 / 115200 + 0.001
limit = blocks * per_block
print("file %d bytes, %d blocks, received intact: %s" % (size, blocks, "yes" if same else "NO"))
print("protocol limit %.3f s, achieved %.3f s" % (limit, wall))
print("throughput ratio (limit time / achieved time): %.3f" % (limit / wall))
print("updater CPU share of wall time: %.2f%%" % (100 * cpu / wall))
print("wineserver CPU over the whole command (search included): %.2f s" % ((s1 - s0) / ticks))
PY

# The reader's restart wait of a whole update: a package of one loader file, run headless.
# The wait is specified as 30 s; the ratio says how long it really lasted.
pkg=$work/package
mkdir -p "$pkg"
sample=$(cd "$(dirname "$0")/.." && pwd)/samples/package
cp "$sample/3648LDR.SGN" "$sample/ContraintesM30.ini" "$pkg/"
sed -n '1,/^\[FICHIER A CHARGER\]/p' "$sample/catalogueM30.ini" >"$pkg/catalogueM30.ini"
printf '3648LDR.SGN\r\n' >>"$pkg/catalogueM30.ini"
start_sim "$work/sim2.out" --com "$prefix/dosdevices/com31" --model M30 \
  --options 00ff0003010000000000000000 --apps SANTE --outdir "$work" --lifetime 300
(cd "$pkg" && "$wine_run" "$build/win/bin/OrvaneCli.exe" update COM31 </dev/null \
  >"$work/update.out" 2>"$work/update.err") || true
python3 - "$work/update.err" <<'PY'
import re, sys
err = open(sys.argv[1], encoding="utf-8", errors="replace").read()
files = dict((t, float(s)) for s, t in re.findall(r"\[ *([0-9.]+) s\] file: (.*)", err))
start, end = files.get("Redémarrage du lecteur..."), files.get("Recherche du terminal...")
if start is None or end is None:
    sys.exit("restart wait not seen:\n" + err)
print("restart wait %.2f s, specified 30 s: ratio %.3f" % (end - start, (end - start) / 30.0))
PY
stop_sims

# The sample package on readers pacing the wire, one alone, then four at once: each has its
# own thread and port, so four should take hardly longer than one.
start_readers() {   # start_readers FIRST_PORT COUNT
  for n in $(seq "$1" $(($1 + $2 - 1))); do
    start_sim "$work/sim$n.out" --com "$prefix/dosdevices/com$n" --pace --model M30 \
      --options 00ff0003010000000000000000 --apps SANTE,TIERSPAYANT,LECTEUR \
      --outdir "$work/r$n" --lifetime 300
  done
}
for n in 41 42 43 44; do mkdir -p "$work/r$n"; done
start_readers 41 1
(cd "$sample" && "$wine_run" "$build/win/bin/OrvaneCli.exe" update COM41 </dev/null \
  >"$work/one.out" 2>"$work/one.err") || true
stop_sims
start_readers 41 4
(cd "$sample" && "$wine_run" "$build/win/bin/OrvaneCli.exe" update COM41 COM42 COM43 COM44 \
  </dev/null >"$work/four.out" 2>"$work/four.err") || true
stop_sims
python3 - "$work" <<'PY'
import re, sys
work = sys.argv[1]
def cost(name, runs):
    err = open("%s/%s.err" % (work, name), encoding="utf-8", errors="replace").read()
    out = open("%s/%s.out" % (work, name), encoding="utf-8", errors="replace").read()
    m = re.search(r"update: %d run\(s\) in ([\d.]+) s, CPU ([\d.]+) s" % runs, err)
    ok = out.startswith("La mise") if runs == 1 else out.count("\t0\t") == runs
    if not m or not ok:
        sys.exit("%s: the update failed:\n%s%s" % (name, out, err[-2000:]))
    return float(m.group(1)), float(m.group(2))
one, _ = cost("one", 1)
four, cpu = cost("four", 4)
print("whole update, one reader %.2f s, four at once %.2f s: ratio %.3f (target at most 1.10)"
      % (one, four, four / one))
print("updater CPU share of wall time with four readers: %.2f%%" % (100 * cpu / four))
PY
