#!/usr/bin/env bash
# End-to-end installation benchmark, run on demand (not part of the test suite).
#
# Builds a client 1.3.0.189 (update.cfg, package\package.cfg, a 16 MiB client archive of about
# 5,000 entries) and a 1.3.0.190 installer carrying a patch of 2,000 files, about 20 MB (three
# quarters under the archive folders, the rest plain files in nested folders; half random, half
# text-like). Then, on fresh copies of the client each time, it times:
#   - the silent install under Wine, as a launcher runs it: vel-monitor -- installer /S /D= /user
#   - native "unzip -o -q" of the same 2,000 files zipped by Info-ZIP, into a fresh folder
#   - a bare Wine start of a trivial program ("wine cmd /c exit"): Wine's fixed cost per program
#   - the same monitor run of the installer without a package, which ends at the trailer check:
#     the fixed cost of the two Wine processes of an install
#   - a native "cp" of the client archive: the floor of the archive rebuild; and the same copy
#     followed by "sync" of the copy, as durable as the installer makes its files
# and prints the medians. Every install is checked: EXIT 0, progress 100 then -1, update.cfg at
# 1.3.0.190, no patch.pkg left; a first, uncounted round is also compared file by file with the
# patch (client archive and plain files), and so is its unzip. Beside the times it prints the
# installer's peak memory (as vel-monitor reports it) and, from one more run under strace, the
# system calls of the installer's process alone (its threads included, Wine's other processes
# not): in total, by call, and per entry of the patch and of the client archive.
#
# Two cases, each measured against its baselines in the same run:
#   install  the 2,000-file patch above; the 16 MiB client archive cannot take it, so the
#            installer starts a new archive (compare with unzip)
#   rebuild  a patch of 120 files (about 0.55 MB) into a client archive of about 14.4 MiB that
#            takes it: the archive is rebuilt with the patch in it (compare with cp)
#
# Usage: scripts/bench-install.sh
# Environment:
#   VEL_BENCH_CASE           install, rebuild or both (default both, one after the other)
#   VEL_BENCH_PATCH_ENTRIES  files of the patch (default 2000 for install, 120 for rebuild)
#   VEL_BENCH_PATCH_BYTES    their bytes (default 20000000 for install, 550000 for rebuild)
#   VEL_BENCH_NATIVE_TREE    native tree for velpack (default build/native, built by build.sh)
#   VEL_BENCH_WIN_TREE       x86_64 MinGW tree for VelmoraPatch.exe and vel-monitor.exe
#                            (default build/x64, built by build.sh); a tree given here is
#                            configured when it has no cache yet and the needed targets are built
#   VEL_BENCH_NO_BUILD=1     use the trees as they are
#   VEL_BENCH_WINEPREFIX     Wine prefix (default build/wineprefix, the test suite's); the run holds
#                            "<prefix>.lock" exclusively and ends the prefix's wineserver at the end
#   VEL_BENCH_WORKDIR        where the temporary work folder goes (default build)
#   VEL_BENCH_REPS           repetitions (default 7)
#   VEL_BENCH_ARCHIVE_BYTES  the client archive stays within this length (default 16777216, or
#                            15100000 for rebuild); a
#                            client archive that cannot take the package makes the installer start
#                            a new one, a small one (e.g. 2000000) is rebuilt with the patch in it
#   VEL_BENCH_BASELINE_STUB  an x86_64 VelmoraPatch.exe of another revision: its installer (same
#                            patch) is timed in the same runs, on its own client copies, and the
#                            report gives the ratio of the two
#   VEL_BENCH_BASELINE_REV   a git revision whose stub is built (build/bench-baseline) and used
#                            as VEL_BENCH_BASELINE_STUB, e.g. VEL_BENCH_BASELINE_REV=HEAD~3
#   VEL_BENCH_KEEP=1         keep the work folder
#   VEL_BENCH_NO_STRACE=1    skip the run under strace
#   VEL_BENCH_DISPLAY        an X display of the caller's to use (default: a private Xvfb)
#   VEL_JOBS                 build jobs (default 2)
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
# shellcheck source=lib.sh
. "$here/lib.sh"

