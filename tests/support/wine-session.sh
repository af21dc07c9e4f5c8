#!/usr/bin/env bash
# Keeps one Wine session warm for a CTest run of the x64 tree, so that the test programs, one
# process per test case, do not each pay for starting the Wine server, its system processes and
# the desktop process.
# Usage: wine-session.sh start|stop <scripts/wine-run.sh> <vel_wine_keeper.exe> <state folder>
#   start  ends what still runs in the prefix (it may be bound to an X server gone by now),
#          starts a persistent wineserver, and vel_wine_keeper, which holds the desktop in use
#          (its system processes start from it), all detached from the caller's output so that
#          CTest does not wait for them;
#   stop   ends the keeper and the session (after every Wine test has finished with the prefix).
# Both do nothing without DISPLAY: wine-run.sh then starts an X server and a session per program.
# A wineserver is only ended under the prefix lock "<prefix>.lock" taken exclusively, as
# wine-run.sh asks; the keeper runs through wine-run.sh, which holds that lock shared meanwhile.
set -uo pipefail

if [ $# -ne 4 ] || { [ "$1" != start ] && [ "$1" != stop ]; }; then
  echo "usage: $0 start|stop <wine-run.sh> <vel_wine_keeper.exe> <state folder>" >&2
  exit 2
fi
action=$1
wine_run=$2
keeper=$3
state="$4/wine-keeper.state"
repo=$(cd "$(dirname "$wine_run")/.." && pwd)
export WINEPREFIX="${VEL_WINEPREFIX:-$repo/build/wineprefix}"

if [ -z "${DISPLAY:-}" ]; then
  echo "wine-session: no DISPLAY, every program gets a session of its own"
  exit 0
fi

# Ends the keeper recorded in the state file, if it still runs.
end_keeper() {
  local pid name
  [ -f "$state" ] || return 0
  read -r pid name <"$state"
  rm -f "$state"
  [ -n "${pid:-}" ] && [ -n "${name:-}" ] || return 0
  # Only the wine-run.sh that runs this keeper (a recycled process id is left alone).
  grep -qa -- "$name" "/proc/$pid/cmdline" 2>/dev/null || return 0
  "$wine_run" "$keeper" stop "$name" </dev/null >/dev/null 2>&1
  if ! timeout 60 tail --pid="$pid" -f /dev/null; then
    echo "wine-session: the keeper did not end, ending its wine-run.sh" >&2
    kill "$pid" 2>/dev/null
  fi
  return 0
}

# Ends every Wine process of the prefix once no wine-run.sh uses it (bounded wait).
end_session() {
  (
    flock -x -w 120 9 || { echo "wine-session: the prefix stayed in use" >&2; exit 1; }
    wineserver -k >/dev/null 2>&1 9>&-
    timeout 60 wineserver -w >/dev/null 2>&1 9>&-
    exit 0
  ) 9>>"$WINEPREFIX.lock"
}

if [ "$action" = stop ]; then
  end_keeper
  end_session
  exit $?
fi

# A first start creates the prefix (wine-run.sh does that once, under its own lock).
if [ ! -f "$WINEPREFIX/.vel-ready" ]; then
  "$wine_run" "$keeper" stop vel-wine-keeper-none </dev/null >/dev/null 2>&1
  [ -f "$WINEPREFIX/.vel-ready" ] || { echo "wine-session: no Wine prefix" >&2; exit 1; }
fi
end_keeper
end_session || exit 1
(
  flock -x -w 120 9 || exit 1
  # The server stays until "wineserver -k"; it holds none of the caller's descriptors.
  wineserver -p </dev/null >/dev/null 2>&1 9>&-
) 9>>"$WINEPREFIX.lock" || { echo "wine-session: cannot start the wineserver" >&2; exit 1; }

name="vel-wine-keeper-$$"
"$wine_run" "$keeper" run "$name" </dev/null >/dev/null 2>&1 &
echo "$! $name" >"$state"
if ! "$wine_run" "$keeper" ready "$name" </dev/null >/dev/null 2>&1; then
  echo "wine-session: the keeper did not start" >&2
  end_keeper
  end_session
  exit 1
fi
echo "wine-session: started for DISPLAY $DISPLAY in $WINEPREFIX"
