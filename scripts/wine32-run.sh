#!/usr/bin/env bash
# Runs a Windows program in the 32-bit runner (scripts/runner32-setup.sh): the same
# scripts/wine-run.sh as the x64 tests, inside the bookworm chroot whose Wine has its 32-bit
# half, with the i386 side emulated by qemu-i386. 32-bit and 64-bit programs both run there;
# the prefix is a separate one, "build/wineprefix32".
# Usage: wine32-run.sh program.exe [args...]     exit code is the program's
#        wine32-run.sh --sh command [args...]     runs a Linux command in the chroot (the
#                                                 Wine session script, wineserver -k, ...)
# The working folder and DISPLAY carry over, and every VEL_* and GTEST_* variable; the
# repository has the same path inside. Needs root (chroot); run the set-up script once first.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
root=${VEL_RUNNER32_ROOT:-/var/lib/velmora-runner32}

if [ $# -lt 1 ]; then
  echo "usage: $0 program.exe [args...] | --sh command [args...]" >&2
  exit 2
fi
if [ ! -f "$root/.vel-runner32-ready" ]; then
  echo "wine32-run: no runner in $root (run scripts/runner32-setup.sh as root)" >&2
  exit 125
fi
# Mounts and the emulator's registration do not survive a restart of the machine.
if ! mountpoint -q "$root$repo" || ! mountpoint -q "$root/proc" ||
   [ "$(stat -c %d:%i "$root$repo")" != "$(stat -c %d:%i "$repo")" ] ||
   ! [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  bash "$here/runner32-setup.sh" --mounts-only || exit 125
fi

if [ "$1" = --sh ]; then
  shift
  cmd=("$@")
else
  cmd=(bash "$here/wine-run.sh" "$@")
fi

env_args=(PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8)
[ -n "${DISPLAY:-}" ] && env_args+=("DISPLAY=$DISPLAY")
while IFS='=' read -r name _; do
  case "$name" in
    VEL_WINEPREFIX) ;;
    VEL_*|GTEST_*) env_args+=("$name=${!name}") ;;
  esac
done < <(env)
env_args+=("VEL_WINEPREFIX=${VEL_WINEPREFIX32:-$repo/build/wineprefix32}")

# shellcheck disable=SC2016
exec chroot "$root" /usr/bin/env -i "${env_args[@]}" \
  /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$PWD" "${cmd[@]}"
