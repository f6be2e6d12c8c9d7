#!/usr/bin/env bash
# Builds this commit a second time, from a fresh clone in another folder and without the
# compiler cache, and compares its unsigned binaries, release archive and installer with those
# of the build tree, byte for byte. Exit 0 when they are identical, 1 when they differ.
#   check-reproducible.sh BUILD_DIR    (the tree `make build` made from this commit)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
binaries=(Orvane.exe Tessock.dll OrvaneCli.exe)

if [ -n "$(git -C "$here" status --porcelain --untracked-files=no)" ]; then
  echo "check-reproducible: uncommitted changes; the build is not that of a commit" >&2
  exit 2
fi
commit=$(git -C "$here" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-reproducible-XXXXXX")
trap 'rm -rf "$work"' EXIT
unsigned() { env -u OV_SIGN_PFX -u OV_SIGN_PKCS11_MODULE -u OV_SIGN_PKCS11_KEY -u OV_SIGN_CERT "$@"; }

echo "check-reproducible: commit $commit"
unsigned python3 "$here/scripts/package-release.py" --out "$work/first" "$build" >/dev/null

git clone -q "$here" "$work/src"
git -C "$work/src" checkout -q --detach "$commit"
second=$work/src/build
echo "check-reproducible: second build in $work/src"
# The second build's output is shown only when it fails.
log=$work/second-build.log
if ! { "$work/src/scripts/build-deps.sh" "$second/deps" &&
       env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER \
         cmake -S "$work/src" -B "$second/win" \
         -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-w64-x86_64.cmake" \
         -DCMAKE_BUILD_TYPE=Release -DOV_DEPS_DIR="$second/deps/mingw" &&
       cmake --build "$second/win" --target Orvane OrvaneCli Tessock -j"${JOBS:-$(nproc)}"
     } >"$log" 2>&1; then
  cat "$log" >&2
  echo "check-reproducible: the second build failed" >&2
  exit 2
fi
unsigned python3 "$work/src/scripts/package-release.py" --out "$work/second" "$second" >/dev/null

status=0
compare() { # NAME FIRST SECOND
  if cmp -s "$2" "$3"; then
    echo "same      $(sha256sum "$2" | cut -d' ' -f1)  $1"
  else
    echo "DIFFERENT $(sha256sum "$2" | cut -d' ' -f1) / $(sha256sum "$3" | cut -d' ' -f1)  $1"
    status=1
  fi
}
for name in "${binaries[@]}"; do
  compare "$name" "$build/win/bin/$name" "$second/win/bin/$name"
done
for made in $(cd "$work/first" && ls *.zip *.msi); do
  compare "$made" "$work/first/$made" "$work/second/$made"
done
if [ $status -eq 0 ]; then
  echo "check-reproducible: identical; sign only after this comparison"
else
  echo "check-reproducible: the two builds differ" >&2
fi
exit $status
