#!/usr/bin/env bash
# Takes the README's pictures of the player's dialog: one while an installation runs and one
# after it. The installer runs in dialog mode under Wine on an X server of its own, with a
# Chinese font standing in for SimSun (宋体); vel_ui_shots.exe plays the installation and says
# when each state is on screen, and this script photographs the screen and crops the dialog.
# Writes docs/dialog-installing.png and docs/dialog-done.png.
#
# Usage: scripts/screenshots.sh [entry count]   (entries in the patch; more makes a slower install)
# Environment: VEL_SHOTS_TREE=<x86_64 build folder> (default build/x64, built here when needed),
#   VEL_SHOTS_WINEPREFIX (default build/screenshots/wineprefix, a prefix of its own because its
#   font settings are changed).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
tree=${VEL_SHOTS_TREE:-$repo/build/x64}
entries=${1:-4000}
shot_timeout=300   # seconds for the whole run, building the patch included

die() { echo "screenshots: $*" >&2; exit 1; }

# What the pictures need beyond the build's own dependencies.
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in xvfb wine wine64 fonts-wqy-zenhei; do have_pkg "$p" || need+=("$p"); done
command -v import >/dev/null 2>&1 || need+=(imagemagick)
if [ ${#need[@]} -gt 0 ]; then
  echo "screenshots: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || die "apt-get update failed"
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null || die "cannot install ${need[*]}"
fi

# The installer and the driver, 64-bit: this machine runs no 32-bit Windows code.
if [ "$tree" = "$repo/build/x64" ]; then
  VEL_SKIP_DEPS=1 VEL_BUILD_TARGETS="VelmoraPatch vel_ui_shots" bash "$here/build.sh" x64 >/dev/null ||
    die "building the x64 tree failed (bash scripts/build.sh x64 shows why)"
else
  cmake --build "$tree" -j "${VEL_JOBS:-2}" --target VelmoraPatch vel_ui_shots >/dev/null ||
    die "building VelmoraPatch and vel_ui_shots in $tree failed"
fi
driver="$tree/bin/vel_ui_shots.exe"
if [ ! -f "$driver" ] || [ ! -f "$tree/bin/VelmoraPatch.exe" ]; then
  die "no $driver or VelmoraPatch.exe"
fi

export VEL_WINEPREFIX="${VEL_SHOTS_WINEPREFIX:-$repo/build/screenshots/wineprefix}"
mkdir -p "$repo/docs" "$(dirname "$VEL_WINEPREFIX")"
work=$(mktemp -d "${TMPDIR:-/tmp}/vel-shots.XXXXXX")
driver_pid=""

# shellcheck source=lib.sh
. "$here/lib.sh"
finish() {
  [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null
  # Wine's processes are bound to this X server: end them before the server goes.
  (
    flock -x -w 60 9
    WINEPREFIX="$VEL_WINEPREFIX" wineserver -k >/dev/null 2>&1 9>&- || true
  ) 9>>"$VEL_WINEPREFIX.lock"
  vel_xvfb_stop
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM
vel_xvfb_start || die "cannot start Xvfb"

# The dialog asks for 宋体 (SimSun); WenQuanYi Zen Hei draws it. Without a window manager the
# X server would not draw title bars, so Wine draws its windows' frames itself.
wine_reg() { bash "$here/wine-run.sh" reg add "$@" /f >/dev/null 2>&1; }
for name in 宋体 SimSun; do
  wine_reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" /t REG_SZ /d "WenQuanYi Zen Hei" ||
    die "cannot set the font replacement for $name"
done
wine_reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N || die "cannot set the X11 driver options"

# The client folder of a player's machine, made in the prefix's drive C: for the run (a run
# that was interrupted may have left it behind).
rm -rf "$VEL_WINEPREFIX/drive_c/Games/Velmora"
(cd "$work" && exec bash "$here/wine-run.sh" "$driver" "$entries" 'C:\Games\Velmora') &
driver_pid=$!

# The driver writes "<state>.rect" (x y width height of the dialog) and waits for "<state>.taken".
deadline=$((SECONDS + shot_timeout))
for state in installing "done"; do
  while [ ! -f "$work/$state.rect" ]; do
    kill -0 "$driver_pid" 2>/dev/null || die "the driver ended before the $state picture"
    [ $SECONDS -lt $deadline ] || die "no $state state within $shot_timeout s"
    sleep 0.05
  done
  read -r x y w h <"$work/$state.rect" || die "unreadable $state.rect"
  out="$repo/docs/dialog-$state.png"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out" || die "import failed"
  touch "$work/$state.taken"
  echo "screenshots: $out (${w}x${h})"
done

wait "$driver_pid"
rc=$?
driver_pid=""
[ $rc = 0 ] || die "the driver failed (exit code $rc)"
echo "screenshots: done"
