#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; does nothing when all are present.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
      wine wine32:i386 wine64 xvfb xauth x11-utils
      imagemagick icoutils liblnk-utils file valgrind xdotool python3 e2fsprogs
      fonts-wine osslsigncode openssl)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  updated=0
fi
pkgs+=(python3-jsonschema python3-yaml)  # the package manager manifest's schema check
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ] || [ "${updated:-1}" = 0 ]; then
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
