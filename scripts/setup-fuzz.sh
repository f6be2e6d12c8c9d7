#!/usr/bin/env bash
# Installs what the fuzz targets need: the host clang with its libFuzzer and sanitizer
# runtimes, and libpng for the picture decoder. Only `make fuzz` calls it; the other
# targets never need it. Idempotent.
set -euo pipefail

packages=(clang libclang-rt-dev libpng-dev cmake make)

"$(dirname "$0")/apt-install.sh" setup-fuzz "${packages[@]}"
