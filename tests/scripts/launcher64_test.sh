#!/usr/bin/env bash
# The shipped 32-bit installer reports to a 64-bit launcher: the x64 vel-monitor (a 64-bit
# process, as launchers on players' machines are) starts the i686 installer silently with a
# GBK window title, and every WM_COPYDATA record must arrive intact and in order. Runs in the 32-bit runner, where both sizes run.
# Usage: launcher64_test.sh REPO INSTALLER_EXE(i686) MONITOR_EXE(x64) VELPACK_EXE WORK_PARENT
# Exits 77 (skipped) when the x64 monitor is not built.
set -uo pipefail

repo=$1 installer=$2 monitor=$3 velpack_exe=$4 parent=$5
run="$repo/scripts/wine32-run.sh"
[ -f "$installer" ] || { echo "FAIL: $installer is not built"; exit 1; }
[ -f "$monitor" ] || { echo "SKIP: no 64-bit monitor at $monitor (build the x64 tree)"; exit 77; }
command -v iconv >/dev/null || { echo "FAIL: iconv is not installed"; exit 1; }

work=$(mktemp -d "$parent/launcher64.XXXXXX") || { echo "FAIL: cannot make a folder under $parent"; exit 1; }
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# shellcheck source=velpack_tools.sh
. "$(dirname "$0")/velpack_tools.sh"
use_velpack "$repo" "$run" "$velpack_exe" || { echo "FAIL: no velpack at $velpack_exe"; exit 1; }

mkdir -p "$work/client/package" "$work/archive/Res" "$work/patch/Res" "$work/patch/说明"
printf 'ver=1.3.0.189\r\nexe=Velmora.exe\r\n' >"$work/client/update.cfg"
echo "old sword" >"$work/archive/Res/sword.dat"
velpack pack "$(host "$work/archive")" "$(host "$work/client/package/D010300BD.pkg")" >/dev/null ||
  { echo "FAIL: velpack pack (client archive)"; exit 1; }
printf 'D010300BD.pkg\r\n' >"$work/client/package/package.cfg"
printf 'ver=1.3.0.190\r\nexe=Velmora.exe\r\n' >"$work/patch/update.cfg"
echo "new sword" >"$work/patch/Res/sword.dat"
echo "说明" | iconv -f UTF-8 -t GBK >"$work/patch/说明/更新.txt"
velpack build --stub "$(host "$installer")" --folder "$(host "$work/patch")" --from 1.3.0.189 --to 1.3.0.190 \
  --kind full -o "$(host "$work/VelmoraPatch.exe")" >/dev/null || { echo "FAIL: velpack build"; exit 1; }
cp "$monitor" "$work/vel-monitor64.exe"

# A Chinese window title: Wine takes the Unix arguments as UTF-8, and the programs see it in
# code page 936 (GBK), as on the players' machines; the installer finds the window by it.
title='维摩拉启动器'
(cd "$work" && "$run" ./vel-monitor64.exe --title "$title" --timeout 300000 \
   -- "$(winpath "$work/VelmoraPatch.exe")" /S "/D=$(winpath "$work/client")" /user "$title") >"$work/monitor.txt" 2>&1
rc=$?
out=$(tr -d '\r' <"$work/monitor.txt")
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ "$rc" = 0 ] || bad "the monitor exited with $rc"
grep -qx 'EXIT 0' <<<"$out" || bad "the installer did not exit with 0"
# Every record as the 64-bit side decodes it: the tag, the data (a 32-bit value that -1 must
# reach as 4294967295, not sign- or zero-extended into 64 bits wrongly), no payload. The progress
# steps of this three-entry patch, then the completion record.
expected='COPYDATA tag=-15 data=0 (0) cb=0
COPYDATA tag=-15 data=10 (10) cb=0
COPYDATA tag=-15 data=39 (39) cb=0
COPYDATA tag=-15 data=69 (69) cb=0
COPYDATA tag=-15 data=100 (100) cb=0
COPYDATA tag=-15 data=100 (100) cb=0
COPYDATA tag=-15 data=4294967295 (-1) cb=0
EXIT 0'
[ "$out" = "$expected" ] || bad "the launcher received other records than the installer sent"
[ -f "$work/client/说明/更新.txt" ] || bad "the patch was not installed"
if [ "$fail" != 0 ]; then
  echo "--- monitor output"
  echo "$out"
  exit 1
fi
echo "ok: $(grep -c . <<<"$out") records from the 32-bit installer reached the 64-bit launcher intact"
