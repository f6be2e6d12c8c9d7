#!/usr/bin/env bash
# Entry point on a fresh Debian 12 machine (as root): installs what the project needs,
# then runs one make target: demo, test, bench, release or build; or `fuzz [SECONDS]`,
# which installs only what fuzzing needs (its make target does); or `release
# --check-reproducible`, which builds the commit a second time elsewhere and compares.
set -euo pipefail
cd "$(dirname "$0")"
target=${1:-build}
if [ "$target" = fuzz ] && [ $# -le 2 ]; then
  exec make fuzz ${2:+FUZZ_SECONDS="$2"}
fi
if [ "$target" = release ] && [ "${2:-}" = --check-reproducible ] && [ $# -eq 2 ]; then
  target=release-check
elif [ $# -gt 1 ]; then
  echo "usage: $0 [demo|test|bench|release|build] | $0 release --check-reproducible" \
       "| $0 fuzz [SECONDS]" >&2
  exit 2
fi
BUILD_DIR=$(pwd)/build scripts/setup.sh
exec make "$target"
