#!/usr/bin/env bash
# Runs one command in the project folder inside an emulated 64-bit Debian machine (QEMU without
# hardware help), for the tests that run Wine on a machine whose kernel refuses 32-bit programs
# (scripts/check-machine.sh tells). Wine's 32-bit loader is an i386 Linux program; the emulated
# machine's own kernel runs it. Its exit code is the command's.
#   scripts/testvm.sh COMMAND [ARG ...]
#
# The machine: this release of Debian (debootstrap from the machine's own mirror), its kernel, and
# the packages `install-deps.sh --guest` names, as one disk image kept in $QUILLET_TESTVM_CACHE
# (default /var/cache/quillet-testvm), made again when install-deps.sh or the steps that make it change
# (about five minutes); making it needs root. Each run starts from the image unchanged.
# Inside it the project folder is shared at the same path; build/e2e, build/e2e-win64, build/demo and
# build/bench-wine, where the end-to-end runs, the demo and the benchmarks keep their Wine prefixes,
# are on a disk of the machine's own (build/testvm/scratch.img, made anew each run) since they need a
# Linux file system (immutable folders, mounts) and copy fast there; the transcripts, logs and
# screenshots are copied back there afterwards, the prefixes are not (Wine does not run on this
# machine's kernel).
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD

[ $# -gt 0 ] || { echo "usage: scripts/testvm.sh COMMAND [ARG ...]" >&2; exit 2; }

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

cache=${QUILLET_TESTVM_CACHE:-/var/cache/quillet-testvm}
codename=$( . /etc/os-release && echo "${VERSION_CODENAME:?}" )

# The mirror this machine's own apt uses for the main archive and for security updates.
mirror_for() {
  grep -rhoE "https?://[^ ]+/$1/?( |$)" /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 | tr -d ' ' | sed 's|/$||' || true
}

# PID 1 of the machine: mounts what a system needs, runs the run's own script, leaves its exit code
# beside it and powers off.
INIT='#!/bin/sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb
mount -t proc proc /proc 2>/dev/null
mount -t sysfs sys /sys 2>/dev/null
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mkdir -p /control
mount -t 9p -o trans=virtio,version=9p2000.L control /control
stty -onlcr -F /dev/console 2>/dev/null
bash /control/run
echo $? > /control/status
sync
echo o > /proc/sysrq-trigger
sleep 60'

make_image() {
  local mirror security work
  mirror=$(mirror_for debian); mirror=${mirror:-http://deb.debian.org/debian}
  security=$(mirror_for debian-security); security=${security:-http://deb.debian.org/debian-security}
  work=$image.new
  echo "testvm: making the test machine's image in $image (Debian $codename from $mirror; about five minutes)"
  as_root rm -rf "$work"
  as_root mkdir -p "$work"
  local tries=0
  until as_root debootstrap --variant=minbase --include=linux-image-amd64,initramfs-tools,kmod,procps \
      "$codename" "$work/root" "$mirror" >"$work.log" 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" = 2 ]; then
      tail -n 20 "$work.log" >&2
      echo "testvm: debootstrap failed twice (a mirror in the middle of a sync?)" >&2
      exit 1
    fi
    as_root rm -rf "$work/root"
  done
  as_root cp /etc/resolv.conf "$work/root/etc/resolv.conf"
  printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
    "$mirror" "$codename" "$mirror" "$codename" "$security" "$codename" |
    as_root tee "$work/root/etc/apt/sources.list" >/dev/null
  as_root chroot "$work/root" /bin/bash -s -- --guest < scripts/install-deps.sh
  as_root chroot "$work/root" apt-get clean
  printf '%s\n' "$INIT" | as_root tee "$work/root/sbin/quillet-testvm-init" >/dev/null
  as_root chmod 755 "$work/root/sbin/quillet-testvm-init"
  as_root cp "$work/root/boot/vmlinuz-"* "$work/vmlinuz"
  as_root cp "$work/root/boot/initrd.img-"* "$work/initrd.img"
  as_root chmod 644 "$work/vmlinuz" "$work/initrd.img"
  as_root mkfs.ext4 -q -d "$work/root" -F "$work/root.img" 6G
  as_root rm -rf "$work/root" "$work.log"
  # Images of earlier versions of this script go.
  as_root find "$cache" -mindepth 1 -maxdepth 1 ! -name "$key.new" -exec rm -rf {} +
  as_root mv "$work" "$image"
}

# The image is known by what makes it: the package script, the init and the steps above.
key=$( { cat scripts/install-deps.sh; printf '%s' "$INIT"; declare -f make_image; } | sha256sum | cut -c1-16)
image=$cache/$key
[ -f "$image/root.img" ] || make_image

state=$project/build/testvm
mkdir -p "$state"
control=$(mktemp -d "$state/run.XXXXXX")
trap 'rm -rf "$control"' EXIT
rm -f "$state/scratch.img"
truncate -s 40G "$state/scratch.img"
mkfs.ext4 -q -F "$state/scratch.img"

{
  echo "project=$(printf '%q' "$project")"
  printf 'command=('; printf '%q ' "$@"; echo ')'
  cat <<'EOF'
mkdir -p "$project" /scratch
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose project "$project" || exit 125
mount /dev/vdb /scratch || exit 125
for folder in e2e e2e-win64 demo bench-wine; do
  mkdir -p "/scratch/$folder" "$project/build/$folder"
  mount --bind "/scratch/$folder" "$project/build/$folder"
done
cd "$project"
echo "testvm: started"
PYTHONDONTWRITEBYTECODE=1 "${command[@]}" </dev/null
status=$?
# What the end-to-end runs kept of a failure and what the demo shows (transcripts, logs and
# screenshots, not whole prefixes) goes back to the same places in the shared folder.
for folder in e2e e2e-win64 demo bench-wine; do
  umount "$project/build/$folder"
  (cd "/scratch/$folder" && find . \( -path ./template -o -path ./prefix \) -prune -o -type f -size -4M \
     \( -name '*.log' -o -name '*.txt' -o -name '*.json*' -o -name '*.bmp' -o -name '*.png' -o -name '*.html' \) \
     -print) |
  while read -r file; do
    mkdir -p "$project/build/$folder/$(dirname "$file")"
    cp "/scratch/$folder/$file" "$project/build/$folder/$file"
  done
done
exit $status
EOF
} > "$control/run"

echo "testvm: this kernel refuses 32-bit programs; running \"$*\" in an emulated Debian machine"
# The CPU model is the plain one: with the emulator's newer models, the guest kernel faults on
# 32-bit programs' stack accesses.
qemu-system-x86_64 -machine pc -accel tcg,thread=multi -cpu qemu64 -smp "$(nproc)" -m 6G \
  -display none -monitor none -serial stdio -no-reboot -nic none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=1 init=/sbin/quillet-testvm-init" \
  -drive "file=$image/root.img,if=virtio,format=raw,snapshot=on" \
  -drive "file=$state/scratch.img,if=virtio,format=raw" \
  -virtfs "local,path=$project,mount_tag=project,security_model=none" \
  -virtfs "local,path=$control,mount_tag=control,security_model=none" \
  </dev/null 2>&1 | tee "$state/console.log" | sed -u -n '/testvm: started/,$p'

if [ ! -s "$control/status" ]; then
  echo "testvm: the machine stopped before the command ended; its console's last lines:" >&2
  tail -n 30 "$state/console.log" >&2
  exit 1
fi
status=$(cat "$control/status")
[ "$status" != 125 ] || { echo "testvm: the machine could not mount the project folder" >&2; tail -n 30 "$state/console.log" >&2; }
rm -f "$state/scratch.img"
exit "$status"
