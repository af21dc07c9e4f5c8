#!/usr/bin/env bash
# Benchmark of "velpack diff", run on demand (not part of the test suite).
#
# Generates two client folders under the build folder: an old one of at least 1 GiB in 20,000
# plain files in nested folders plus three client archives of about 2,000 entries each, and a
# new one copied from it (a real copy, not links, so both are read), with about 2% of the files
# changed, some added and removed, and entries of the last archive changed and added. With warm
# caches it times, three times each and in turns:
#   - plain reads of every file of both folders: cat to /dev/null (xargs, many files per cat);
#     sha1sum (a hashing tool); tar to a pipe (one process reading everything; tar skips the
#     reading when its output is /dev/null, hence the pipe)
#   - velpack diff OLD NEW -o PATCH (the patch folder removed before each run)
# and prints the medians and the ratio of velpack diff to each. The folders are removed at the end.
#
# Usage: scripts/bench-diff.sh
# Environment:
#   VEL_BENCH_NATIVE_TREE   native tree with bin/velpack (default build/native)
#   VEL_BENCH_WORKDIR       where the work folder goes (default build)
#   VEL_BENCH_FILES         plain files in the old folder (default 20000)
#   VEL_BENCH_BYTES         their total size (default 1073741824)
#   VEL_BENCH_KEEP=1        keep the work folder
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
tree=${VEL_BENCH_NATIVE_TREE:-$root/build/native}
velpack=$tree/bin/velpack
files=${VEL_BENCH_FILES:-20000}
bytes=${VEL_BENCH_BYTES:-1073741824}
[ -x "$velpack" ] || { echo "bench-diff: $velpack is missing; run scripts/build.sh native" >&2; exit 2; }

workroot=${VEL_BENCH_WORKDIR:-$root/build}
mkdir -p "$workroot"
# Two folders, a patch and some slack.
need_kib=$(( bytes / 1024 * 5 / 2 + 200000 ))
free_kib=$(df -Pk "$workroot" | awk 'NR==2 {print $4}')
if [ "$free_kib" -lt "$need_kib" ]; then
    echo "bench-diff: $workroot has $free_kib KiB free, $need_kib KiB needed" >&2
    exit 2
fi
work=$(mktemp -d "$workroot/bench-diff.XXXXXX")
cleanup() { [ "${VEL_BENCH_KEEP:-0}" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

echo "bench-diff: generating $files files, $bytes bytes in $work"
python3 - "$work" "$files" "$bytes" <<'EOF'
import os, random, sys
work, count, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261208)
old = os.path.join(work, "old")
# Half random bytes, half text-like, so that compression has both kinds to work on.
block = rng.randbytes(1 << 20) + (b"item=value;level=3;name=\xd7\xca\xd4\xb4\n" * 30000)[: 1 << 20]
sizes = [rng.randint(1, 2 * total // count) for _ in range(count)]
scale = total / sum(sizes)
sizes = [max(0, int(s * scale)) for s in sizes]
sizes[0] += total - sum(sizes)
folders = ["data/%02d/%02d" % (i % 37, i % 11) for i in range(400)] + ["资源/界面", "ui", "sound_bin"]
for i, size in enumerate(sizes):
    folder = os.path.join(old, folders[i % len(folders)])
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
        left, start = size, rng.randrange(len(block) // 2)
        while left > 0:
            n = min(left, len(block) - start)
            f.write(block[start:start + n])
            left -= n
            start = 0
for a in range(3):
    src = os.path.join(work, "src%d" % a, "Res", "a%d" % a)
    os.makedirs(src, exist_ok=True)
    for e in range(2000):
        with open(os.path.join(src, "e%04d.bin" % e), "wb") as f:
            f.write(block[e * 97 % (1 << 20):][: 300 + e % 3000])
with open(os.path.join(old, "update.cfg"), "w") as f:
    f.write("ver=1.3.0.189\n")
os.makedirs(os.path.join(old, "package"), exist_ok=True)
with open(os.path.join(old, "package", "package.cfg"), "wb") as f:
    f.write(b"D00.pkg\r\nD01.pkg\r\nD02.pkg\r\n")
EOF
for a in 0 1 2; do "$velpack" pack "$work/src$a" "$work/old/package/D0$a.pkg" >/dev/null; done
cp -r "$work/old" "$work/new"
# The last archive: some entries changed, some added.
for e in 0003 0100 0999 1500; do printf 'changed %s' "$e" >> "$work/src2/Res/a2/e$e.bin"; done
for e in 1 2 3 4 5; do head -c 5000 /dev/urandom > "$work/src2/Res/a2/new$e.bin"; done
"$velpack" pack "$work/src2" "$work/new/package/D02.pkg" >/dev/null
python3 - "$work/new" <<'EOF'
import os, random, sys
new = sys.argv[1]
rng = random.Random(7)
paths = sorted(os.path.join(d, f) for d, _, fs in os.walk(new) for f in fs if f.endswith(".dat"))
for p in rng.sample(paths, len(paths) // 50):
    with open(p, "r+b") as f:
        f.seek(0, 2)
        f.seek(f.tell() // 2)
        f.write(b"changed")
for p in rng.sample(paths, 40):
    if os.path.exists(p):
        os.remove(p)
os.makedirs(os.path.join(new, "新功能"), exist_ok=True)
for i in range(100):
    with open(os.path.join(new, "新功能", "n%03d.dat" % i), "wb") as f:
        f.write(rng.randbytes(50000))
with open(os.path.join(new, "update.cfg"), "w") as f:
    f.write("ver=1.3.0.190\n")
EOF
rm -rf "$work/src0" "$work/src1" "$work/src2"

count_files=$(find "$work/old" "$work/new" -type f | wc -l)
count_bytes=$(du -sb "$work/old" "$work/new" | awk '{s += $1} END {print s}')
echo "bench-diff: both folders: $count_files files, $count_bytes bytes"

cat_all() { find "$work/old" "$work/new" -type f -print0 | xargs -0 cat > /dev/null; }
hash_all() { find "$work/old" "$work/new" -type f -print0 | xargs -0 sha1sum > /dev/null; }
tar_all() { tar -C "$work" -cf - old new | cat > /dev/null; }
tool() { rm -rf "$work/patch"; "$velpack" diff "$work/old" "$work/new" -o "$work/patch" > /dev/null; }
seconds() { local start end; start=$(date +%s.%N); "$@"; end=$(date +%s.%N); echo "$end - $start" | bc; }

# Warm the caches with one uncounted round of each.
cat_all
tool
echo "bench-diff: patch: $(find "$work/patch" -type f | wc -l) files, $(du -sb "$work/patch" | cut -f1) bytes"
declare -A times
for round in 1 2 3; do
    for run in cat_all hash_all tar_all tool; do times[$run]+="$(seconds $run) "; done
done
median() { printf '%s\n' $1 | sort -g | sed -n 2p; }
diff_time=$(median "${times[tool]}")
printf 'bench-diff: %-28s %s s (median %s s)\n' "velpack diff:" "${times[tool]}" "$diff_time"
for run in cat_all hash_all tar_all; do
    base=$(median "${times[$run]}")
    printf 'bench-diff: %-28s %s s (median %s s), velpack diff / this = %s\n' "$run of both folders:" \
        "${times[$run]}" "$base" "$(echo "scale=2; $diff_time / $base" | bc)"
done
