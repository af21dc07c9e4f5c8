#!/usr/bin/env bash
# Runs one Windows program under Wine the way the players' machines run it:
# private prefix, Chinese ANSI code page (936), no Wine debug noise.
# Usage: wine-run.sh program.exe [args...]   (exit code is the program's)
#
# With DISPLAY set (scripts/test.sh starts one Xvfb for a whole run) programs run side by side.
# Without DISPLAY this run starts its own Xvfb and has the prefix to itself, because Wine's
# desktop process stays bound to the X server that was there when it started: the run ends the
# prefix's wineserver before it stops its Xvfb. Whoever ends the wineserver otherwise takes the
# lock file "<prefix>.lock" exclusively first (scripts/test.sh does).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")

if [ $# -lt 1 ]; then
  echo "usage: $0 program.exe [args...]" >&2
  exit 2
fi

export WINEPREFIX="${VEL_WINEPREFIX:-$repo/build/wineprefix}"
export WINEARCH=win64
export LC_ALL=zh_CN.UTF-8
export WINEDEBUG=-all
# No Mono or Gecko installers: they would try to download and open dialogs.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
# The stock launcher falls back to wine64 when wine32 is absent; never install wine32 here.
wine_bin=wine
command -v wine >/dev/null 2>&1 || wine_bin=/usr/lib/wine/wine64

mkdir -p "$(dirname "$WINEPREFIX")"
lock="$WINEPREFIX.lock"

# Runs that share an X server share the prefix; a run with an X server of its own has the
# prefix to itself, since it ends every Wine process of the prefix when it is done.
exec 8>>"$lock"
own_xvfb=0
if [ -z "${DISPLAY:-}" ]; then
  flock -x 8
  # shellcheck source=lib.sh
  . "$here/lib.sh"
  vel_xvfb_start || exit 125
  own_xvfb=1
else
  flock -s 8
fi

cleanup() {
  if [ "$own_xvfb" = 1 ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    vel_xvfb_stop
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# First start: build the prefix once; parallel runs wait here instead of racing wineboot.
if [ ! -f "$WINEPREFIX/.vel-ready" ]; then
  (
    flock -x 9
    if [ ! -f "$WINEPREFIX/.vel-ready" ]; then
      echo "wine-run: creating Wine prefix $WINEPREFIX" >&2
      wineboot -i >/dev/null 2>&1 8>&- 9>&-
      wineserver -w >/dev/null 2>&1 8>&- 9>&- || true
      [ -f "$WINEPREFIX/system.reg" ] && touch "$WINEPREFIX/.vel-ready"
    fi
  ) 9>>"$lock.init"
  if [ ! -f "$WINEPREFIX/.vel-ready" ]; then
    echo "wine-run: could not create the Wine prefix $WINEPREFIX" >&2
    exit 125
  fi
fi

# A test case (a gtest program run with a filter) prints its "[ RUN ]" line, flushed, before the
# case's body runs. On a loaded machine a Wine start now and then ends at once, without a line
# and with no sign of the program: such a run is started once more, since nothing of the case
# has run yet. Anything the program printed makes its exit code final.
gtest_case=0
for a in "$@"; do
  [[ "$a" == --gtest_filter=* ]] && gtest_case=1
done
if [ "$gtest_case" = 0 ]; then
  "$wine_bin" "$@" 8>&-
  exit $?
fi
out=$(mktemp "${TMPDIR:-/tmp}/vel-wine-run.XXXXXX") || exit 125
for attempt in 1 2; do
  started=$SECONDS
  "$wine_bin" "$@" 8>&- | tee "$out"
  rc=${PIPESTATUS[0]}
  if [ "$rc" != 0 ] && [ ! -s "$out" ]; then
    echo "wine-run: $1 ended with exit code $rc after $((SECONDS - started)) s before printing anything (attempt $attempt)" >&2
    [ "$attempt" = 1 ] && continue
  fi
  break
done
rm -f "$out"
exit "$rc"
