#!/usr/bin/env bash
# A code-signed installer still finds and verifies its package: build an installer with velpack,
# sign it with a throwaway self-signed certificate, check it with velpack, and run it silently
# under Wine against a client folder.
# Usage: signed_installer_test.sh REPO BIN   (BIN: the x64 tree's bin folder)
set -uo pipefail

repo=$1 bin=$2
wine_run="$repo/scripts/wine-run.sh"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

for tool in openssl osslsigncode iconv; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -f "$bin/VelmoraPatch.exe" ] || { echo "FAIL: $bin/VelmoraPatch.exe is not built"; exit 1; }
[ -f "$bin/vel-monitor.exe" ] || { echo "FAIL: $bin/vel-monitor.exe is not built"; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vel-signed.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# shellcheck source=velpack_tools.sh
. "$(dirname "$0")/velpack_tools.sh"
use_velpack "$repo" "$wine_run" "$bin/velpack.exe" ||
  { echo "FAIL: no velpack (build/native/bin/velpack or $bin/velpack.exe)"; exit 1; }

mkdir -p "$tmp/patch" "$tmp/run" "$tmp/client/package"
printf 'ver=1.3.0.190\r\nexe=Velmora.exe\r\n' >"$tmp/patch/update.cfg"
printf 'readme of the signed patch\r\n' >"$tmp/patch/readme.txt"
printf 'ver=1.3.0.189\r\nexe=Velmora.exe\r\n' >"$tmp/client/update.cfg"

velpack build --stub "$(host "$bin/VelmoraPatch.exe")" --folder "$(host "$tmp/patch")" \
  --from 1.3.0.189 --to 1.3.0.190 --kind full -o "$(host "$tmp/unsigned.exe")" ||
  { echo "FAIL: velpack build"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/key.pem" -out "$tmp/cert.pem" -days 2 \
  -subj "/CN=Velmora Patch Test" >/dev/null 2>&1 || { echo "FAIL: openssl could not make a certificate"; exit 1; }
osslsigncode sign -certs "$tmp/cert.pem" -key "$tmp/key.pem" -n "Velmora patch" \
  -in "$tmp/unsigned.exe" -out "$tmp/signed.exe" >/dev/null || { echo "FAIL: osslsigncode sign"; exit 1; }

unsigned_size=$(stat -c %s "$tmp/unsigned.exe")
signed_size=$(stat -c %s "$tmp/signed.exe")
[ "$signed_size" -gt "$unsigned_size" ] || bad "signing added nothing ($unsigned_size -> $signed_size bytes)"
osslsigncode extract-signature -in "$tmp/signed.exe" -out "$tmp/sig.der" >/dev/null 2>&1 ||
  bad "the signed installer carries no signature"
[ "$(tail -c 32 "$tmp/signed.exe" | head -c 4)" != xrem ] || bad "the trailer is still the end of the signed file"

velpack verify "$(host "$tmp/signed.exe")" >"$tmp/verify.txt" 2>&1 || { cat "$tmp/verify.txt"; bad "velpack verify rejects the signed installer"; }
velpack inspect "$(host "$tmp/signed.exe")" >"$tmp/inspect.txt" 2>&1 || { cat "$tmp/inspect.txt"; bad "velpack inspect fails on the signed installer"; }

cp "$tmp/signed.exe" "$tmp/run/VelmoraPatch.exe"
title="VelSignedMonitor $$"
"$wine_run" "$bin/vel-monitor.exe" --title "$title" --timeout 60000 --cwd "$(winpath "$tmp/client")" \
  --args "/S /D=$(winpath "$tmp/client") /user $title" -- "$(winpath "$tmp/run/VelmoraPatch.exe")" >"$tmp/monitor.txt" 2>&1
cat "$tmp/monitor.txt"
grep -qx 'EXIT 0' "$tmp/monitor.txt" || bad "the signed installer did not end with exit code 0"
grep -q 'COPYDATA tag=-16' "$tmp/monitor.txt" && bad "the signed installer reported a failure to its monitor"
# A complete installation ends with the completion pair 100, then -1.
tail -n 3 "$tmp/monitor.txt" | head -n 2 | tr -d '\r' > "$tmp/pair.txt"
printf 'COPYDATA tag=-15 data=100 (100) cb=0\nCOPYDATA tag=-15 data=4294967295 (-1) cb=0\n' | cmp -s - "$tmp/pair.txt" ||
  bad "the signed installer did not report a completed installation"
grep -qx 'ver=1.3.0.190' <(tr -d '\r' <"$tmp/client/update.cfg") || bad "update.cfg was not replaced by the patch's"
cmp -s "$tmp/patch/readme.txt" "$tmp/client/readme.txt" || bad "readme.txt of the patch is not in the client folder"

log="$tmp/run/install.log"
if [ -f "$log" ]; then
  iconv -f GBK -t UTF-8 "$log" >"$tmp/log.txt" || cp "$log" "$tmp/log.txt"
  grep -q -- '-9999' "$tmp/log.txt" && bad "the signed installer did not find its trailer (-9999)"
  grep -q -- '-9990' "$tmp/log.txt" && bad "the signed installer's package failed its CRC (-9990)"
  grep -q -- '-10000' "$tmp/log.txt" && bad "the signed installer could not read its package (-10000)"
  grep -q '升级成功！' "$tmp/log.txt" || bad "install.log does not end the run with 升级成功！"
  [ $fail = 0 ] || cat "$tmp/log.txt"
else
  bad "no install.log beside the signed installer"
fi

[ $fail = 0 ] && echo "ok: signed installer ($signed_size bytes, $((signed_size - unsigned_size)) of signature) found and verified its package"
exit $fail
