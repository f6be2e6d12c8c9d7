#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build tree for SECONDS (default 60), as many at once as
# there are processors, each on a scratch copy of its seeds (fuzz/corpus/TARGET) that is
# removed afterwards. Prints one line per target: the runs made and whether it crashed.
# A crash's input stays in FUZZDIR/artifacts/TARGET/ and its report in FUZZDIR/logs/.
# Exits 1 when any target crashed.
#
# usage: fuzz.sh FUZZDIR [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=${2:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz: SECONDS must be a whole number above 0, not '$seconds'" >&2
  exit 2
fi
mapfile -t targets < "$build/targets.txt"

scratch=$(mktemp -d "$build/scratch.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/logs"
# An undefined behaviour stops the run with its stack, as a crash.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
  local t=$1 rc=0
  rm -rf "$build/artifacts/$t"
  mkdir -p "$build/artifacts/$t" "$scratch/$t"
  cp -R "$here/fuzz/corpus/$t" "$scratch/$t/corpus"
  "$build/fuzz_$t" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t/" "$scratch/$t/corpus" >"$build/logs/$t.log" 2>&1 || rc=$?
  echo "$rc" >"$scratch/$t/rc"
}

echo "fuzz: ${#targets[@]} targets, ${seconds} s each, $(nproc) at a time"
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait

crashed=0
for t in "${targets[@]}"; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$t.log" | tail -n1)
  if [ "$(cat "$scratch/$t/rc")" = 0 ]; then
    printf '%-18s %12s runs  no crash\n' "$t" "${runs:-?}"
    continue
  fi
  crashed=1
  artifact=$(find "$build/artifacts/$t" -type f \( -name 'crash-*' -o -name 'leak-*' -o \
    -name 'timeout-*' -o -name 'oom-*' \) | head -n1)
  printf '%-18s %12s runs  CRASH: %s (report: %s)\n' "$t" "${runs:-?}" \
    "${artifact:-no artifact}" "$build/logs/$t.log"
  [ -z "$artifact" ] || echo "  reproduce: $build/fuzz_$t $artifact"
done
exit "$crashed"
