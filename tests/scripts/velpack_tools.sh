# Sourced by the script tests: Wine paths of host files, and velpack, the native release tool
# where the native tree has one (it takes host paths), else the Windows one run by a Wine runner.
#   use_velpack REPO RUNNER VELPACK_EXE   defines velpack and host (a path as velpack takes it);
#                                        false when neither tool is there.

# Wine maps the Unix root to drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

use_velpack() {
  local repo=$1
  vel_velpack_runner=$2 vel_velpack_exe=$3
  if [ -x "$repo/build/native/bin/velpack" ]; then
    vel_velpack_native="$repo/build/native/bin/velpack"
  elif [ -f "$vel_velpack_exe" ]; then
    vel_velpack_native=""
  else
    return 1
  fi
}

velpack() {
  if [ -n "$vel_velpack_native" ]; then
    "$vel_velpack_native" "$@"
  else
    "$vel_velpack_runner" "$vel_velpack_exe" "$@"
  fi
}

host() {
  if [ -n "$vel_velpack_native" ]; then printf '%s' "$1"; else winpath "$1"; fi
}
