# Sourced by the scripts that need an X server (tests, sanitizers, benchmarks).
# start_xvfb FIRST LAST: when DISPLAY is unset and Xvfb is installed, starts Xvfb on the first free display
# number in FIRST..LAST (callers use different ranges, so they can run side by side), waits for its
# socket and exports DISPLAY. xvfb_pid is the server's process (empty when none was started); the caller
# kills it on exit. Returns non-zero, with a message, when the server does not come up: the X tests would
# otherwise report themselves skipped and the run would look complete. Without Xvfb installed the X tests
# report themselves skipped.
xvfb_pid=""
start_xvfb() {
  if [[ -n "${DISPLAY:-}" ]]; then
    return 0
  fi
  if ! command -v Xvfb >/dev/null; then
    echo "xvfb: Xvfb is not installed; the tests that need an X display will be skipped" >&2
    return 0
  fi
  local n
  for n in $(seq "$1" "$2"); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -noreset -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      for _ in $(seq 100); do
        [[ -e /tmp/.X11-unix/X$n ]] && { export DISPLAY=":$n"; return 0; }
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
      done
      kill "$xvfb_pid" 2>/dev/null || true
      xvfb_pid=""
      echo "xvfb: Xvfb did not start on display :$n" >&2
      return 1
    fi
  done
  echo "xvfb: no free display number in $1..$2" >&2
  return 1
}
