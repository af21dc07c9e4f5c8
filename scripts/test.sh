#!/usr/bin/env bash
# Builds every tree and runs all tests: native, ASan, fuzz (when clang's libFuzzer is there),
# x64 under Wine, and the checks of the shipped i686 programs. Ends with one line
# "N passed, N failed" that sums the CTest counts of every tree (a tree that fails to build
# counts one failure more); exits non-zero when anything failed.
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

declare -A build_failed=()
for t in "${trees[@]}"; do
  VEL_SKIP_DEPS=1 bash "$here/build.sh" "$t" || build_failed[$t]=1
done
build_time=$((SECONDS - start))

export VEL_WINEPREFIX="${VEL_WINEPREFIX:-$repo/build/wineprefix}"
finish() {
  # Wine processes of the prefix may be bound to this X server: end them first, once no
  # wine-run.sh is using the prefix.
  if [ -d "$VEL_WINEPREFIX" ]; then
    (
      flock -x -w 60 9
      WINEPREFIX="$VEL_WINEPREFIX" wineserver -k >/dev/null 2>&1 9>&- || true
    ) 9>>"$VEL_WINEPREFIX.lock"
  fi
  vel_xvfb_stop
}
trap finish EXIT
trap 'exit 130' INT TERM
# One X server for every Wine program of the run; wine-run.sh uses it through DISPLAY.
vel_xvfb_start || { echo "test: no X server; Wine tests will fail"; }

passed=0
failed=0
report=()
for t in "${trees[@]}"; do
  dir="$repo/build/$t"
  t0=$SECONDS
  args=(--test-dir "$dir" --output-on-failure -j 2)
  # Wine programs of one prefix share one process list and one window namespace, and tests
  # look at both (running-program guard, monitor lookup by title): one test at a time there.
  [ "$t" = x64 ] && args=(--test-dir "$dir" --output-on-failure -j 1)
  # The i686 programs cannot run here: only the checks of the shipped images.
  [ "$t" = i686 ] && args+=(-L pe)
  [ "$t" = fuzz ] && args+=(-R '^fuzz_')
  echo "=== ctest: $t"
  out=$(ctest "${args[@]}" 2>&1)
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
  if [ -n "${build_failed[$t]:-}" ]; then
    f=$((f + 1))
    report+=("$t: $p passed, $f failed (build failed) in $((SECONDS - t0)) s")
  else
    report+=("$t: $p passed, $f failed in $((SECONDS - t0)) s")
  fi
  passed=$((passed + p))
  failed=$((failed + f))
done

echo
echo "=== summary (builds $build_time s, total $((SECONDS - start)) s)"
printf '%s\n' "${report[@]}"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
