#!/usr/bin/env bash
# Configures and builds the build trees.
# Usage: scripts/build.sh [native|asan|x64|i686|fuzz|all]...   (default: all = every tree but fuzz)
#   native  Linux: portable core, release tool, unit tests          -> build/native/bin
#   asan    Linux with AddressSanitizer and UBSan                   -> build/asan/bin
#   x64     x86_64 MinGW: everything, tests run under Wine          -> build/x64/bin
#   i686    i686 MinGW: the shipped installer, its tests in the 32-bit runner -> build/i686/bin
#   fuzz    clang with libFuzzer targets                            -> build/fuzz/bin
# Environment: VEL_JOBS (default 2), VEL_SKIP_DEPS=1 skips scripts/deps.sh,
#   VEL_BUILD_TARGETS="t1 t2" builds only those targets.
# Keeps building past a broken target (ninja -k 0) so that what does build can be tested;
# exits non-zero when any tree failed to configure or build.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
jobs=${VEL_JOBS:-2}

if [ -z "${VEL_SKIP_DEPS:-}" ]; then
  bash "$here/deps.sh" || exit 1
fi

generator=()
keep_going=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
  keep_going=(-- -k 0)
fi

# shellcheck source=lib.sh
. "$here/lib.sh"

configure_args() {
  case "$1" in
    native) echo "-DCMAKE_BUILD_TYPE=Release" ;;
    asan)   echo "-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEL_SANITIZE=ON" ;;
    x64)    echo "-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$repo/cmake/toolchain-mingw.cmake -DVEL_MINGW_ARCH=x86_64" ;;
    i686)   echo "-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$repo/cmake/toolchain-mingw.cmake -DVEL_MINGW_ARCH=i686" ;;
    fuzz)   echo "-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVEL_FUZZ=ON" ;;
  esac
}

# The fuzz tree builds only the fuzz_* targets: clang has no -fexec-charset=CP936, so the rest
# belongs to the g++ trees.
tree_targets() {
  case "$2" in
    fuzz)
      ninja -C "$1" -t targets all 2>/dev/null | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): phony$/\1/p' ;;
  esac
  return 0
}

build_tree() {
  local tree=$1 dir="$repo/build/$1" start=$SECONDS
  if [ "$tree" = fuzz ] && ! vel_fuzz_available; then
    echo "build: fuzz: clang with libFuzzer is not available, skipped"
    return 0
  fi
  mkdir -p "$dir"
  echo "build: $tree: configuring $dir"
  # shellcheck disable=SC2046
  if ! cmake -S "$repo" -B "$dir" "${generator[@]}" $(configure_args "$tree") >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"
    echo "build: $tree: configure FAILED"
    return 1
  fi
  local targets=()
  if [ -n "${VEL_BUILD_TARGETS:-}" ]; then
    read -r -a targets <<<"$VEL_BUILD_TARGETS"
    targets=(--target "${targets[@]}")
  elif [ "$tree" = fuzz ]; then
    mapfile -t targets < <(tree_targets "$dir" "$tree")
    if [ ${#targets[@]} -eq 0 ]; then
      echo "build: $tree: no target to build is defined"
      return 1
    fi
    targets=(--target "${targets[@]}")
  fi
  echo "build: $tree: building"
  if ! cmake --build "$dir" -j "$jobs" "${targets[@]}" "${keep_going[@]}"; then
    echo "build: $tree: build FAILED ($((SECONDS - start)) s)"
    return 1
  fi
  echo "build: $tree: ok ($((SECONDS - start)) s)"
}

trees=()
for a in "${@:-all}"; do
  case "$a" in
    all) trees+=(native asan x64 i686) ;;
    native|asan|x64|i686|fuzz) trees+=("$a") ;;
    *) echo "usage: $0 [native|asan|x64|i686|fuzz|all]..." >&2; exit 2 ;;
  esac
done

mkdir -p "$repo/build"
failed=0
for t in "${trees[@]}"; do
  build_tree "$t" || failed=1
done
exit $failed
