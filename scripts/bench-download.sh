#!/usr/bin/env bash
# Download benchmark: a 200 KB file to readersim pacing the wire at 115200 baud.
# Prints the achieved throughput as a ratio of the protocol's limit (per block: the wire
# time of a 128-byte block and its 32-byte reply, plus the 1 ms wait) and the updater's
# CPU time as a share of the transfer's wall time; then the reader's restart wait of a whole
# update, as a ratio of its specified 30 s. One run, ratios only; no assertion.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
wine_run=$build/win/wine-run
prefix=$build/win/wineprefix
work=$(mktemp -d -t orvane-bench.XXXXXX)
size=${BENCH_SIZE:-204800}
sim=
# At the end: the simulator stopped, the prefix's server (and display) ended; the work
# folder removed after a good run, kept and named after a failed one.
finish() {
  local code=$?
  set +e   # every step is tried, whatever the one before did
  [ -n "$sim" ] && { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; }
  "$wine_run" --stop
  if [ "$code" -eq 0 ]; then
    rm -rf "$work"
  else
    echo "bench: failed; the reader's files and the runs' output are kept in $work" >&2
  fi
  exit "$code"
}
trap finish EXIT
trap 'exit 130' INT   # stopped by a signal: the same clean-up, as a failure
trap 'exit 143' TERM

"$wine_run" cmd /c exit </dev/null >/dev/null 2>&1 || true
"$build/host/sim/readersim" --com "$prefix/dosdevices/com31" --pace --outdir "$work" \
  --summary "$work/summary.json" --lifetime 600 >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q READY "$work/sim.out" 2>/dev/null && break; sleep 0.1; done

head -c "$size" /dev/urandom >"$work/bench.bin"
server_pid=$(pgrep -n -x wineserver || true)
server_cpu() { [ -n "$server_pid" ] && awk '{print $14 + $15}' "/proc/$server_pid/stat" || echo 0; }
ticks=$(getconf CLK_TCK)
s0=$(server_cpu)
"$wine_run" "$build/win/bin/OrvaneCli.exe" send COM31 "Z:${work//\//\\}\\bench.bin" BENCH \
  </dev/null >"$work/cli.out" 2>"$work/cli.err" || true
s1=$(server_cpu)
kill -TERM $sim; wait $sim 2>/dev/null || true

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
"$build/host/sim/readersim" --com "$prefix/dosdevices/com31" --model M30 \
  --options 00ff0003010000000000000000 --apps SANTE --outdir "$work" --lifetime 300 \
  >"$work/sim2.out" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q READY "$work/sim2.out" 2>/dev/null && break; sleep 0.1; done
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
