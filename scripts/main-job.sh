#!/usr/bin/env bash
# Main job: builds the shipped installer (build/i686/bin/VelmoraPatch.exe), the release tool
# (build/native/bin/velpack) and the 64-bit launcher stand-in (vel-monitor, x64 tree); generates
# a sample client folder and a patch for it; builds the patch installer with velpack and runs
# the shipped 32-bit program silently in the 32-bit runner, under the launcher's monitor window;
# prints what the monitor received, the install log and what changed in the client folder.
#
# With arguments it only builds a patch installer from them (any "velpack build" options; the
# stub defaults to the shipped installer):
#   bash scripts/main-job.sh --folder PATCH_DIR --from 1.3.0.189 --to 1.3.0.190 --kind full -o out.exe
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")

bash "$here/deps.sh" || exit 1
VEL_SKIP_DEPS=1 VEL_BUILD_TARGETS="VelmoraPatch velpack" bash "$here/build.sh" i686 || exit 1
VEL_SKIP_DEPS=1 VEL_BUILD_TARGETS=velpack bash "$here/build.sh" native || exit 1

stub="$repo/build/i686/bin/VelmoraPatch.exe"
velpack="$repo/build/native/bin/velpack"

if [ $# -gt 0 ]; then
  has_stub=0
  for a in "$@"; do [ "$a" = --stub ] && has_stub=1; done
  if [ $has_stub = 1 ]; then exec "$velpack" build "$@"; fi
  exec "$velpack" build --stub "$stub" "$@"
fi

VEL_SKIP_DEPS=1 VEL_BUILD_TARGETS="VelmoraPatch vel-monitor" bash "$here/build.sh" x64 || exit 1
x64="$repo/build/x64/bin"

work="$repo/build/main-job"
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# --- A sample client at version 1.3.0.189 --------------------------------------------------
mkdir -p client/package client/Config client/LNCH client/RAVN/RAVNDownload client/old-maps client/data \
         archive/Res/tdr archive/sound archive/map
printf 'realver=1.3.0.189\nver=1.3.0.189\nexe=velmora.exe\n' > client/update.cfg
printf '<launcher version="1.3.0.189"/>\n' > client/LNCH/mmog_data.xml
printf '[FileList]\nFileCount=2\n[FileItem1]\nFileName=base.vpk\n' > client/RAVN/RAVNFileList.ini
echo base > client/RAVN/RAVNDownload/base.vpk
echo "stale map" > client/old-maps/stale.map
chmod a-w client/old-maps/stale.map
echo "obsolete" > client/data/obsolete.txt
for i in 1 2 3; do head -c 3000 /dev/urandom | base64 > "archive/Res/tdr/tile$i.tdr"; done
echo "old sword" > archive/Res/sword.dat
echo "old click" > archive/sound/click.wav
echo "old map" > archive/map/town.map
"$velpack" pack archive client/package/D010300BD.pkg >/dev/null || exit 1
echo D010300BD.pkg > client/package/package.cfg

# --- The patch to 1.3.0.190 ------------------------------------------------------------------
mkdir -p patch/Res patch/sound patch/LNCH patch/RAVN patch/data "patch/说明"
printf 'realver=1.3.0.190\nver=1.3.0.190\nexe=velmora.exe\n' > patch/update.cfg
printf '<launcher version="1.3.0.190"/>\n' > patch/LNCH/mmog_data.xml
echo "new sword" > patch/Res/sword.dat
echo "new bell" > patch/sound/bell.wav
echo "new quest text" > patch/data/quests.txt
echo "更新说明：新增任务。" | iconv -f UTF-8 -t GBK > "patch/说明/更新.txt"
printf '[FileList]\nFileCount=2\n[FileItem1]\nFileName=p190.vpk\n' > patch/RAVN/RAVNFileList.ini
printf 'old-maps\r\ndata\\obsolete.txt\r\n' > patch/UpdateDelList.txt

# The shipped 32-bit installer runs in the 32-bit runner (emulated i386 Wine in a chroot; needs
# root). Where it cannot be set up, the same patch on the x64 build runs under the machine's Wine.
installer="$work/VelmoraPatch_1.3.0.190.exe"
if bash "$here/runner32-setup.sh" >"$work/runner32-setup.log" 2>&1; then
  runner="$here/wine32-run.sh"
  built_from="$stub"
  echo "== release tool: building the patch installer (the shipped i686 program)"
else
  tail -n 5 "$work/runner32-setup.log"
  echo "main job: no 32-bit runner here; installing with the x64 build instead"
  runner="$here/wine-run.sh"
  built_from="$x64/VelmoraPatch.exe"
  echo "== release tool: building the patch installer (x64 build)"
fi
"$velpack" build --stub "$built_from" --folder patch --from 1.3.0.189 --to 1.3.0.190 --kind full \
  -o "$installer" || exit 1

snapshot() {
  (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha1sum)
}
snapshot client > before.txt
"$velpack" inspect client/package/D010300BD.pkg > archive-before.txt

echo
echo "== silent run under Wine: /S /D=<client> /user VelmoraLauncher (a 64-bit launcher stand-in)"
cp "$x64/vel-monitor.exe" .
client_win="Z:$(echo "$work/client" | tr / '\\')"
installer_win="Z:$(echo "$installer" | tr / '\\')"
bash "$runner" ./vel-monitor.exe --title VelmoraLauncher --timeout 120000 \
  -- "$installer_win" /S "/D=$client_win" /user VelmoraLauncher | tee monitor.txt
rc=${PIPESTATUS[0]}

echo
echo "== install.log (beside the installer)"
iconv -f GBK -t UTF-8 "$work/install.log" | tr -d '\r'

echo
echo "== what changed in the client folder"
snapshot client > after.txt
join -j 2 -a 1 -a 2 -e MISSING -o 0,1.1,2.1 <(awk '{print $1, $2}' before.txt | sort -k2) \
  <(awk '{print $1, $2}' after.txt | sort -k2) | while read -r name old new; do
  if [ "$old" = MISSING ]; then echo "  added    $name"
  elif [ "$new" = MISSING ]; then echo "  removed  $name"
  elif [ "$old" != "$new" ]; then echo "  changed  $name"
  fi
done
echo
echo "== client archive entries after the installation"
"$velpack" inspect client/package/D010300BD.pkg | sed -n '/size storedSize/,$p'
echo
echo "== update.cfg now"
cat client/update.cfg

if [ "$rc" -ne 0 ] || ! grep -q 'EXIT 0' monitor.txt || ! grep -q 'data=4294967295' monitor.txt; then
  echo "main job: the installation did not complete" >&2
  exit 1
fi
echo
echo "main job: installation complete (client 1.3.0.189 -> 1.3.0.190)"
