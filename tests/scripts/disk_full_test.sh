#!/usr/bin/env bash
# A client on a nearly full disk: the installer extracts its package, finds too little room for
# the update (its peak: the rebuilt archive and the unpacked plain files staged beside the
# originals), asks with the "磁盘空间不足" box naming the drive and the shortfall, and on Cancel
# reports 510 to its monitor, ends with exit code 1 and leaves the client exactly as it was
# (patch.pkg removed again). Retry with nothing freed asks again; free space exactly equal to
# the need asks for 1 B. The disk is a small tmpfs.
# Usage: disk_full_test.sh REPO INSTALLER_EXE MONITOR_EXE VELPACK_EXE WORK_PARENT
# Exits 77 (skipped) when a tmpfs cannot be mounted here.
set -uo pipefail

repo=$1 installer=$2 monitor=$3 velpack_exe=$4 parent=$5
wine_run="$repo/scripts/wine-run.sh"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

for f in "$installer" "$monitor"; do
  [ -f "$f" ] || { echo "FAIL: $f is not built"; exit 1; }
done
command -v iconv >/dev/null || { echo "FAIL: iconv is not installed"; exit 1; }

work=$(mktemp -d "$parent/disk_full.XXXXXX") || { echo "FAIL: cannot make a folder under $parent"; exit 1; }
disk="$work/disk"
mounted=0
cleanup() {
  if [ "$mounted" = 1 ]; then
    umount "$disk" 2>/dev/null || umount -l "$disk" 2>/dev/null ||
      echo "WARNING: could not unmount $disk"
  fi
  mountpoint -q "$disk" 2>/dev/null || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$disk" "$work/patch" "$work/old/Res" "$work/run"
if ! mount -t tmpfs -o size=4m tmpfs "$disk" 2>"$work/mount.err"; then
  echo "SKIP: cannot mount a tmpfs here (needs root with mount rights): $(cat "$work/mount.err")"
  exit 77
fi
mounted=1

# shellcheck source=velpack_tools.sh
. "$(dirname "$0")/velpack_tools.sh"
use_velpack "$repo" "$wine_run" "$velpack_exe" || { echo "FAIL: no velpack at $velpack_exe"; exit 1; }

# Incompressible bytes, the same on every run.
noise() {
  if command -v openssl >/dev/null; then
    head -c "$1" /dev/zero |
      openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv 0 2>/dev/null
  else
    head -c "$1" /dev/urandom
  fi
}

# The patch: about 900 KB that deflate cannot shrink, and the new update.cfg.
noise 921600 >"$work/patch/big.bin"
printf 'ver=1.3.0.190\r\n' >"$work/patch/update.cfg"
velpack pack "$(host "$work/patch")" "$(host "$work/patch.pkg")" >/dev/null || { echo "FAIL: velpack pack (patch)"; exit 1; }
velpack build --stub "$(host "$installer")" --package "$(host "$work/patch.pkg")" --from 1.3.0.189 --to 1.3.0.190 \
  --kind full -o "$(host "$work/run/VelmoraPatch.exe")" >/dev/null || { echo "FAIL: velpack build"; exit 1; }
# The client's own archive, which the update would extend.
noise 8000 >"$work/old/Res/old.bin"
velpack pack "$(host "$work/old")" "$(host "$work/old.pkg")" >/dev/null || { echo "FAIL: velpack pack (client archive)"; exit 1; }
P=$(stat -c %s "$work/patch.pkg")
A=$(stat -c %s "$work/old.pkg")
# The plain files of the patch, unpacked: staged beside the originals during the run.
U=$(( $(stat -c %s "$work/patch/big.bin") + $(stat -c %s "$work/patch/update.cfg") ))

client="$disk/client"
mkdir -p "$client/package"
printf 'ver=1.3.0.189\r\nexe=Velmora.exe\r\n' >"$client/update.cfg"
printf 'D010300BD.pkg\r\n' >"$client/package/package.cfg"
cp "$work/old.pkg" "$client/package/D010300BD.pkg"
# Left by an earlier run; the update would remove it once it starts.
printf 'old.txt\r\n' >"$client/UpdateDelList.txt"

free_bytes() { stat -f -c '%a %S' "$disk" | awk '{ printf "%d", $1 * $2 }'; }
page=4096
pkg_on_disk=$(( (P + page - 1) / page * page ))
# patch.pkg must still fit; what stays free after it is about half of what the update needs.
want_free=$(( pkg_on_disk + (P + A + U) / 2 ))
filler=$(( ($(free_bytes) - want_free) / page * page ))
[ "$filler" -gt 0 ] || { echo "FAIL: the tmpfs is too small for this layout"; exit 1; }
head -c "$filler" /dev/zero >"$disk/filler" || { echo "FAIL: cannot write the filler"; exit 1; }

snapshot() {
  # Folders without times: making patch.pkg touches the client folder's own.
  (cd "$client" && { find . -type d -printf 'd %p %m\n'; find . -type f -printf 'f %p %s %m %T@\n'; } | sort &&
    find . -type f -exec md5sum {} + | sort -k2)
}
snapshot >"$work/before.txt"

# The size as the installer prints it: "%d B", or "%.2f" KB/MB/GB above 1024, 1048576 and
# 1073741824 bytes. An exact tie in the second decimal may round either way.
formats() {
  local n=$1 div unit
  if [ "$n" -gt 1073741824 ]; then div=1073741824 unit=GB
  elif [ "$n" -gt 1048576 ]; then div=1048576 unit=MB
  elif [ "$n" -gt 1024 ]; then div=1024 unit=KB
  else echo "$n B"; return; fi
  local q=$(( n * 100 / div )) r=$(( n * 100 % div ))
  local candidates=()
  if [ $(( 2 * r )) -lt "$div" ]; then candidates=("$q")
  elif [ $(( 2 * r )) -gt "$div" ]; then candidates=($(( q + 1 )))
  else candidates=("$q" $(( q + 1 ))); fi
  for c in "${candidates[@]}"; do printf '%d.%02d %s\n' $(( c / 100 )) $(( c % 100 )) "$unit"; done
}

# Runs the installer under a monitor answering the box with the given buttons in turn.
run_installer() {
  local out=$1; shift
  local title="VelDiskFull $$"
  local answers=()
  for b in "$@"; do answers+=(--answer "磁盘空间不足=$b"); done
  "$wine_run" "$monitor" --title "$title" "${answers[@]}" --timeout 60000 --cwd "$(winpath "$work/run")" \
    --args "/S /D=$(winpath "$client") /user $title" -- "$(winpath "$work/run/VelmoraPatch.exe")" >"$out" 2>&1
  echo "--- monitor ($*):"; cat "$out"
}

result_text='客户端安装路径的硬盘空间不足以执行此次更新'
result_hex="$(printf '%s' "$result_text" | iconv -f UTF-8 -t GBK | od -An -tx1 -v | tr -d ' \n')00"
result_cb=$(( ${#result_hex} / 2 ))

# What every refused run must show: the boxes (all with the same text, one per answer), one 510
# result and nothing else to the monitor, exit code 1, and the client untouched.
check_run() {
  local out=$1; shift
  local answers=("$@")
  grep -qx 'EXIT 1' "$out" || bad "the installer did not end with exit code 1"
  grep -q '^TIMEOUT' "$out" && bad "the installer did not end in time"
  local copydata
  copydata=$(grep -c '^COPYDATA' "$out")
  [ "$copydata" = 1 ] || bad "expected exactly one message to the monitor, got $copydata"
  grep -qx "COPYDATA tag=-16 data=510 (510) cb=$result_cb text=\"$result_text\" hex=$result_hex" "$out" ||
    bad "no result 510 with \"$result_text\""

  [ -e "$client/patch.pkg" ] && bad "patch.pkg was left in the client"
  # The check ran with the free space left after patch.pkg was written; the run removed it again.
  local free needed shortfall
  free=$(( $(free_bytes) - pkg_on_disk ))
  needed=$(( P + A + U ))
  [ "$free" -le "$needed" ] || { bad "the layout left $free bytes free, more than the $needed needed"; return; }
  shortfall=$(( needed - free + 1 ))
  echo "package $P + archive $A + plain files $U = $needed bytes needed, $free free: short by $shortfall bytes"

  local boxes
  boxes=$(grep -c '^BOX ' "$out")
  [ "$boxes" = "${#answers[@]}" ] || bad "expected ${#answers[@]} box(es), got $boxes"
  local i=0 line matched f
  while IFS= read -r line; do
    matched=0
    while IFS= read -r f; do
      [ "$line" = "BOX caption=\"磁盘空间不足\" text=\"检查到Velmora客户端所在的磁盘空间不足，\\n请清理[Z:]盘空间，至少还需要$f！\\n\" button=${answers[$i]}" ] &&
        matched=1
    done < <(formats "$shortfall")
    [ "$matched" = 1 ] || bad "box $((i + 1)) is not the one expected for a shortfall of $shortfall bytes ($(formats "$shortfall" | paste -sd/)) answered ${answers[$i]}: $line"
    i=$((i + 1))
  done < <(grep '^BOX ' "$out")

  snapshot >"$work/after.txt"
  diff "$work/before.txt" "$work/after.txt" >"$work/diff.txt" || { cat "$work/diff.txt"; bad "the client folder changed"; }

  local log="$work/run/install.log"
  if iconv -f GBK -t UTF-8 "$log" 2>/dev/null | tr -d '\r' >"$work/log.txt"; then
    grep -q "$result_text" "$work/log.txt" || bad "install.log lacks the result text"
    grep -q '发送错误消息:510' "$work/log.txt" || bad "install.log lacks 发送错误消息:510"
    grep -q '正在准备安装更新包' "$work/log.txt" && bad "the installation went on after the refusal"
    grep -q '失败 -' "$work/log.txt" && bad "the check or the extraction failed before the disk check"
    tail -n 1 "$work/log.txt" | grep -q '升级失败！$' || bad "install.log does not end with 升级失败！"
    [ $fail = 0 ] || cat "$work/log.txt"
  else
    bad "no readable install.log beside the installer"
  fi
}

run_installer "$work/cancel.txt" IDCANCEL
check_run "$work/cancel.txt" IDCANCEL

# Retry with nothing freed asks again with the same figures; Cancel then ends the run as before.
run_installer "$work/retry.txt" IDRETRY IDCANCEL
check_run "$work/retry.txt" IDRETRY IDCANCEL

# Free space exactly equal to the need is still too little: the box asks for 1 B. The archive
# is padded so that the need is a whole number of tmpfs pages (only its length is read here).
rm -f "$disk/filler"
head -c $(( (page - (P + A + U) % page) % page )) /dev/zero >>"$client/package/D010300BD.pkg"
A=$(stat -c %s "$client/package/D010300BD.pkg")
filler=$(( $(free_bytes) - pkg_on_disk - (P + A + U) ))
if [ "$filler" -lt 0 ] || [ $(( filler % page )) != 0 ]; then
  bad "cannot lay out an exact fit (filler $filler bytes)"
else
  head -c "$filler" /dev/zero >"$disk/filler" || { echo "FAIL: cannot write the filler"; exit 1; }
  snapshot >"$work/before.txt"
  run_installer "$work/equal.txt" IDCANCEL
  check_run "$work/equal.txt" IDCANCEL
  grep -q '至少还需要1 B！' "$work/equal.txt" || bad "an exact fit did not ask for 1 B"
fi

[ $fail = 0 ] && echo "PASS: disk full refused with box and 510"
exit $fail
