#!/usr/bin/env bash
# Sets up the runner for 32-bit Windows programs (run as root; idempotent, quick when done).
#
# This machine runs no 32-bit code natively, so the i386 side is emulated: QEMU's user-mode
# emulator qemu-i386 is registered through binfmt_misc with the flags OPF (F opens the emulator
# at registration, so it serves inside a chroot too), and a Debian bookworm chroot holds Wine
# with its 32-bit half (wine32:i386). The host's own Wine stays 64-bit only: the i386
# architecture is added inside the chroot, never on the host.
#
# Usage: runner32-setup.sh [--mounts-only]
# Environment: VEL_RUNNER32_ROOT (default /var/lib/velmora-runner32),
#   VEL_RUNNER32_MIRROR (default http://deb.debian.org/debian).
# The repository is mounted into the chroot at its own path, so paths are the same inside.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
root=${VEL_RUNNER32_ROOT:-/var/lib/velmora-runner32}
mirror=${VEL_RUNNER32_MIRROR:-http://deb.debian.org/debian}

if [ "$(id -u)" != 0 ]; then
  echo "runner32: must run as root (chroot, mounts, binfmt_misc)" >&2
  exit 1
fi

log() { echo "runner32: $*" >&2; }

# --- the emulator, registered for i386 ELF programs --------------------------------------
binfmt=/proc/sys/fs/binfmt_misc
ensure_binfmt() {
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  local qemu=/usr/bin/qemu-i386
  if [ -e "$binfmt/qemu-i386" ] && grep -q '^enabled' "$binfmt/qemu-i386" &&
     grep -q "interpreter $qemu" "$binfmt/qemu-i386" && grep -q '^flags: .*F' "$binfmt/qemu-i386"; then
    return 0
  fi
  [ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
  # i386 ELF executables and shared objects (e_machine 3).
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OPF' \
    >"$binfmt/register"
  log "registered $qemu for i386 programs"
}

# --- mounts the chroot needs at run time ----------------------------------------------------
ensure_mounts() {
  local m
  for m in proc dev dev/pts dev/shm sys; do
    mkdir -p "$root/$m"
  done
  mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
  mountpoint -q "$root/sys" || mount --rbind /sys "$root/sys"
  mountpoint -q "$root/dev" || mount --bind /dev "$root/dev"
  mountpoint -q "$root/dev/pts" || mount --bind /dev/pts "$root/dev/pts"
  mountpoint -q "$root/dev/shm" || mount --bind /dev/shm "$root/dev/shm"
  mkdir -p "$root$repo"
  # A mount left from an earlier folder of the same path (removed and cloned again) shows the
  # old, deleted folder: mounted again when it is not this very folder.
  if mountpoint -q "$root$repo" && [ "$(stat -c %d:%i "$root$repo")" != "$(stat -c %d:%i "$repo")" ]; then
    umount -l "$root$repo"
  fi
  mountpoint -q "$root$repo" || mount --bind "$repo" "$root$repo"
}

if [ "${1:-}" = --mounts-only ]; then
  ensure_binfmt
  ensure_mounts
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# qemu-user 10 from bookworm-backports: a Wine process starts in well under a second with it
# (the 7.2 of bookworm takes about a minute). It is a static program.
if ! have_pkg debootstrap || ! [ -x /usr/bin/qemu-i386 ] ||
   ! dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -q '^1:1[0-9]'; then
  if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "deb $mirror bookworm-backports main" >/etc/apt/sources.list.d/velmora-backports.list
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
fi
ensure_binfmt

# --- the chroot -----------------------------------------------------------------------------
if [ ! -f "$root/.vel-runner32-ready" ]; then
  if [ ! -x "$root/usr/bin/apt-get" ]; then
    log "debootstrap bookworm into $root (a few minutes)"
    rm -rf "$root"
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$(dirname "$root")/runner32-debootstrap.log" 2>&1 ||
      { tail -n 20 "$(dirname "$root")/runner32-debootstrap.log" >&2; exit 1; }
  fi
  ensure_mounts
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  log "installing Wine (wine32:i386 and wine64) in the chroot"
  chroot "$root" /bin/sh -ec '
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends wine wine64 wine32:i386 xvfb xauth locales \
      fonts-wqy-zenhei >/dev/null
    sed -i "s/^# *\(zh_CN.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^zh_CN.UTF-8 UTF-8" /etc/locale.gen || echo "zh_CN.UTF-8 UTF-8" >>/etc/locale.gen
    locale-gen >/dev/null
    apt-get clean
  '
  touch "$root/.vel-runner32-ready"
  log "ready: $root"
fi
ensure_mounts

# A quick check that 32-bit code runs: the chroot's i386 loader prints its help.
if ! chroot "$root" /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  log "32-bit programs do not start in $root (qemu-i386 through binfmt_misc)"
  exit 1
fi
exit 0