bench_case=${VEL_BENCH_CASE:-both}
case "$bench_case" in
  both)
    # The second case reuses the trees (and the baseline stub) the first one built.
    VEL_BENCH_CASE=install bash "${BASH_SOURCE[0]}" || exit 1
    echo
    base_env=()
    [ -n "${VEL_BENCH_BASELINE_REV:-}" ] &&
      base_env=(VEL_BENCH_BASELINE_REV= VEL_BENCH_BASELINE_STUB="$repo/build/bench-baseline/bin/VelmoraPatch.exe")
    exec env VEL_BENCH_CASE=rebuild VEL_BENCH_NO_BUILD=1 "${base_env[@]}" bash "${BASH_SOURCE[0]}" ;;
  install) default_archive=16777216 default_entries=2000 default_bytes=20000000 ;;
  rebuild) default_archive=15100000 default_entries=120 default_bytes=550000 ;;
  *) echo "bench-install: VEL_BENCH_CASE must be install, rebuild or both" >&2; exit 1 ;;
esac

reps=${VEL_BENCH_REPS:-7}
archive_limit=${VEL_BENCH_ARCHIVE_BYTES:-$default_archive}
patch_entries=${VEL_BENCH_PATCH_ENTRIES:-$default_entries}
patch_bytes=${VEL_BENCH_PATCH_BYTES:-$default_bytes}
jobs=${VEL_JOBS:-2}
from_version=1.3.0.189
to_version=1.3.0.190
client_archive=D010300BD.pkg   # named after 1.3.0.189, the patch that started it
new_archive=D010300BE.pkg      # what 1.3.0.190 starts when the client archive is full
size_limit=16777216            # a client archive is extended only up to this length

die() { echo "bench-install: $*" >&2; exit 1; }
case "$reps" in ''|*[!0-9]*|0) die "VEL_BENCH_REPS must be a positive number" ;; esac

# ---------------------------------------------------------------- tools and builds
if ! command -v zip >/dev/null 2>&1 || ! command -v unzip >/dev/null 2>&1; then
  bash "$here/deps.sh" || die "cannot install zip and unzip"
fi
command -v python3 >/dev/null 2>&1 || die "python3 is needed for the data generator"

build_log=$(mktemp)
# Builds targets in a tree given by the caller; the default trees go through build.sh.
build_given() {
  local tree=$1 toolchain=$2  # toolchain: a MinGW architecture, or empty for a native tree
  shift 2
  if [ ! -f "$tree/CMakeCache.txt" ]; then
    local args=(-S "$repo" -B "$tree" -DCMAKE_BUILD_TYPE=Release)
    command -v ninja >/dev/null 2>&1 && args+=(-G Ninja)
    [ -n "$toolchain" ] && args+=("-DCMAKE_TOOLCHAIN_FILE=$repo/cmake/toolchain-mingw.cmake" "-DVEL_MINGW_ARCH=$toolchain")
    cmake "${args[@]}" >>"$build_log" 2>&1 || return 1
  fi
  cmake --build "$tree" -j "$jobs" --target "$@" >>"$build_log" 2>&1
}
native_tree=${VEL_BENCH_NATIVE_TREE:-$repo/build/native}
win_tree=${VEL_BENCH_WIN_TREE:-$repo/build/x64}
if [ -z "${VEL_BENCH_NO_BUILD:-}" ]; then
  echo "bench-install: building velpack, VelmoraPatch.exe and vel-monitor.exe"
  ok=1
  if [ -n "${VEL_BENCH_NATIVE_TREE:-}" ]; then
    build_given "$native_tree" "" velpack || ok=0
  else
    VEL_BUILD_TARGETS=velpack bash "$here/build.sh" native >>"$build_log" 2>&1 || ok=0
  fi
  if [ -n "${VEL_BENCH_WIN_TREE:-}" ]; then
    build_given "$win_tree" x86_64 VelmoraPatch vel-monitor || ok=0
  else
    VEL_BUILD_TARGETS="VelmoraPatch vel-monitor" bash "$here/build.sh" x64 >>"$build_log" 2>&1 || ok=0
  fi
  if [ "$ok" = 0 ]; then
    tail -n 40 "$build_log"
    rm -f "$build_log"
    die "build failed"
  fi
