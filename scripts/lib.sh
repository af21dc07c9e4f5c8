# shellcheck shell=bash
# Sourced by the build and test scripts.

# vel_xvfb_start starts a private Xvfb and sets DISPLAY and VEL_XVFB_PID;
# vel_xvfb_stop ends that server only.

vel_xvfb_start() {
  local fifo dir n=""
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vel-xvfb.XXXXXX")
  fifo="$dir/displayfd"
  mkfifo "$fifo"
  # -displayfd lets the server pick a free display and tell us once it accepts connections.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fifo" >/dev/null 2>&1 8>&- 9>&- &
  VEL_XVFB_PID=$!
  read -r -t 30 n <"$fifo" || true
  rm -rf "$dir"
  if [ -z "$n" ] || ! kill -0 "$VEL_XVFB_PID" 2>/dev/null; then
    echo "xvfb: could not start Xvfb" >&2
    VEL_XVFB_PID=""
    return 1
  fi
  export DISPLAY=":$n"
}

vel_xvfb_stop() {
  if [ -n "${VEL_XVFB_PID:-}" ]; then
    kill "$VEL_XVFB_PID" 2>/dev/null || true
    wait "$VEL_XVFB_PID" 2>/dev/null || true
    VEL_XVFB_PID=""
  fi
}

# True when clang can build libFuzzer targets on this machine.
vel_fuzz_available() {
  local dir ok=1
  command -v clang++ >/dev/null 2>&1 || return 1
  dir=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$dir/f.cpp"
  clang++ -fsanitize=fuzzer "$dir/f.cpp" -o "$dir/f" >/dev/null 2>&1 && ok=0
  rm -rf "$dir"
  return $ok
}
