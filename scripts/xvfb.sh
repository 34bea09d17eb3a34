# Sourced by the scripts that need an X server (tests, sanitizers, benchmarks).
# start_xvfb FIRST LAST: when DISPLAY is unset and Xvfb is installed, starts Xvfb on the first free display
# number in FIRST..LAST (callers use different ranges, so they can run side by side), waits for its
# socket and exports DISPLAY. xvfb_pid is the server's process (empty when none was started); the caller
# kills it on exit.
xvfb_pid=""
start_xvfb() {
  if [[ -n "${DISPLAY:-}" ]] || ! command -v Xvfb >/dev/null; then
    return 0
  fi
  local n
  for n in $(seq "$1" "$2"); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -noreset -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
      return 0
    fi
  done
}
