#!/usr/bin/env bash
# Entry point on a fresh Debian 12 machine (as root): installs what the project needs,
# then runs one make target: demo, test, bench, release or build.
set -euo pipefail
cd "$(dirname "$0")"
target=${1:-build}
BUILD_DIR=$(pwd)/build scripts/setup.sh
exec make "$target"
