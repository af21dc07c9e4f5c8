#!/usr/bin/env bash
# Checks that a shipped Windows program is a 32-bit x86 image of the given subsystem that needs
# no DLL beyond those every Windows has (no libstdc++, libgcc, zlib or winpthread DLL).
# Usage: check_pe.sh OBJDUMP PROGRAM.exe gui|console
set -uo pipefail

objdump=$1 exe=$2 subsystem=$3
fail=0
bad() { echo "FAIL: $exe: $*"; fail=1; }

[ -f "$exe" ] || { echo "FAIL: $exe does not exist"; exit 1; }

# e_lfanew at 0x3C, then "PE\0\0" and the COFF machine field.
pe=$(od -An -t u4 -j 60 -N 4 "$exe" | tr -d ' ')
sig=$(od -An -t x1 -j "$pe" -N 4 "$exe" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$exe" | tr -d ' ')
magic=$(od -An -t x2 -j $((pe + 24)) -N 2 "$exe" | tr -d ' ')
[ "$sig" = 50450000 ] || bad "no PE signature"
[ "$machine" = 014c ] || bad "machine is 0x$machine, not Intel 386 (0x014c)"
[ "$magic" = 010b ] || bad "optional header magic is 0x$magic, not PE32 (0x010b)"

dump=$("$objdump" -p "$exe") || { echo "FAIL: $objdump -p $exe"; exit 1; }
case "$subsystem" in
  gui)     grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$dump" || bad "subsystem is not Windows GUI" ;;
  console) grep -Eq '^Subsystem[[:space:]]+0*3[[:space:]]+\(Windows CUI\)' <<<"$dump" || bad "subsystem is not Windows console" ;;
  *) echo "usage: $0 OBJDUMP PROGRAM.exe gui|console" >&2; exit 2 ;;
esac

# DLLs that come with every Windows this program supports.
system_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll shell32.dll shlwapi.dll
  advapi32.dll ole32.dll oleaut32.dll msvcrt.dll ntdll.dll version.dll ws2_32.dll "
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump" | tr -d '\r')
[ ${#dlls[@]} -gt 0 ] || bad "no imports found"
for dll in "${dlls[@]}"; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  case " $system_dlls " in
    *" $lower "*) ;;
    *) bad "imports $dll, which is not a system DLL" ;;
  esac
done

[ $fail = 0 ] && echo "ok: $exe: PE32, Intel 386, $subsystem, imports ${dlls[*]}"
exit $fail
