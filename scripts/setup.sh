#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine needs to build, test and demo the project.
# nlohmann-json writes the console's JSON report (its headers only); osslsigncode signs the
# release when a certificate is named (the release cases test that, with a certificate openssl
# makes; a key on a token through PKCS#11, with a SoftHSM token the release cases make).
# wixl builds the installer, msitools' msibuild sets its package code, and faketime gives wixl
# the commit's date as its clock (the installer's summary times).
# Idempotent: packages are installed once, libpng is built once into the build
# tree's cache.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}

packages=(g++-mingw-w64-x86-64 util-linux wine64 xvfb imagemagick x11-utils
          googletest cmake make g++ python3 dpkg-dev fonts-liberation
          osslsigncode openssl nlohmann-json3-dev
          softhsm2 libengine-pkcs11-openssl wixl msitools faketime)

"$here/scripts/apt-install.sh" setup "${packages[@]}"

"$here/scripts/build-deps.sh" "$build/deps"
