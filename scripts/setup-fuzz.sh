#!/usr/bin/env bash
# Installs what the fuzz targets need: the host clang with its libFuzzer and sanitizer
# runtimes, and libpng for the picture decoder. Only `make fuzz` calls it; the other
# targets never need it. Idempotent.
set -euo pipefail

packages=(clang libclang-rt-dev libpng-dev cmake make)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-fuzz: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
