#!/usr/bin/env bash
# Cross-builds libpng 1.6 for MinGW x64 from Debian's source package into DEST/mingw (static).
# zlib comes from Debian's libz-mingw-w64-dev.
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$dest/mingw
[ -f "$prefix/lib/libpng16.a" ] && exit 0

# apt-get source needs a deb-src line for the mirror and suite the machine already uses.
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  mirror=$(awk '/^URIs:/ && /debian\/?$/ {print $2; exit} /^deb / && $2 ~ /debian\/?$/ {print $2; exit}' \
           /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  mirror=${mirror:-http://deb.debian.org/debian}
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  {
    echo "Types: deb-src"; echo "URIs: $mirror"; echo "Suites: $suite"; echo "Components: main"
    [ -f "$keyring" ] && echo "Signed-By: $keyring"
  } > /etc/apt/sources.list.d/project-deb-src.sources
  apt-get update -qq
fi

src=$dest/src
rm -rf "$src" && mkdir -p "$src"
(cd "$src" && apt-get source -qq libpng1.6 >/dev/null 2>&1)
pngdir=$(find "$src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -n1)
[ -n "$pngdir" ] || { echo "build-libpng: no libpng1.6 source" >&2; exit 1; }

cmake -S "$pngdir" -B "$dest/png-build" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR= \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
  -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include >/dev/null
cmake --build "$dest/png-build" -j"$(nproc)" >/dev/null
cmake --install "$dest/png-build" >/dev/null
echo "build-libpng: libpng installed in $prefix"
