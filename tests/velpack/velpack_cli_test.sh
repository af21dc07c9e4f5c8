#!/usr/bin/env bash
# Drives the built velpack binary the way a release engineer does; usage: velpack_cli_test.sh <velpack>
set -u
VELPACK=$1
WORK=$(mktemp -d "${TMPDIR:-/tmp}/velpack-cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# expect <code> <command...>: the command's exit code must be <code>.
expect() {
  local want=$1; shift
  "$@" >"$WORK/cmd.stdout" 2>"$WORK/cmd.stderr"
  local got=$?
  [ "$got" = "$want" ] || fail "exit $got (wanted $want): $* -- $(head -c 400 "$WORK/cmd.stderr")"
}

cd "$WORK" || exit 1
mkdir -p src/资源 src/ResBin/tdr
printf 'ver=1.3.0.190\n' > src/update.cfg
head -c 70000 /dev/urandom > src/资源/乗.bin
seq 1 20000 > src/ResBin/tdr/list.txt
: > src/empty.dat
{ printf 'MZ'; head -c 4094 /dev/zero; } > stub.exe

# pack: deterministic, and the GBK name is shown back in UTF-8.
expect 0 "$VELPACK" pack src a.pkg
expect 0 "$VELPACK" pack src b.pkg
cmp -s a.pkg b.pkg || fail "two packs of the same folder differ"
expect 0 "$VELPACK" inspect a.pkg
grep -q '资源\\乗.bin' "$WORK/cmd.stdout" || fail "inspect does not show 资源\\乗.bin"

# build from a folder and from the package give the same installer.
expect 0 "$VELPACK" build --stub stub.exe --folder src --from 0 --to 1.3.0.190 --kind micro -o i1.exe
expect 0 "$VELPACK" build --stub stub.exe --package a.pkg --from 0.0.0.0 --to 1.3.0.190 --kind 1 -o i2.exe
cmp -s i1.exe i2.exe || fail "--folder and --package builds differ"
head -c 4096 i1.exe | cmp -s - stub.exe || fail "installer does not start with the stub"
tail -c 32 i1.exe | head -c 4 | grep -q xrem || fail "no xrem magic at the trailer"
expect 0 "$VELPACK" inspect i1.exe
grep -q 'micro client' "$WORK/cmd.stdout" || fail "inspect does not show the client type"
grep -q '1.3.0.190 (0x010300BE)' "$WORK/cmd.stdout" || fail "inspect does not show toVersion"
grep -q 'match' "$WORK/cmd.stdout" || fail "inspect does not show the CRC verdict"

# A signature after the trailer changes nothing.
cp i1.exe signed.exe
head -c 3000 /dev/urandom >> signed.exe
expect 0 "$VELPACK" verify signed.exe
expect 0 "$VELPACK" inspect signed.exe
grep -q 'after trailer  3000 bytes' "$WORK/cmd.stdout" || fail "inspect does not count the bytes after the trailer"

# An installer is no stub; a failed build leaves no file.
expect 1 "$VELPACK" build --stub i1.exe --package a.pkg --from 0 --to 1.3.0.190 --kind full -o twice.exe
[ ! -e twice.exe ] || fail "a refused build left twice.exe"
expect 0 "$VELPACK" build --stub i1.exe --package a.pkg --from 0 --to 1.3.0.191 --kind full -o twice.exe --force
expect 1 "$VELPACK" build --stub stub.exe --package i1.exe --from 0 --to 1.3.0.190 --kind full -o nested.exe

# One flipped byte inside the package.
cp i1.exe flipped.exe
byte=$(od -An -tu1 -j4200 -N1 flipped.exe | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 1)))" | dd of=flipped.exe bs=1 seek=4200 conv=notrunc 2>/dev/null
cmp -s i1.exe flipped.exe && fail "the byte flip did not change the file"
expect 1 "$VELPACK" verify flipped.exe
grep -q 'CRC' "$WORK/cmd.stderr" || fail "verify does not name the CRC"

# extract gives the folder back.
expect 0 "$VELPACK" extract signed.exe out
diff -r src out >/dev/null || fail "extracted files differ from the source folder"

# diff and build --old/--new: versions and kind from the folders, a report, refusals by name.
mkdir -p old/package new/package arch/Res new/Config
printf 'ver=1.3.0.189\r\n' > old/update.cfg
printf 'ver=1.3.0.190\r\n' > new/update.cfg
printf '[Version]\r\nVer=1\r\n' > new/Config/MiniClient.ini
printf 'D01.pkg\r\n' | tee old/package/package.cfg > new/package/package.cfg
echo one > arch/Res/a.bin
expect 0 "$VELPACK" pack arch old/package/D01.pkg
echo two > arch/Res/b.bin
expect 0 "$VELPACK" pack arch new/package/D01.pkg
echo gone > old/gone.txt
expect 0 "$VELPACK" diff old new -o patch --report
grep -q 'Res\\b.bin' "$WORK/cmd.stdout" || fail "the report does not name the new entry"
grep -q 'delete  gone.txt' "$WORK/cmd.stdout" || fail "the report does not name the deleted file"
grep -q '^total: ' "$WORK/cmd.stdout" || fail "the report has no total"
[ -f patch/velpack.entries.pkg ] && [ -f patch/UpdateDelList.txt ] || fail "the patch folder lacks its lists"
expect 0 "$VELPACK" build --stub stub.exe --old old --new new -o fromtrees.exe
expect 0 "$VELPACK" build --stub stub.exe --folder patch --from 1.3.0.189 --to 1.3.0.190 --kind micro -o fromfolder.exe
cmp -s fromtrees.exe fromfolder.exe || fail "build --old/--new and build --folder of the diff differ"
expect 0 "$VELPACK" inspect fromtrees.exe
grep -q 'micro client' "$WORK/cmd.stdout" || fail "--kind was not taken from MiniClient.ini"
grep -q 'fromVersion *1.3.0.189' "$WORK/cmd.stdout" || fail "--from was not taken from the old update.cfg"
expect 2 "$VELPACK" diff old new
expect 1 "$VELPACK" diff old new -o patch
rm -f new/package/D01.pkg
expect 0 "$VELPACK" pack src new/package/D01.pkg
expect 1 "$VELPACK" diff old new -o refused
grep -q 'Res\\a.bin' "$WORK/cmd.stderr" || fail "the refusal does not name the removed entry"
[ ! -e refused ] || fail "a refused diff left its patch folder"

# Usage errors are 2, bad files 1.
expect 0 "$VELPACK" --help
expect 2 "$VELPACK"
expect 2 "$VELPACK" unpack a.pkg
expect 2 "$VELPACK" build --stub stub.exe --package a.pkg --from 1.2.3.4.5 --to 1.3.0.190 --kind full -o x.exe
expect 2 "$VELPACK" build --stub stub.exe --package a.pkg --from 0 --to 1.3.0.190 --kind full
expect 1 "$VELPACK" verify missing.exe
expect 1 "$VELPACK" verify stub.exe

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "velpack CLI: all checks passed"
