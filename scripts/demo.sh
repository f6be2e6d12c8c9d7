#!/usr/bin/env bash
# The demo: OrvaneCli.exe under Wine lists the COM ports, finds the simulated reader on COM5,
# reads its description and applications, checks the sample package against it, sends a
# sample file with its progress bar, runs the whole update of the sample package without
# windows as a deployment tool would (the port found by itself, a JSON report), and as a depot
# station (two readers plugged in one after the other); then Orvane.exe, the updater itself, runs the whole update
# again through its windows (on the caller's display, or on the prefix's own Xvfb), worked by
# the windriver tool as an operator would, with screenshots in BUILD/.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
wine_run=$build/win/wine-run
cli=$build/win/bin/OrvaneCli.exe
prefix=$build/win/wineprefix
work=$(mktemp -d -t orvane-demo.XXXXXX)
portdev=$build/win/tools/portdev.exe
instance='USB\VID_079B&PID_0028\5&1234&0&4'
orvane_pid=
. "$(dirname "$0")/work-folder.sh"
station_pid=
station_instances=('USB\VID_079B&PID_0028\5&1234&0&8' 'USB\VID_079B&PID_0028\5&1234&0&9')
# Besides the simulator and the prefix's server: the updater and the depot station stopped
# and the devices removed.
stop_more() {
  [ -n "$orvane_pid" ] && kill "$orvane_pid" 2>/dev/null
  [ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null
  for i in "$instance" "${station_instances[@]}"; do
    "$wine_run" "$portdev" remove "$i" </dev/null >/dev/null 2>&1 || true
  done
}
end_with_work_folder demo "the reader's files and logs"

"$wine_run" cmd /c exit </dev/null >/dev/null 2>&1 || true   # prefix and server up first
# The reader's USB serial device as Windows would list it, registered in the prefix for the
# demo and removed again at the end.
"$wine_run" "$portdev" remove "$instance" </dev/null >/dev/null 2>&1 || true
"$wine_run" "$portdev" add "$instance" COM5 "DORAN Kavron USB" </dev/null >/dev/null
start_sim "$work/sim.out" --com "$prefix/dosdevices/com5" --model M30 \
  --options 00ff0003010000000000000000 --apps "SANTE,TIERSPAYANT,LECTEUR" --baud 38400 \
  --pace --outdir "$work" --summary "$work/summary.json" --log "$work/sim.log" --lifetime 600

step() { printf '\n== %s\n' "$*"; }
run() { printf '$ OrvaneCli %s\n' "$*"; "$wine_run" "$cli" "$@" </dev/null; }

head -c 20000 /dev/urandom >"$work/demo.bin"
step "COM ports as the port library Tessock.dll lists them"
run ports
echo "(Each search first asks Tessock.dll for the port's USB position: the driver key of the
 device on COM5 is found, but Wine has no USB tree, so the position stays unknown; the
 lookup is tried three times, 1 s apart, before the port is probed.)"
step "Reader search on COM5 (the reader answers at 38400 baud only), with diagnostic lines"
run -v find "Port COM5 (COM5)"
step "Reader description: model code and the 97 bytes"
run describe COM5
step "Applications on the reader"
run apps COM5
step "Package check in samples/package: what an update would decide, and its load list"
root=$(cd "$(dirname "$0")/.." && pwd)
(cd "$root/samples/package" && run check COM5)
step "Sending a 20000-byte file at 115200 baud"
code=0
run send COM5 "Z:${work//\//\\}\\demo.bin" DEMO || code=$?
if cmp -s "$work/demo.bin" "$work/DEMO.BIN"; then
  step "The reader received DEMO.BIN byte for byte (download result $code)"
else
  step "The reader did NOT receive the file intact (download result $code)"; exit 1
fi

step "The whole update of samples/package, without windows, as a deployment tool starts it:
   the reader's port found by itself, a JSON report left behind (the reader restarts after
   the loader's files: the update waits 30 s for it, then finds it again)"
code=0
(cd "$root/samples/package" && run update --auto --report "Z:${work//\//\\}\\report.json") || code=$?
python3 - "$work/report.json" <<'PY' || code=1
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
print("report: result %d, package %s" % (report["result"], report["package"]))
for run in report["runs"]:
    sent = [f for f in run["files"] if f["sent"]]
    print("  %s: result %d, model %s, %d of %d files sent (%d bytes)" % (
        run["port"], run["result"], run["model"], len(sent), len(run["files"]),
        sum(f["bytes"] for f in sent)))
PY
bad=0
for f in $(sed -n '/^\[FICHIER A CHARGER\]/,$p' "$root/samples/package/catalogueM30.ini" | tr -d '\r' | tail -n +2); do
  cmp -s "$root/samples/package/$f" "$work/$f" || { echo "  $f did not arrive intact"; bad=1; }
done
if [ "$code" = 0 ] && [ "$bad" = 0 ]; then
  step "Update result $code: the reader received every file of the package byte for byte"
else
  step "Update result $code: the update did NOT complete"; exit 1
fi
# What the reader keeps of this run is put away: the windows' run must send it all again.
for f in $(sed -n '/^\[FICHIER A CHARGER\]/,$p' "$root/samples/package/catalogueM30.ini" | tr -d '\r' | tail -n +2); do
  rm -f "$work/$f"
done

