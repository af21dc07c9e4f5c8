#!/usr/bin/env bash
# Crash-safety harness of the silent installation (tests/killpoint/killpoint.py): builds what it
# needs (native velpack; x64 VelmoraPatch, vel-monitor, RAVNMerge) and runs it. Arguments go to
# the harness (--every N, --only 1-5,40, --recovery M, --recovery-every N, --full-wine);
# VEL_KILLPOINT_* variables do the same, VEL_KEEP_TEST_FOLDERS=1 keeps the work folder.
# Exit code: 0 every kill point converged and nothing was lost, 1 not crash-safe, 2 harness fault.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
export VEL_JOBS=${VEL_JOBS:-1}

if [ -z "${VEL_KILLPOINT_NO_BUILD:-}" ]; then
  VEL_SKIP_DEPS=${VEL_SKIP_DEPS:-1} VEL_BUILD_TARGETS=velpack bash "$here/build.sh" native >/dev/null || exit 2
  VEL_SKIP_DEPS=${VEL_SKIP_DEPS:-1} VEL_BUILD_TARGETS="VelmoraPatch vel-monitor RAVNMerge" \
    bash "$here/build.sh" x64 >/dev/null || exit 2
fi
exec python3 "$repo/tests/killpoint/killpoint.py" --x64-bin "$repo/build/x64/bin" \
  --velpack "$repo/build/native/bin/velpack" --work-parent "$repo/build/killpoint" "$@"
