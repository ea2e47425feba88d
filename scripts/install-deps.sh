#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; does nothing when all are present.
# With --guest, only those that running the Wine tests needs (scripts/testvm.sh's machine).
# A mirror caught in the middle of a sync (an index that fails to download, amd64 and i386 twins
# at different versions) does not stop it: the install is tried once more with the release's own
# suite as the default release. It exits non-zero, naming the packages, when any is still missing.
set -euo pipefail

os_release=${INSTALL_DEPS_OS_RELEASE:-/etc/os-release}  # tests point this at their own file

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
      wine wine32:i386 wine64 xvfb xauth x11-utils
      imagemagick icoutils liblnk-utils file valgrind xdotool python3 e2fsprogs
      fonts-wine osslsigncode openssl)
pkgs+=(python3-jsonschema python3-yaml)  # the package manager manifest's schema check
pkgs+=(zlib1g-dev libz-mingw-w64-dev)  # deflate for the packer and the payload reader, in both builds
pkgs+=(time)  # GNU time: the bench's peak resident size of a host program
pkgs+=(qemu-system-x86 debootstrap)  # the emulated machine, where the kernel refuses 32-bit programs
if [ "${1:-}" = --guest ]; then
  pkgs=(wine wine32:i386 wine64 xvfb xauth x11-utils xdotool imagemagick liblnk-utils file python3
        fonts-wine e2fsprogs procps)
fi

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  arch_added=1
fi
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
[ ${#need[@]} -gt 0 ] || [ "${arch_added:-0}" = 1 ] || exit 0

echo "install-deps: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! as_root apt-get update -qq; then
  echo "install-deps: some package indexes could not be downloaded (a mirror in sync?); going on with the ones apt has"
fi
[ ${#need[@]} -gt 0 ] || exit 0

# Never remove an installed package to make room, never downgrade one (apt-get refuses a
# downgrade under -y unless --allow-downgrades is given).
install() { as_root apt-get install -y -qq --no-install-recommends --no-remove "$@" "${need[@]}"; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! install >"$log" 2>&1; then
  codename=$( . "$os_release" && echo "${VERSION_CODENAME:-}" )
  if [ -n "$codename" ]; then
    echo "install-deps: the install did not resolve; trying again with $codename as the default release"
    install -t "$codename" >"$log" 2>&1 || true
  fi
fi

missing=()
for p in "${need[@]}"; do have "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  tail -n 20 "$log" >&2
  echo "install-deps: could not install ${missing[*]}." >&2
  echo "install-deps: the likely cause is a package mirror in the middle of a sync (indexes or amd64 and i386 versions that do not match); try again later." >&2
  exit 1
fi