fi
baseline_stub=${VEL_BENCH_BASELINE_STUB:-}
if [ -n "${VEL_BENCH_BASELINE_REV:-}" ]; then
  base_src=$repo/build/bench-baseline-src
  base_tree=$repo/build/bench-baseline
  echo "bench-install: building the baseline stub of ${VEL_BENCH_BASELINE_REV}"
  rm -rf "$base_src"
  git -C "$repo" worktree prune >/dev/null 2>&1
  git -C "$repo" worktree add --detach "$base_src" "$VEL_BENCH_BASELINE_REV" >>"$build_log" 2>&1 ||
    { tail -n 20 "$build_log"; die "cannot check out $VEL_BENCH_BASELINE_REV"; }
  # Older revisions name their toolchain file after the architecture.
  base_toolchain=$base_src/cmake/toolchain-mingw.cmake
  [ -f "$base_toolchain" ] || base_toolchain=$base_src/cmake/toolchain-mingw-x86_64.cmake
  rm -rf "$base_tree"
  { cmake -S "$base_src" -B "$base_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$base_toolchain" -DVEL_MINGW_ARCH=x86_64 &&
    cmake --build "$base_tree" -j "$jobs" --target VelmoraPatch; } >>"$build_log" 2>&1 ||
    { tail -n 40 "$build_log"; die "cannot build the baseline stub"; }
  git -C "$repo" worktree remove --force "$base_src" >/dev/null 2>&1
  baseline_stub=$base_tree/bin/VelmoraPatch.exe
fi
rm -f "$build_log"
velpack=$native_tree/bin/velpack
stub=$win_tree/bin/VelmoraPatch.exe
monitor=$win_tree/bin/vel-monitor.exe
for f in "$velpack" "$stub" "$monitor"; do
  [ -f "$f" ] || die "missing $f"
done

# ---------------------------------------------------------------- work folder and data
work_parent=${VEL_BENCH_WORKDIR:-$repo/build}
mkdir -p "$work_parent"
work=$(mktemp -d "$(cd "$work_parent" && pwd)/bench-install.XXXXXX") || die "cannot make a work folder"
case "$work" in *[[:space:]]*) rm -rf "$work"; die "the work folder path must not contain blanks: $work" ;; esac

