#!/usr/bin/env bash
# Main job: builds the shipped installer (build/i686/bin/VelmoraPatch.exe) and the release tool
# (build/native/bin/velpack). With arguments, also makes a patch installer from them:
#   bash scripts/main-job.sh --folder PATCH_DIR --from 1.3.0.189 --to 1.3.0.190 --kind full -o out.exe
# (any "velpack build" options; the stub defaults to the shipped installer).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")

bash "$here/deps.sh" || exit 1
VEL_SKIP_DEPS=1 bash "$here/build.sh" i686 || exit 1
VEL_SKIP_DEPS=1 VEL_BUILD_TARGETS=velpack bash "$here/build.sh" native || exit 1

stub="$repo/build/i686/bin/VelmoraPatch.exe"
velpack="$repo/build/native/bin/velpack"
echo "installer (bare, ships without a package): $stub"
echo "release tool: $velpack"

if [ $# -gt 0 ]; then
  has_stub=0
  for a in "$@"; do [ "$a" = --stub ] && has_stub=1; done
  if [ $has_stub = 1 ]; then
    "$velpack" build "$@"
  else
    "$velpack" build --stub "$stub" "$@"
  fi
fi
