#!/usr/bin/env bash
# Cross-builds zlib and libpng 1.6 for MinGW x64 from Debian's source packages into
# DEST/mingw (static libraries and headers). Done once; later calls return at once.
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$dest/mingw
[ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/lib/libz.a" ] && exit 0

# apt-get source needs deb-src entries for the archive the machine already uses.
if ! apt-get source --print-uris zlib >/dev/null 2>&1; then
  python3 "$here/scripts/add-deb-src.py"
  apt-get update -qq
fi

src=$dest/src
rm -rf "$src" && mkdir -p "$src"
(cd "$src" && apt-get source -qq zlib libpng1.6 >/dev/null 2>&1)
zdir=$(find "$src" -maxdepth 1 -type d -name 'zlib-*' | head -n1)
pngdir=$(find "$src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -n1)
[ -n "$zdir" ] && [ -n "$pngdir" ] || { echo "build-deps: zlib or libpng1.6 source missing" >&2; exit 1; }
toolchain=$here/cmake/mingw-w64-x86_64.cmake

# zlib: the static library only (Debian's source has no Windows resource for the DLL).
cmake -S "$zdir" -B "$dest/zlib-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -Wno-dev >/dev/null
cmake --build "$dest/zlib-build" --target zlibstatic -j"$(nproc)" >/dev/null
mkdir -p "$prefix/lib" "$prefix/include"
cp "$dest/zlib-build/libzlibstatic.a" "$prefix/lib/libz.a"
cp "$zdir/zlib.h" "$dest/zlib-build/zconf.h" "$prefix/include/"

cmake -S "$pngdir" -B "$dest/png-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" >/dev/null
cmake --build "$dest/png-build" -j"$(nproc)" >/dev/null
cmake --install "$dest/png-build" >/dev/null
echo "build-deps: zlib and libpng installed in $prefix"
