# Sourced by the demo and the benchmark, after they set `build`, `wine_run` and `work`.
# Simulated readers started with start_sim are stopped, `stop_more` (when the caller defines
# it) stops what else it started, and the prefix's server is ended, whatever happens; the
# work folder is removed after a good run, kept and named after a failed one. INT and TERM
# end the run as failures, with the same clean-up.

sims=()

# start_sim OUTPUT ARG...: readersim with ARG..., its output in OUTPUT, awaited until ready.
start_sim() {
  local output=$1
  shift
  "$build/host/sim/readersim" "$@" >"$output" 2>&1 &
  sims+=($!)
  for _ in $(seq 100); do grep -q READY "$output" 2>/dev/null && break; sleep 0.1; done
}

# Stops every reader start_sim started; each writes its summary as it ends.
stop_sims() {
  local p
  for p in "${sims[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  sims=()
}

# end_with_work_folder WHO WHAT: the clean-up above at the script's end; WHAT names what a
# failed run keeps in the work folder.
end_with_work_folder() {
  work_folder_who=$1
  work_folder_what=$2
  trap finish_work_folder EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

finish_work_folder() {
  local code=$?
  set +e   # every step is tried, whatever the one before did
  stop_sims
  declare -F stop_more >/dev/null && stop_more
  "$wine_run" --stop
  if [ "$code" -eq 0 ]; then
    rm -rf "$work"
  else
    echo "$work_folder_who: failed; $work_folder_what are kept in $work" >&2
  fi
  exit "$code"
}