prefix=${VEL_BENCH_WINEPREFIX:-$repo/build/wineprefix}
own_xvfb=0
cleanup() {
  if [ "$own_xvfb" = 1 ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    vel_xvfb_stop
  fi
  if [ -n "${VEL_BENCH_KEEP:-}" ]; then
    echo "bench-install: work folder kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "bench-install: case $bench_case; generating data in $work"
python3 "$here/bench-data.py" "$work/data" --archive-bytes "$archive_limit" \
  --archive-name "$client_archive" --patch-entries "$patch_entries" --patch-bytes "$patch_bytes" \
  >"$work/data.env" || die "data generation failed"
# CLIENT_ENTRIES, CLIENT_ARCHIVE_BYTES, PATCH_ENTRIES, PATCH_BYTES, ...
# shellcheck disable=SC1091
. "$work/data.env"

client=$work/data/client
"$velpack" pack "$work/data/client-src" "$client/package/$client_archive" >/dev/null ||
  die "velpack pack failed"
installer=$work/VelmoraPatch-$to_version.exe
"$velpack" build --stub "$stub" --folder "$work/data/patch" --from "$from_version" --to "$to_version" \
  --kind full -o "$installer" >/dev/null || die "velpack build failed"
(cd "$work/data/patch" && zip -q -r -X "$work/patch.zip" .) || die "zip failed"
baseline_installer=""
if [ -n "$baseline_stub" ]; then
  [ -f "$baseline_stub" ] || die "missing baseline stub $baseline_stub"
  baseline_installer=$work/baseline/VelmoraPatch-$to_version.exe
  mkdir -p "$work/baseline"
  "$velpack" build --stub "$baseline_stub" --folder "$work/data/patch" --from "$from_version" --to "$to_version" \
    --kind full -o "$baseline_installer" >/dev/null || die "velpack build (baseline) failed"
fi
mkdir -p "$work/bare"
cp "$stub" "$work/bare/VelmoraPatch.exe"

archive_len=$(stat -c %s "$client/package/$client_archive")
installer_len=$(stat -c %s "$installer")
stub_len=$(stat -c %s "$stub")
package_len=$((installer_len - stub_len - 32))
zip_len=$(stat -c %s "$work/patch.zip")
# The installer extends the client archive only while it can take the whole package.
if [ $((archive_len + package_len)) -gt "$size_limit" ]; then
  expect_archive=$new_archive
  expect_entries=$PATCH_RESOURCE_ENTRIES
  archive_path="new archive $new_archive started"
else
  expect_archive=$client_archive
  expect_entries=$((CLIENT_ENTRIES - PATCH_REPLACED_ENTRIES + PATCH_RESOURCE_ENTRIES))
  archive_path="client archive rebuilt with the patch"
fi

# ---------------------------------------------------------------- Wine
export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_bin=wine
command -v wine >/dev/null 2>&1 || wine_bin=/usr/lib/wine/wine64
# Only Wine gets the Chinese locale: the timing arithmetic here wants the C one.
wine_run() { LC_ALL=zh_CN.UTF-8 "$wine_bin" "$@"; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

if [ ! -f "$prefix/.vel-ready" ]; then
  echo "bench-install: creating the Wine prefix $prefix"
  # wine-run.sh creates a prefix the way the tests expect it; with no DISPLAY it brings its own X.
  VEL_WINEPREFIX=$prefix env -u DISPLAY bash "$here/wine-run.sh" cmd /c exit >/dev/null 2>&1
  [ -f "$prefix/.vel-ready" ] || die "cannot create the Wine prefix $prefix"
fi
# The prefix is ours alone for the run: others wait, and a wineserver left bound to another X
# server is ended first (the lock protocol of wine-run.sh).
exec 8>>"$prefix.lock"
if ! flock -x -n 8; then
  echo "bench-install: waiting for other users of $prefix"
  flock -x 8
fi
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
if [ -n "${VEL_BENCH_DISPLAY:-}" ]; then
  export DISPLAY=$VEL_BENCH_DISPLAY
else
  vel_xvfb_start || die "no X server"
fi
own_xvfb=1
# A warm, persistent wineserver: each timed program then pays Wine's per-process cost only,
# not the server and desktop start-up of the first program.
wineserver -p 8>&-
wine_run cmd /c exit >/dev/null 2>&1 8>&-
wine_run "$monitor" --help >/dev/null 2>&1 8>&-

# ---------------------------------------------------------------- timed runs
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Every timed step starts with no dirty pages waiting, so no step pays for the writes of another.
settle() { sync; }
lowest() { printf '%s\n' "$@" | sort -g | head -n 1; }
highest() { printf '%s\n' "$@" | sort -g | tail -n 1; }

resource_dirs=" avatar effect item magic map object peffect res skill smallnum tiles script sound progeff "
is_resource() {
  local top=${1%%/*}
  [ "$top" != "$1" ] && [[ "$resource_dirs" == *" ${top,,} "* ]]
}

# Full comparison of one installed client with the patch (native tools, untimed).
check_contents() {
  local dir=$1 name out=$work/check
  local pkg="$dir/package/$expect_archive"
  [ -f "$pkg" ] || { echo "no $expect_archive in the client"; return 1; }
  [ "$(tr -d '\r' <"$dir/package/package.cfg" | tail -n 1)" = "$expect_archive" ] ||
    { echo "package.cfg does not end with $expect_archive"; return 1; }
  "$velpack" verify "$pkg" >/dev/null || { echo "$expect_archive does not verify"; return 1; }
  rm -rf "$out"
  "$velpack" extract "$pkg" "$out" >/dev/null || { echo "cannot extract $expect_archive"; return 1; }
  local count
  count=$(find "$out" -type f | wc -l)
  [ "$count" = "$expect_entries" ] || { echo "$expect_archive holds $count entries, not $expect_entries"; return 1; }
  while IFS= read -r name; do
    if is_resource "$name"; then
      cmp -s "$work/data/patch/$name" "$out/$name" || { echo "archive entry $name differs"; return 1; }
    else
      cmp -s "$work/data/patch/$name" "$dir/$name" || { echo "file $name differs"; return 1; }
    fi
  done < <(cd "$work/data/patch" && find . -type f | sed 's|^\./||')
  rm -rf "$out"
}

# Checks of every install: the run's own report and the client's version file.
check_install() {
  local dir=$1 rc=$2 outfile=$3
  [ "$rc" = 0 ] || { echo "vel-monitor ended with $rc"; return 1; }
  grep -qx 'EXIT 0' "$outfile" || { echo "the installer did not exit with 0"; return 1; }
  grep -q 'tag=-16' "$outfile" && { echo "the installer reported a result (failure)"; return 1; }
  local last
  last=$(grep '^COPYDATA' "$outfile" | tail -n 2 | sed -n 's/^COPYDATA tag=\(-*[0-9]*\) data=[0-9]* (\(-*[0-9]*\)).*/\1:\2/p' | tr '\n' ' ')
  [ "$last" = "-15:100 -15:-1 " ] || { echo "no completion pair 100, -1 (last reports: $last)"; return 1; }
  tr -d '\r' <"$dir/client/update.cfg" | grep -qx "ver=$to_version" || { echo "update.cfg is not at $to_version"; return 1; }
  [ ! -e "$dir/client/patch.pkg" ] || { echo "patch.pkg was left behind"; return 1; }
}

fail_run() {
  local dir=$1
  tail -n 8 "$dir/monitor.out" | sed 's/^/  monitor: /' >&2
  [ -f "$dir/install.log" ] && iconv -f GBK -t UTF-8 "$dir/install.log" 2>/dev/null | tail -n 15 | sed 's/^/  log: /' >&2
  echo "bench-install: install run failed: $2" >&2
  VEL_BENCH_KEEP=1
  exit 1
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
uptime_before=$(uptime)
echo "bench-install: $reps repetitions (load average before: $load_before)"
# One timed silent install of `installer` on a fresh client copy in `run` (install.log goes
# beside the installer there); prints the seconds. Round 0 is also checked file by file.
timed_install() {
  local run=$1 exe=$2 round=$3 t0 t1 rc why
  mkdir -p "$run"
  cp -a "$client" "$run/client"
  cp "$exe" "$run/"
  settle
  t0=$EPOCHREALTIME
  wine_run "$monitor" --memory --title "$title" --timeout 170000 -- "$(winpath "$run/${exe##*/}")" /S \
    "/D=$(winpath "$run/client")" /user "$title" >"$run/monitor.out" 2>"$run/monitor.err" 8>&-
  rc=$?
  t1=$EPOCHREALTIME
  why=$(check_install "$run" "$rc" "$run/monitor.out") || { fail_run "$run" "$why"; return 1; }
  if [ "$round" = 0 ]; then
    why=$(check_contents "$run/client") || { fail_run "$run" "$why"; return 1; }
  fi
  elapsed "$t0" "$t1"
}

# The installer's peak working set in KiB, from vel-monitor's MEMORY line (0 when missing).
peak_of() {
  sed -n 's/^MEMORY peak_working_set=\([0-9]*\).*/\1/p' "$1" | awk '{ printf "%d", $1 / 1024 } END { if (NR == 0) print 0 }'
}

t_install=() t_unzip=() t_wine=() t_floor=() t_base=() t_cp=() t_cpsync=() m_peak=() m_base_peak=()
# Round 0 warms the caches up, is checked file by file and not counted. Nothing is deleted before
# the end: freeing blocks (the disk is mounted with discard) slows the writes that follow.
for ((i = 0; i <= reps; i++)); do
  title="VelBench_$$_$i"
  s_install=$(timed_install "$work/runs/install-$i" "$installer" "$i") || exit 1
  # The baseline installer, when one is given: the same run on its own client copy.
  s_base=""
  if [ -n "$baseline_installer" ]; then
    s_base=$(timed_install "$work/runs/baseline-$i" "$baseline_installer" "$i") || exit 1
  fi

  # unzip into a fresh folder.
  dest=$work/runs/unzip-$i
  mkdir -p "$dest"
  settle
  t0=$EPOCHREALTIME
  unzip -o -q "$work/patch.zip" -d "$dest" || die "unzip failed"
  t1=$EPOCHREALTIME
  if [ "$i" = 0 ]; then
    diff -r -q "$work/data/patch" "$dest" >/dev/null || die "unzip did not reproduce the patch files"
  fi
  s_unzip=$(elapsed "$t0" "$t1")

  # A native copy of the client archive: what streaming it through costs at the least.
  settle
  t0=$EPOCHREALTIME
  cp "$client/package/$client_archive" "$work/runs/cp-$i.pkg" || die "cp failed"
  t1=$EPOCHREALTIME
  s_cp=$(elapsed "$t0" "$t1")
  # The same copy made durable (fsync of the copy): the installer flushes what it writes before
  # its commit.
  settle
  t0=$EPOCHREALTIME
  cp "$client/package/$client_archive" "$work/runs/cp-sync-$i.pkg" && sync "$work/runs/cp-sync-$i.pkg" ||
    die "cp and sync failed"
  t1=$EPOCHREALTIME
  s_cpsync=$(elapsed "$t0" "$t1")

  # Wine's own cost: a trivial program.
  t0=$EPOCHREALTIME
  wine_run cmd /c exit >/dev/null 2>&1 8>&-
  t1=$EPOCHREALTIME
  s_wine=$(elapsed "$t0" "$t1")

  # The monitor and an installer without a package: start-up, command line, log, trailer scan.
  floor=$work/runs/floor-$i
  mkdir -p "$floor/client"
  cp "$work/bare/VelmoraPatch.exe" "$floor/"
  t0=$EPOCHREALTIME
  wine_run "$monitor" --memory --title "$title" --timeout 60000 -- "$(winpath "$floor/VelmoraPatch.exe")" /S \
    "/D=$(winpath "$floor/client")" /user "$title" >"$floor/monitor.out" 2>&1 8>&-
  rc=$?
  t1=$EPOCHREALTIME
  { [ "$rc" = 0 ] && grep -qx 'EXIT 1' "$floor/monitor.out"; } ||
    { cat "$floor/monitor.out" >&2; die "the installer without a package did not end with 1"; }
  s_floor=$(elapsed "$t0" "$t1")
  if [ "$i" = 0 ]; then
    echo "  warm-up: installer $s_install s${s_base:+, baseline $s_base s}, unzip $s_unzip s, cp $s_cp s, wine start $s_wine s, floor $s_floor s (checked file by file, not counted)"
    continue
  fi
  t_install+=("$s_install") t_unzip+=("$s_unzip") t_wine+=("$s_wine") t_floor+=("$s_floor") t_cp+=("$s_cp") t_cpsync+=("$s_cpsync")
  m_peak+=("$(peak_of "$work/runs/install-$i/monitor.out")")
  [ -n "$s_base" ] && t_base+=("$s_base") && m_base_peak+=("$(peak_of "$work/runs/baseline-$i/monitor.out")")
  echo "  run $i: installer $s_install s${s_base:+, baseline $s_base s}, unzip $s_unzip s, cp $s_cp s, wine start $s_wine s, floor $s_floor s"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---------------------------------------------------------------- system calls
# One more install (untimed) under strace -f; the calls of the installer's own process are
# counted: the process whose program (the first argument after Wine's loader) is the installer,
# with every thread it starts. Prints "<total> <by call>" and keeps the trace's summary.
# With "floor" as the third argument the program is the installer without a package, on an
# empty client folder: the calls of its start-up and trailer check, which every run pays.
count_calls() {
  local run=$1 exe=$2 kind=${3:-install}
  mkdir -p "$run/client"
  [ "$kind" = floor ] || cp -a "$client/." "$run/client"
  cp "$exe" "$run/"
  LC_ALL=zh_CN.UTF-8 strace -f -qq -s 200 -o "$run/strace.txt" "$wine_bin" "$monitor" --title "$title" \
    --timeout 170000 -- "$(winpath "$run/${exe##*/}")" /S "/D=$(winpath "$run/client")" /user "$title" \
    >"$run/monitor.out" 2>"$run/monitor.err" 8>&-
  local rc=$? why
  if [ "$kind" = floor ]; then
    grep -qx 'EXIT 1' "$run/monitor.out" || { fail_run "$run" "the installer without a package did not end with 1"; return 1; }
  else
    why=$(check_install "$run" "$rc" "$run/monitor.out") || { fail_run "$run" "$why"; return 1; }
  fi
  python3 - "$run/strace.txt" "${exe##*/}" <<'PY'
import collections, re, sys
trace, exe = sys.argv[1], sys.argv[2].lower()
line_re = re.compile(r"^(\d+) +(?:<\.\.\. (\w+) resumed>|(\w+)\()")
installer = None
group = set()
pending = {}          # pid -> a thread-creating clone not finished yet
counts = collections.Counter()
with open(trace, errors="replace") as f:
    for line in f:
        m = line_re.match(line)
        if not m:
            continue
        pid = int(m.group(1))
        resumed, call = m.group(2), m.group(3)
        if call == "execve":
            args = re.findall(r'"((?:[^"\\]|\\.)*)"', line)
            if len(args) >= 3 and args[2].replace("\\\\", "\\").lower().endswith(exe):
                installer = pid
                group = {pid}
                counts.clear()
        if call in ("clone", "clone3") and "CLONE_THREAD" in line:
            pending[pid] = True
        if (call in ("clone", "clone3") or resumed in ("clone", "clone3")) and pending.get(pid):
            r = re.search(r"= (\d+)\s*$", line)
            if r:
                pending[pid] = False
                if pid in group:
                    group.add(int(r.group(1)))
        if call and pid in group:
            counts[call] += 1
# Calls on files, folders and paths. read and write are left out: most of them carry Wine's
# requests to its server (file data here go through pread64 and pwrite64).
FS = {"open", "openat", "close", "pread64", "pwrite64", "lseek",
      "fstat", "newfstatat", "stat", "lstat", "statx", "fstatfs", "statfs", "access", "faccessat",
      "faccessat2", "readlink", "readlinkat", "getdents64", "getxattr", "fgetxattr", "lgetxattr",
      "setxattr", "fsetxattr", "fremovexattr", "removexattr", "fsync", "fdatasync", "ftruncate",
      "fallocate", "rename", "renameat", "renameat2", "unlink", "unlinkat", "mkdir", "mkdirat",
      "rmdir", "link", "linkat", "fchmod", "chmod", "fchmodat", "utimensat"}
total = sum(counts.values())
fs = sum(n for name, n in counts.items() if name in FS)
print(total, fs, " ".join("%s=%d" % kv for kv in counts.most_common(8)))
PY
}

calls_line="" base_calls_line="" floor_calls_line=""
if [ -z "${VEL_BENCH_NO_STRACE:-}" ] && command -v strace >/dev/null 2>&1; then
  title="VelBench_$$_strace"
  floor_calls_line=$(count_calls "$work/runs/strace-floor" "$work/bare/VelmoraPatch.exe" floor) || exit 1
  calls_line=$(count_calls "$work/runs/strace" "$installer") || exit 1
  if [ -n "$baseline_installer" ]; then
    base_calls_line=$(count_calls "$work/runs/strace-baseline" "$baseline_installer") || exit 1
  fi
fi

# ---------------------------------------------------------------- report
m_install=$(median "${t_install[@]}")
m_unzip=$(median "${t_unzip[@]}")
m_wine=$(median "${t_wine[@]}")
m_floor=$(median "${t_floor[@]}")
row() { printf '  %-52s %8s %8s %8s\n' "$@"; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

echo
echo "Installation benchmark: median of $reps runs, wall time in seconds"
echo "  machine: $(nproc) cores; $uptime_before"
echo "  load average before: $load_before  after: $load_after"
printf '  patch: %d files (%d archive, %d plain), %d bytes (%d text-like)\n' \
  "$PATCH_ENTRIES" "$PATCH_RESOURCE_ENTRIES" "$PATCH_PLAIN_ENTRIES" "$PATCH_BYTES" "$PATCH_TEXT_BYTES"
printf '  installer %d bytes (package %d), zip %d bytes\n' "$installer_len" "$package_len" "$zip_len"
printf '  client archive %s: %d entries, %d bytes; %d archive files of the patch replace entries; %s\n' \
  "$client_archive" "$CLIENT_ENTRIES" "$archive_len" "$PATCH_REPLACED_ENTRIES" "$archive_path"
echo
row "" median min max
row "installer, silent under Wine (vel-monitor ... /S)" "$m_install" "$(lowest "${t_install[@]}")" "$(highest "${t_install[@]}")"
row "unzip -o -q, native" "$m_unzip" "$(lowest "${t_unzip[@]}")" "$(highest "${t_unzip[@]}")"
row "ratio installer / unzip" "$(calc '%.1f' "$m_install / $m_unzip")" "" ""
row "Wine start (wine cmd /c exit)" "$m_wine" "$(lowest "${t_wine[@]}")" "$(highest "${t_wine[@]}")"
row "installer minus Wine start" "$(calc '%.3f' "$m_install - $m_wine")" "" ""
row "floor: vel-monitor + installer without package" "$m_floor" "$(lowest "${t_floor[@]}")" "$(highest "${t_floor[@]}")"
row "installer minus floor" "$(calc '%.3f' "$m_install - $m_floor")" "" ""
if [ ${#t_base[@]} -gt 0 ]; then
  m_base=$(median "${t_base[@]}")
  row "baseline installer (${VEL_BENCH_BASELINE_REV:-$baseline_stub})" "$m_base" "$(lowest "${t_base[@]}")" "$(highest "${t_base[@]}")"
  row "ratio installer / baseline" "$(calc '%.3f' "$m_install / $m_base")" "" ""
  row "ratio net of the floor" "$(calc '%.3f' "($m_install - $m_floor) / ($m_base - $m_floor)")" "" ""
fi
m_cp=$(median "${t_cp[@]}")
row "cp of the client archive, native" "$m_cp" "$(lowest "${t_cp[@]}")" "$(highest "${t_cp[@]}")"
row "ratio (installer minus Wine start) / cp" "$(calc '%.1f' "($m_install - $m_wine) / $m_cp")" "" ""
m_cpsync=$(median "${t_cpsync[@]}")
row "cp of the client archive and sync of the copy" "$m_cpsync" "$(lowest "${t_cpsync[@]}")" "$(highest "${t_cpsync[@]}")"
row "ratio (installer minus Wine start) / (cp + sync)" "$(calc '%.1f' "($m_install - $m_wine) / $m_cpsync")" "" ""
row "ratio (installer minus Wine start) / unzip" "$(calc '%.2f' "($m_install - $m_wine) / $m_unzip")" "" ""
echo
echo "  peak working set of the installer (KiB, median): $(median "${m_peak[@]}")${m_base_peak[0]:+; baseline $(median "${m_base_peak[@]}")}"
read -r floor_calls floor_fs _ <<<"${floor_calls_line:-0 0 -}"
# Net: minus the calls of the installer without a package (its start-up and trailer check).
print_calls() {
  local what=$1 line=$2 total fs most net netfs
  [ -n "$line" ] || return 0
  read -r total fs most <<<"$line"
  net=$((total - floor_calls)) netfs=$((fs - floor_fs))
  printf '  %s: %d system calls, %d net of start-up; per patch entry (%d) %.1f, per client-archive entry (%d) %.2f\n' \
    "$what" "$total" "$net" "$PATCH_ENTRIES" "$(calc '%.3f' "$net / $PATCH_ENTRIES")" \
    "$CLIENT_ENTRIES" "$(calc '%.4f' "$net / $CLIENT_ENTRIES")"
  printf '    file-system calls: %d, %d net; per patch entry %.1f, per client-archive entry %.2f\n' \
    "$fs" "$netfs" "$(calc '%.3f' "$netfs / $PATCH_ENTRIES")" "$(calc '%.4f' "$netfs / $CLIENT_ENTRIES")"
  echo "    most made: $most"
}
[ -n "$floor_calls_line" ] &&
  echo "  installer without a package (start-up): $floor_calls system calls, $floor_fs on files; ${floor_calls_line#* * }"
print_calls "installer process" "$calls_line"
print_calls "baseline installer process" "$base_calls_line"
echo "  (files in the page cache; sync before each timed step; the wineserver stays warm between runs)"
