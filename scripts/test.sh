#!/usr/bin/env bash
# Builds every tree and runs all tests: native, ASan, fuzz (when clang's libFuzzer is there),
# x64 under the machine's Wine, and i686 — the shipped 32-bit installer and its test programs —
# in the 32-bit runner (scripts/runner32-setup.sh, set up meanwhile in the background; needs
# root). The x64 and i686 tests run side by side: their Wine sessions are separate. Ends with
# one line "N passed, N failed" that sums the CTest counts of every tree (a tree that fails to
# build, or a runner that cannot be set up, counts one failure more); exits non-zero when
# anything failed.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
cd "$repo" || exit 1
start=$SECONDS

bash "$here/deps.sh" || { echo "0 passed, 1 failed"; exit 1; }

trees=(native asan x64 i686)
# shellcheck source=lib.sh
. "$here/lib.sh"
vel_fuzz_available && trees+=(fuzz)

# The runner downloads and unpacks a chroot: that overlaps with the builds.
mkdir -p "$repo/build"
runner_log="$repo/build/runner32-setup.log"
bash "$here/runner32-setup.sh" >"$runner_log" 2>&1 &
runner_pid=$!

declare -A build_failed=()
for t in "${trees[@]}"; do
  VEL_SKIP_DEPS=1 bash "$here/build.sh" "$t" || build_failed[$t]=1
done
build_time=$((SECONDS - start))

runner_failed=0
if ! wait "$runner_pid"; then
  runner_failed=1
  echo "test: the 32-bit runner could not be set up; the i686 tree runs its image checks only"
  tail -n 20 "$runner_log"
fi

export VEL_WINEPREFIX="${VEL_WINEPREFIX:-$repo/build/wineprefix}"
finish() {
  # Wine processes of a prefix may be bound to this X server: end them first, once no
  # wine-run.sh is using the prefix.
  if [ -d "$VEL_WINEPREFIX" ]; then
    (
      flock -x -w 60 9
      WINEPREFIX="$VEL_WINEPREFIX" wineserver -k >/dev/null 2>&1 9>&- || true
    ) 9>>"$VEL_WINEPREFIX.lock"
  fi
  if [ "$runner_failed" = 0 ] && [ -d "$repo/build/wineprefix32" ]; then
    "$here/wine32-run.sh" --sh sh -c 'WINEPREFIX="$VEL_WINEPREFIX" wineserver -k' >/dev/null 2>&1 || true
  fi
  vel_xvfb_stop
}
trap finish EXIT
trap 'exit 130' INT TERM
# One X server for every Wine program of the run; wine-run.sh uses it through DISPLAY, in the
# runner too (X's abstract sockets are shared with the chroot).
vel_xvfb_start || { echo "test: no X server; Wine tests will fail"; }

ctest_args() {
  local t=$1
  local args=(--test-dir "$repo/build/$t" --output-on-failure -j 2)
  case "$t" in
    # Wine programs of one prefix share one process list and one window namespace, and tests
    # look at both (running-program guard, monitor lookup by title): one test at a time there.
    x64) args=(--test-dir "$repo/build/$t" --output-on-failure -j 1) ;;
    i686)
      args=(--test-dir "$repo/build/$t" --output-on-failure -j 1)
      [ "$runner_failed" = 1 ] && args+=(-L pe) ;;
    fuzz) args+=(-R '^fuzz_') ;;
  esac
  printf '%s\n' "${args[@]}"
}

logs="$repo/build/test-logs"
mkdir -p "$logs"
declare -A pids=() started=() ended=()
run_tree() {
  local t=$1 args
  mapfile -t args < <(ctest_args "$t")
  started[$t]=$SECONDS
  ctest "${args[@]}" >"$logs/$t.log" 2>&1
}

# x64 and i686 side by side in the background; the others one after the other meanwhile.
for t in x64 i686; do
  if [[ " ${trees[*]} " == *" $t "* ]]; then
    ( run_tree "$t"; echo "$SECONDS" >"$logs/$t.end" ) &
    pids[$t]=$!
    started[$t]=$SECONDS
  fi
done
for t in "${trees[@]}"; do
  [ -n "${pids[$t]:-}" ] && continue
  run_tree "$t"
  ended[$t]=$SECONDS
done
for t in "${!pids[@]}"; do
  wait "${pids[$t]}"
  ended[$t]=$(cat "$logs/$t.end" 2>/dev/null || echo "$SECONDS")
done

passed=0
failed=0
report=()
for t in "${trees[@]}"; do
  out=$(cat "$logs/$t.log")
  echo "=== ctest: $t"
  echo "$out"
  p=0 f=0
  if line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' <<<"$out" | tail -n 1); then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    f=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    p=$((total - f))
  elif grep -q 'No tests were found' <<<"$out"; then
    :
  else
    f=1
  fi
  note=""
  if [ -n "${build_failed[$t]:-}" ]; then
    f=$((f + 1))
    note=" (build failed)"
  fi
  if [ "$t" = i686 ] && [ "$runner_failed" = 1 ]; then
    f=$((f + 1))
    note="$note (no 32-bit runner)"
  fi
  report+=("$t: $p passed, $f failed$note in $(( ${ended[$t]:-$SECONDS} - ${started[$t]:-$SECONDS} )) s")
  passed=$((passed + p))
  failed=$((failed + f))
done

echo
echo "=== summary (builds $build_time s, total $((SECONDS - start)) s)"
printf '%s\n' "${report[@]}"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