step "A depot station: update --watch, two readers plugged in one after the other; each is
   updated and verified as it comes, a line \"q\" on its input ends the watch"
for n in 8 9; do
  mkdir -p "$work/station$n"
  start_sim "$work/station$n/sim.out" --com "$prefix/dosdevices/com$n" --model M30 \
    --options 00ff0003010000000000000000 --apps "SANTE,TIERSPAYANT,LECTEUR" --baud 38400 \
    --outdir "$work/station$n" --log "$work/station$n/sim.log" --lifetime 600
done
# The first reader is put aside meanwhile: a station would update it too.
"$wine_run" "$portdev" remove "$instance" </dev/null >/dev/null
mkfifo "$work/station.in"
printf '$ OrvaneCli update --watch --report station.json\n'
(cd "$root/samples/package" && exec "$wine_run" "$cli" update --watch --report \
   "Z:${work//\//\\}\\station.json" >"$work/station.out" 2>"$work/station.err" <"$work/station.in") &
station_pid=$!
exec 3>"$work/station.in"   # held open: the end of its input does not end a station
while [ ! -e "$work/station.out" ]; do sleep 0.1; done
tail -n +1 -f "$work/station.out" &
tail_pid=$!
# awaited TEXT: the station's output says TEXT within 4 minutes.
awaited() { for _ in $(seq 240); do grep -q "$1" "$work/station.out" && return 0; sleep 1; done; return 1; }
echo "(the first reader plugged in on COM8)"
"$wine_run" "$portdev" add "${station_instances[0]}" COM8 "DORAN Kavron USB" </dev/null >/dev/null
awaited "COM8: reader plugged in" && sleep 15
echo "(the second reader plugged in on COM9)"
"$wine_run" "$portdev" add "${station_instances[1]}" COM9 "DORAN Kavron USB" </dev/null >/dev/null
code=0
awaited "COM8: result" && awaited "COM9: result" || code=1
echo q >&3
exec 3>&-
wait $station_pid || code=$?
station_pid=
sleep 0.5
kill $tail_pid 2>/dev/null; wait $tail_pid 2>/dev/null || true
for i in "${station_instances[@]}"; do
  "$wine_run" "$portdev" remove "$i" </dev/null >/dev/null 2>&1 || true
done
"$wine_run" "$portdev" add "$instance" COM5 "DORAN Kavron USB" </dev/null >/dev/null
if [ "$code" = 0 ]; then
  step "The depot station ended with 0: both readers updated and verified"
else
  step "The depot station ended with $code: an update did NOT complete"; exit 1
fi

# The updater itself, in the sample package directory.
orvane=$build/win/bin/Orvane.exe
windriver=$build/win/tools/windriver.exe
title='Mise à jour des lecteurs de cartes Vitale'
export LC_ALL=C.UTF-8   # the driver reads window captions from its command line
drive() { "$wine_run" "$windriver" "$@" </dev/null; }
shown() { drive "$@" | sed -e 's/\\n/\n    /g' -e 's/\\r//g'; }
screen() {
  local display=${DISPLAY:-}
  [ -n "$display" ] || display=:$(cut -d' ' -f2 "$prefix.display")
  import -display "$display" -window root "$1"
  echo "(screenshot: $1)"
}
rm -f "$build/demo-main-window.png" "$build/demo-progress.png" "$build/demo-result-box.png"
step "Orvane.exe started in samples/package: the main window lists the ports once a second"
(cd "$root/samples/package" && exec "$wine_run" "$orvane" </dev/null >"$work/orvane.out" 2>&1) &
orvane_pid=$!
drive wait "$title" 30000
drive waitselected "$title" 1019 "DORAN Kavron USB (COM5)" 15000
printf 'Reader type:   '; shown text "$title" 1043
printf 'Port selected: '; shown selected "$title" 1019
printf 'Detection:     '; shown text "$title" 1028
sleep 0.5
screen "$build/demo-main-window.png"
step "Démarrer: the whole update in the progress window (the reader restarts once: 30 s)"
drive click "$title" 1014
drive wait Chargement 15000
last=
while drive wait Chargement 100 >/dev/null 2>&1; do
  # The window may close between the two questions: that ends the loop, not the demo.
  now="$(drive text Chargement 1005 2>/dev/null || true) | $(drive text Chargement 1018 2>/dev/null || true)"
  [ "$now" != "$last" ] && echo "  $now"
  last=$now
  case $now in *"Module en cours"*) [ -f "$build/demo-progress.png" ] || screen "$build/demo-progress.png" ;; esac
  sleep 1
done
step "The outcome, as the main window reports it"
shown box Orvane 60000
sleep 0.3
screen "$build/demo-result-box.png"
drive answer Orvane 10000
drive close "$title"
wait $orvane_pid || true
orvane_pid=
missing=0
for file in 3648LDR.SGN 3648LDR.LDF K30APP.SGN K30APP.LDF K30CFG.SGN K30CFG.ADF VIT3777.PDF \
            VIT3778.PDF TABLES.DDF 3592PARAM.BIN LISEZMOI.TXT; do
  cmp -s "$root/samples/package/$file" "$work/$file" || { echo "  $file: NOT received intact"; missing=1; }
done
if [ $missing -eq 0 ]; then
  step "The reader received the 11 files of the package byte for byte"
else
  step "The update did NOT deliver every file intact"; exit 1
fi
