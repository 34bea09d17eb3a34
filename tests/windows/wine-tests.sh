#!/usr/bin/env bash
# Runs the Windows build under wine (Debian's wine64) in a wine prefix and on an X server (Xvfb) of
# its own. Called by scripts/test-windows.sh after the cross build:
#   tests/windows/wine-tests.sh BUILD_DIR
# Checks (each prints PASS, FAIL or SKIP with the reason; exit status 1 when one failed):
#   cli        vornal-cli.exe --version, presets, process on the README's example
#   store      the settings file without registry: per user under %LOCALAPPDATA%, shared under
#              %ProgramData% (VORNAL_SHARED=1, or the marker file vornal.shared next to the program)
#   com        COM1 mapped to one end of a socat pty pair: listed by `ports`; `run --print` prints the
#              values written on the other end; the pty vanishing is reported and a new pair under the
#              same name is read again; with --no-reconnect the vanishing ends the run with a report
#   request    vornal-cli.exe request reaches the running connection through the per-user named pipe
#              (both ends check the other's account) and the request command arrives at COM1
#   mqtt       vornal-cli.exe run --simulate --publish mqtt://127.0.0.1:PORT to a mosquitto on Linux:
#              readings queued while the broker is down survive a kill and arrive in full and in order,
#              a mosquitto_sub sees their JSON fields and the station's status; mqtts:// is refused
#              (no TLS in the Windows libmosquitto), never tried in plain text
#   window     vornal.exe --simulate shows its window (screenshot kept), connects to the simulated
#              scale and types the values through SendInput into another window (wintarget.exe)
#   typing     the keyboard output's own test (platform_keys.exe, WindowsInjector.*) on the display;
#              vornal-cli.exe type into wintarget.exe: keyboard type ALL types characters beyond the
#              keyboard layout (KEYEVENTF_UNICODE) exactly; while a Ctrl key pressed by another
#              program (SendInput) is down nothing is typed, and the value arrives whole after its release
#   installer  the NSIS installer runs silently (/S), the installed programs start, the uninstaller
#              removes them
# Artefacts (screenshot, logs, the wine prefix) stay in BUILD_DIR/wine-tests.
# VORNAL_WINE_DISPLAY=N uses display :N for Xvfb (default: the first free one in 170..189).
set -uo pipefail
build=$(realpath "${1:?usage: wine-tests.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/xvfb.sh"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
out="$build/wine-tests"
stage="$out/stage"
rm -rf "$out" && mkdir -p "$out"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' LANGUAGE=en LC_ALL=C.UTF-8
unset DISPLAY WINEPATH VORNAL_SHARED

failures=0
pids=()
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }
skip() { echo "SKIP $1: $2"; }
# Windows path of a file below / (wine's drive Z:).
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
# Waits up to $1 seconds for the command in the other arguments to succeed.
wait_for() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  while ((SECONDS < end)); do
    "$@" && return 0
    sleep 0.5
  done
  "$@"
}
# Ends a process this script started (and waits for it).
stop() { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; }
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  "$wineserver" -k 2>/dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
cli() { "$wine" "$stage/bin/vornal-cli.exe" "$@" 2>>"$out/cli.err" | tr -d '\r'; }
target() { "$wine" "$build/bin/wintarget.exe" "$@" | tr -d '\r'; }

# ---- setting up: a staged installation, X server, wine prefix -------------------------------------
if ! cmake --install "$build" --prefix "$stage" >"$out/install.log" 2>&1; then
  cat "$out/install.log"; echo "FAIL setup: cmake --install failed"; exit 1
fi
if [[ -n "${VORNAL_WINE_DISPLAY:-}" ]]; then
  Xvfb ":$VORNAL_WINE_DISPLAY" -screen 0 1280x1024x24 -noreset -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$VORNAL_WINE_DISPLAY"
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$VORNAL_WINE_DISPLAY ]] && break; sleep 0.1; done
else
  start_xvfb 170 189
fi
[[ -n "${DISPLAY:-}" ]] || { echo "FAIL setup: no X server (Xvfb) could be started"; exit 1; }
# The first start creates the prefix (about 30 s, more on a loaded machine).
if ! timeout 300 "$wine" wineboot --init >"$out/wineboot.log" 2>&1; then
  cat "$out/wineboot.log"; echo "FAIL setup: wine could not create its prefix"; exit 1
fi
"$wineserver" -w
# A crashing program must not wait for someone to close wine's crash dialog: the debugger writes its
# backtrace to the program's standard error and ends the program.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f >/dev/null 2>&1
"$wineserver" -w
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local"
[[ -d "$appdata" ]] || appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Local' | head -1)

# ---- the deployed files ---------------------------------------------------------------------------
# Exactly the DLLs and plugins the programs load: a missing one stops a program on Windows, an extra
# one is dead weight in the installer.
expected="libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll platforms/qwindows.dll Qt6Core.dll Qt6Gui.dll
Qt6Network.dll Qt6Widgets.dll styles/qwindowsvistastyle.dll tls/qschannelbackend.dll vazEdo.dll"
deployed=$(cd "$stage/bin" && find . -name '*.dll' | sed 's|^\./||' | sort -f | xargs)
if [[ "$deployed" == "$(echo $expected | tr ' ' '\n' | sort -f | xargs)" ]]; then
  pass "deploy: bin/ holds exactly the DLLs and plugins the programs need"
else
  fail deploy "bin/ holds: $deployed; expected: $(echo $expected)"
fi

# ---- cli ------------------------------------------------------------------------------------------
store=$(winpath "$out/cli-prefs.txt")
v=$(cli --version)
[[ "$v" == "vornal-cli $version" ]] && pass "cli: --version" || fail "cli --version" "printed '$v'"
presets=$(cli presets)
generic=$(grep '^GENERIC	' <<<"$presets")
if [[ $(wc -l <<<"$presets") -ge 50 && "$generic" == *"Generic (any scale)"*"9600/8/NONE/1/13"* ]]; then
  pass "cli: presets ($(wc -l <<<"$presets") presets)"
else
  fail "cli presets" "$(head -3 <<<"$presets")"
fi
p=$(printf 'ST,GS,+  12.345 kg\r' | cli --store "$store" process --preset GENERIC --set decimalSeparator=COMMA)
[[ "$p" == "12,345" ]] && pass "cli: process prints 12,345" || fail "cli process" "printed '$p'"

# ---- store ----------------------------------------------------------------------------------------
user_file="$appdata/Halvorn/Vornal/prefs.txt"
shared_file="$WINEPREFIX/drive_c/ProgramData/Halvorn/VornalMU/prefs.txt"
cli set delay=31 >/dev/null
if [[ -f "$user_file" ]] && grep -q 31 "$user_file" && [[ ! -e "$shared_file" ]]; then
  pass "store: per-user settings in %LOCALAPPDATA%\\Halvorn\\Vornal\\prefs.txt"
else
  fail store "no per-user file $user_file with delay=31 ($(ls -R "$appdata/Halvorn" 2>&1 | xargs))"
fi
VORNAL_SHARED=1 cli set delay=32 >/dev/null
if [[ -f "$shared_file" ]] && grep -q 32 "$shared_file" && ! grep -q 32 "$user_file"; then
  pass "store: VORNAL_SHARED=1 uses %ProgramData%\\Halvorn\\VornalMU\\prefs.txt"
else
  fail store "VORNAL_SHARED=1 did not write $shared_file"
fi
touch "$stage/bin/vornal.shared"
s=$(cli settings | grep '^delay=')
rm -f "$stage/bin/vornal.shared"
[[ "$s" == "delay=32" ]] && pass "store: the marker file vornal.shared selects the shared file" ||
  fail store "with vornal.shared next to the program the settings say '$s'"
if "$wine" reg query 'HKCU\Software\Halvorn' >/dev/null 2>&1 || "$wine" reg query 'HKLM\Software\Halvorn' >/dev/null 2>&1; then
  fail store "settings were written to the registry (Software\\Halvorn)"
else
  pass "store: nothing in the registry"
fi

# ---- com ------------------------------------------------------------------------------------------
# COM1 is one end of a socat pty pair; the test writes on the other. Wine takes serial ports from the
# registry (HKLM\Software\Wine\Ports) and the dosdevices links; both name the pair's link, not the
# pty behind it, so that a new pair under the same link is the same COM1 again (the instrument
# plugged in again). Wine reports a COM port whose pty has gone as "not ready".
new_pair() { # a pty pair under the links $out/instrument and $out/com1
  rm -f "$out/com1" "$out/instrument"
  socat -d -d "pty,raw,echo=0,link=$out/instrument" "pty,raw,echo=0,link=$out/com1" 2>>"$out/socat.log" &
  socat_pid=$!
  pids+=("$socat_pid")
  wait_for 10 test -e "$out/com1"
}
printed() { tr -d '\r' <"$out/run.out" | grep -qx -- "$1"; }
# Writes the line again until its value is printed: the program opens the port some time after it
# starts (or after the port came back).
write_until_printed() { # LINE VALUE SECONDS
  local _
  for _ in $(seq "$3"); do
    printf '%s\r' "$1" >&7
    printed "$2" && return 0
    sleep 1
  done
  return 1
}
run_ended() { ! kill -0 "$run_pid" 2>/dev/null; }
if ! new_pair; then
  fail com "socat made no pty pair"
else
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$out/com1" /f >/dev/null 2>&1
  "$wineserver" -k; "$wineserver" -w
  ln -sfn "$out/com1" "$WINEPREFIX/dosdevices/com1"
  ports=$(cli ports)
  grep -q '^COM1\b' <<<"$ports" && pass "com: ports lists COM1" || fail "com ports" "listed: $(xargs <<<"$ports")"

  # Reconnecting (the default): the pty vanishes, the run says so and waits; a new pair under the same
  # name is opened again and its values are printed.
  exec 7<>"$out/instrument"
  cli --store "$store" set 'requestCommand=P<13>' >/dev/null
  "$wine" "$stage/bin/vornal-cli.exe" --store "$store" run --port COM1 --print >"$out/run.out" 2>"$out/run.err" &
  run_pid=$!
  pids+=("$run_pid")
  if write_until_printed 'ST,GS,+  12.345 kg' 12.345 60 && write_until_printed 'ST,GS,-   0.875 kg' -0.875 10; then
    pass "com: run --print prints the values written to COM1"
    # Requests: a second vornal-cli.exe asks the running one through the user's named pipe (whose
    # two ends check each other's account) to send its request command; the instrument receives it.
    r=$(cli request)
    got=""
    read -r -t 10 -d $'\r' got <&7
    if [[ "$r" == *"sent to COM1"* && "$got" == P ]]; then
      pass "request: the running connection answers through the named pipe and sends P<13> to COM1"
    else
      fail request "printed '$r' ($(tail -2 "$out/cli.err" | xargs)); the instrument received '$got'"
    fi
  else
    fail "com run" "printed '$(xargs <"$out/run.out")'; log: $(tail -3 "$out/run.err" | xargs)"
  fi
  exec 7>&-
  stop "$socat_pid"
  if run_ended; then
    fail "com vanish" "the run ended when the pty vanished; log: $(tail -3 "$out/run.err" | xargs)"
  elif wait_for 20 grep -q 'is gone.*waiting for it to come back' "$out/run.err"; then
    pass "com: the vanished pty is reported ($(grep -m1 'is gone' "$out/run.err" | tr -d '\r' | cut -c1-100)...)"
    if new_pair && exec 7<>"$out/instrument" && write_until_printed 'ST,GS,+   2.500 kg' 2.500 30 &&
      grep -q 'reconnected: COM1' "$out/run.err"; then
      pass "com: the same COM1 back again is reopened and read"
    else
      fail "com reconnect" "printed '$(xargs <"$out/run.out")'; log: $(tail -3 "$out/run.err" | xargs)"
    fi
    exec 7>&-
  else
    fail "com vanish" "no report 20 s after the pty vanished; log: $(tail -3 "$out/run.err" | xargs)"
  fi
  stop "$run_pid"
  stop "$socat_pid"

  # --no-reconnect: the vanished pty ends the run with a failure status and says why.
  if new_pair; then
    exec 7<>"$out/instrument"
    : >"$out/run.out"
    "$wine" "$stage/bin/vornal-cli.exe" --store "$store" run --port COM1 --print --no-reconnect \
      >"$out/run.out" 2>"$out/run2.err" &
    run_pid=$!
    pids+=("$run_pid")
    write_until_printed 'ST,GS,+  12.345 kg' 12.345 60 || fail "com run --no-reconnect" "nothing printed"
    exec 7>&-
    stop "$socat_pid"
    if wait_for 20 run_ended; then
      wait "$run_pid"; rc=$?
      if [[ $rc -ne 0 ]] && grep -q 'is gone\|lost\|hung up' "$out/run2.err"; then
        pass "com: with --no-reconnect the vanished pty ends the run with status $rc ($(tail -1 "$out/run2.err" | tr -d '\r' | cut -c1-100))"
      else
        fail "com vanish --no-reconnect" "status $rc; log: $(xargs <"$out/run2.err")"
      fi
    else
      fail "com vanish --no-reconnect" "the run goes on 20 s after the pty vanished; log: $(tail -3 "$out/run2.err" | xargs)"
      stop "$run_pid"
    fi
  else
    fail com "socat made no second pty pair"
  fi
fi

# ---- mqtt -----------------------------------------------------------------------------------------
# Publishing to a broker: a mosquitto of the test's own on a loopback port of Linux, which wine's
# programs reach as 127.0.0.1. The station runs first while the broker is down (its readings go to the
# on-disk queue) and is killed; the next run sends that queue in full, then its own readings, which a
# mosquitto_sub sees with their JSON fields. mqtts:// is refused (the Windows libmosquitto has no TLS),
# never tried in plain text.
mqtt_readings() { # the "id value" of every reading message of station $1 in $out/mqtt-sub.txt
  tr -d '\r' <"$out/mqtt-sub.txt" | grep "^vornal/$1/GENERIC/reading " |
    sed -n 's/.*"id":\([0-9]*\).*"value":"\([^"]*\)".*/\1 \2/p'
}
mqtt_port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
mqtt_run() { # STATION BROKER_URL OUT: a publishing station in the background, sets run_pid
  "$wine" "$stage/bin/vornal-cli.exe" --store "$mqtt_store" --simulate "$(winpath "$out/fast.vsim")" \
    run --port SIM1 --print --publish "$2" --set "mqttStation=$1" >"$out/$3.out" 2>"$out/$3.err" &
  run_pid=$!
  pids+=("$run_pid")
}
if [[ "$(sed -n 's/^VORNAL_MQTT:BOOL=//p' "$build/CMakeCache.txt")" != ON ]]; then
  timeout 60 "$wine" "$stage/bin/vornal-cli.exe" --simulate run --port SIM1 --print \
    --publish mqtt://127.0.0.1:1 >"$out/mqtt-off.out" 2>"$out/mqtt-off.err"
  if grep -q 'cannot publish to a broker' "$out/mqtt-off.err"; then
    skip mqtt "built without libmosquitto (scripts/qt-windows.sh builds it); the program says so"
  else
    fail mqtt "built without libmosquitto, but run --publish does not say so: $(tail -2 "$out/mqtt-off.err" | xargs)"
  fi
elif ! command -v mosquitto_sub >/dev/null || [[ ! -x /usr/sbin/mosquitto ]]; then
  skip mqtt "mosquitto or mosquitto_sub is not installed (Debian: mosquitto mosquitto-clients)"
else
  printf 'port SIM1\nvalue w 1 step=1\nevery 50ms send "{w}\\r"\n' >"$out/fast.vsim"
  mqtt_store=$(winpath "$out/mqtt-prefs.txt")
  # A ':' cannot be in a Windows file name: the station's queue file has '_' in its place.
  mqtt_station='wine:1'
  mqtt_queue="$appdata/Halvorn/Vornal/mqtt-queue-wine_1.txt"
  mqtt_port=0
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 30000))
    mqtt_port_open "$p" || { mqtt_port=$p; break; }
  done
  broker="mqtt://127.0.0.1:$mqtt_port"
  # 1. The broker is down: the readings are queued on disk; the station is killed (as by a crash).
  mqtt_run "$mqtt_station" "$broker" mqtt-run1
  if wait_for 60 bash -c "[[ \$(grep -c . '$out/mqtt-run1.out' 2>/dev/null) -ge 10 ]] && grep -q 'readings queued' '$out/mqtt-run1.err'"; then
    kill -9 "$run_pid"; wait "$run_pid" 2>/dev/null
    "$wineserver" -k; "$wineserver" -w
    printed1=$(tr -d '\r' <"$out/mqtt-run1.out" | grep -v '^$')
    if [[ -s "$mqtt_queue" ]] && [[ -z "$(find "$appdata/Halvorn/Vornal" -name 'mqtt-queue-wine:*')" ]]; then
      pass "mqtt: the queue of station $mqtt_station is the file ${mqtt_queue#"$appdata/"}"
    else
      fail mqtt "no queue file $mqtt_queue: $(ls "$appdata/Halvorn/Vornal" 2>&1 | xargs)"
    fi
    pass "mqtt: broker down: $(grep -c . <<<"$printed1") readings printed (each queued first), the run says so ($(grep -m1 'readings queued' "$out/mqtt-run1.err" | tr -d '\r' | cut -c14-80))"
    # 2. The broker is up, a subscriber listens; the station's next run sends the queue first.
    {
      echo "listener $mqtt_port 127.0.0.1"
      echo "allow_anonymous true"
      echo "persistence false"
      [[ $(id -u) -eq 0 ]] && echo "user root"
    } >"$out/mosquitto.conf"
    /usr/sbin/mosquitto -c "$out/mosquitto.conf" >"$out/mosquitto.log" 2>&1 &
    broker_pid=$!
    pids+=("$broker_pid")
    if wait_for 20 mqtt_port_open "$mqtt_port"; then
      mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -q 1 -v -t 'vornal/#' >"$out/mqtt-sub.txt" 2>"$out/mqtt-sub.err" &
      sub_pid=$!
      pids+=("$sub_pid")
      sleep 1 # subscribed
      n1=$(grep -c . <<<"$printed1")
      mqtt_run "$mqtt_station" "$broker" mqtt-run2
      wait_for 60 bash -c "[[ \$(tr -d '\r' <'$out/mqtt-sub.txt' | grep -c '^vornal/$mqtt_station/GENERIC/reading ') -ge $((n1 + 10)) ]]"
      # A second run of the same station while this one holds the queue is refused.
      rc=0
      timeout 120 "$wine" "$stage/bin/vornal-cli.exe" --store "$mqtt_store" --simulate "$(winpath "$out/fast.vsim")" \
        run --port SIM1 --print --publish "$broker" --set "mqttStation=$mqtt_station" \
        >"$out/mqtt-twice.out" 2>"$out/mqtt-twice.err" || rc=$?
      if [[ $rc -ne 0 ]] && grep -q 'is in use by another Vornal' "$out/mqtt-twice.err"; then
        pass "mqtt: a second run of the same station is refused while the first holds the queue"
      else
        fail mqtt "a second run of station $mqtt_station was not refused: status $rc, $(tail -2 "$out/mqtt-twice.err" | xargs)"
      fi
      stop "$run_pid"
      "$wineserver" -k; "$wineserver" -w
      sleep 0.5
      # Repeats (at-least-once) dropped by id, as a consumer does.
      got=$(mqtt_readings "$mqtt_station" | awk '!seen[$1]++')
      ids_in_order=$(awk 'NR > 1 && $1 != last + 1 { bad = 1 } { last = $1 } END { print bad ? "no" : "yes" }' <<<"$got")
      values=$(cut -d' ' -f2 <<<"$got")
      first=$(grep -m1 "^vornal/$mqtt_station/GENERIC/reading " "$out/mqtt-sub.txt" | tr -d '\r' | cut -d' ' -f2-)
      if [[ $(grep -c . <<<"$got") -gt $n1 && "$(head -n "$n1" <<<"$values")" == "$printed1" && $ids_in_order == yes ]]; then
        pass "mqtt: after the kill the whole queue ($n1 readings) arrives first, in order, then the next run's ($(grep -c . <<<"$got") in all)"
      else
        fail mqtt "received $(grep -c . <<<"$got") readings (ids in order: $ids_in_order), first values $(head -n 5 <<<"$values" | xargs), printed before the kill $(head -n 5 <<<"$printed1" | xargs) ($n1); log: $(tail -3 "$out/mqtt-run2.err" | xargs)"
      fi
      if grep -q 'readings left queued by the last run are sent first' "$out/mqtt-run2.err"; then
        pass "mqtt: the next run says that the queue of the last one is sent first"
      else
        fail mqtt "no report of the queue left by the last run: $(head -3 "$out/mqtt-run2.err" | xargs)"
      fi
      # The JSON fields of one reading.
      if grep -q '"id":[0-9]' <<<"$first" && grep -qF "\"station\":\"$mqtt_station\"" <<<"$first" &&
        grep -q '"port":"SIM1"' <<<"$first" && grep -q '"raw":"' <<<"$first" && grep -q '"value":"' <<<"$first" &&
        grep -q '"result":"' <<<"$first" &&
        grep -Eq '"time":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+([+-][0-9]{2}:[0-9]{2}|Z)"' <<<"$first"; then
        pass "mqtt: a reading's JSON has its id, time with offset, station, port, raw line, value and result"
      else
        fail mqtt "a reading's JSON lacks fields: $first"
      fi
      grep -q "^vornal/$mqtt_station/status online" "$out/mqtt-sub.txt" &&
        pass "mqtt: the station says online on vornal/$mqtt_station/status" ||
        fail mqtt "no 'online' on vornal/$mqtt_station/status: $(grep status "$out/mqtt-sub.txt" | head -3 | xargs)"
      # 3. mqtts:// on this build: refused with a message, no plain connection to the same broker.
      rc=0
      timeout 120 "$wine" "$stage/bin/vornal-cli.exe" --store "$mqtt_store" --simulate "$(winpath "$out/fast.vsim")" \
        run --port SIM1 --print --publish "mqtts://127.0.0.1:$mqtt_port" --set mqttStation=tls \
        >"$out/mqtt-tls.out" 2>"$out/mqtt-tls.err" || rc=$?
      sleep 0.5
      if [[ $rc -ne 0 ]] && grep -q 'has no TLS: use mqtt://127.0.0.1' "$out/mqtt-tls.err" &&
        ! grep -q '^vornal/tls/' "$out/mqtt-sub.txt"; then
        pass "mqtt: mqtts:// is refused (status $rc: $(grep -m1 'no TLS' "$out/mqtt-tls.err" | tr -d '\r' | cut -c1-90)...)"
      else
        fail mqtt "mqtts:// was not refused clearly: status $rc, $(xargs <"$out/mqtt-tls.err" | cut -c1-200); broker got: $(grep '^vornal/tls/' "$out/mqtt-sub.txt" | head -2 | xargs)"
      fi
      stop "$sub_pid"
    else
      fail mqtt "mosquitto did not start on port $mqtt_port: $(tail -3 "$out/mosquitto.log" | xargs)"
    fi
    stop "$broker_pid"
  else
    fail mqtt "no readings queued while the broker is down; printed $(grep -c . "$out/mqtt-run1.out"); log: $(tail -3 "$out/mqtt-run1.err" | xargs)"
    stop "$run_pid"
  fi
fi

# ---- window ---------------------------------------------------------------------------------------
cat >"$out/scale.vsim" <<'EOF'
port SIM1
description "Simulated scale"
value w 12.345
every 300ms send "ST,GS,{w:+9} kg\r"
EOF
win_store=$(winpath "$out/window-prefs.txt")
cli --store "$win_store" set port=SIM1 instrument=GENERIC connect=AUTO delay=5 outputTerminator=ENTER \
  decimalSeparator=DOT minimizeToTray=false checkForUpdates=false >/dev/null
typed="$out/typed.txt"
target --record "$(winpath "$typed")" 120 >"$out/wintarget.log" 2>&1 &
target_pid=$!
pids+=("$target_pid")
wait_for 60 test -e "$typed" || fail window "wintarget.exe did not start"
"$wine" "$stage/bin/vornal.exe" --store "$win_store" --simulate "$(winpath "$out/scale.vsim")" \
  >"$out/window.out" 2>"$out/window.err" &
vornal_pid=$!
pids+=("$vornal_pid")
values() { tr -d '\r' <"$typed" 2>/dev/null | grep -cx '12.345'; }
if wait_for 60 bash -c "'$wine' '$build/bin/wintarget.exe' --windows | grep -q '^Halvorn Vornal'"; then
  pass "window: vornal.exe shows its window ($(target --windows | grep '^Halvorn Vornal' | head -1))"
  if wait_for 60 bash -c "(( \$(tr -d '\\r' <'$typed' | grep -cx '12.345') >= 3 ))"; then
    # The last line may be a value being typed right now.
    others=$(tr -d '\r' <"$typed" | sed '$d' | grep -v -x -e '12.345' -e '' | head -3 | xargs)
    [[ -z "$others" ]] && pass "window: the scale's values are typed into another window ($(values) values)" ||
      fail window "typed more than the values: $others"
  else
    fail window "typed: '$(xargs <"$typed")'; log: $(tail -3 "$out/window.err" | xargs)"
  fi
  target --screenshot "$(winpath "$out/vornal-window.bmp")" && [[ -s "$out/vornal-window.bmp" ]] &&
    pass "window: screenshot kept in $out/vornal-window.bmp" || fail window "no screenshot"
  target --close 'Halvorn Vornal' >/dev/null
  if wait_for 20 bash -c "! kill -0 $vornal_pid 2>/dev/null"; then
    wait "$vornal_pid"; rc=$?
    [[ $rc -eq 0 ]] && pass "window: closing the window ends the program with status 0" ||
      fail window "closing the window: status $rc"
  else
    fail window "the program still runs 20 s after its window was asked to close"
  fi
else
  fail window "no window titled \"Halvorn Vornal\" within 60 s; log: $(tail -5 "$out/window.err" | xargs)"
fi
stop "$vornal_pid"
# Closed, not killed: $target_pid is the shell of the pipeline, and killing it would leave the receiver
# running for its whole time, taking the foreground back every 200 ms from the receivers below.
target --close 'Vornal wine target' >/dev/null
wait_for 20 bash -c "! kill -0 $target_pid 2>/dev/null" >/dev/null || stop "$target_pid"

# ---- typing ---------------------------------------------------------------------------------------
# The keyboard output's own test types into a window of its own: it needs the display, which the
# cross build's run of the tests may not have had. It uses the shared compiler runtime.
if [[ -e "$build/bin/platform_keys.exe" ]]; then
  runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
  pthread=$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")")
  WINEPATH="Z:${runtime//\//\\};Z:${pthread//\//\\}" timeout 120 "$wine" "$build/bin/platform_keys.exe" \
    --gtest_filter='WindowsInjector.*' >"$out/platform_keys.out" 2>&1
  rc=$?
  ran=$(tr -d '\r' <"$out/platform_keys.out" | grep -E '^\[ +(OK|SKIPPED|FAILED) +\] WindowsInjector' | sed 's/ (.*//' | xargs)
  if [[ $rc -eq 0 ]]; then
    pass "typing: the keyboard output types into a window of its own ($ran)"
  elif [[ $rc -eq 77 ]]; then
    skip "typing keyboard output" "$ran"
  else
    fail "typing keyboard output" "status $rc: $(tr -d '\r' <"$out/platform_keys.out" | grep -E 'Failure|Expected|Which is|FAILED' | head -8 | xargs)"
  fi
fi
# vornal-cli.exe type into a fresh wintarget.exe window each time; the receiver's text is compared
# whole. Wine types with the X server's layout (US on Xvfb), so these characters have no key.
receiver() { # NAME: starts wintarget.exe recording into $out/NAME.txt, sets receiver_pid
  rm -f "$out/$1.txt"
  target --record "$(winpath "$out/$1.txt")" 90 >"$out/$1.log" 2>&1 &
  receiver_pid=$!
  pids+=("$receiver_pid")
  wait_for 60 test -e "$out/$1.txt"
}
received() { cat "$out/$1.txt" 2>/dev/null; }
close_receiver() {
  target --close 'Vornal wine target' >/dev/null
  wait_for 20 bash -c "! kill -0 $receiver_pid 2>/dev/null" >/dev/null || stop "$receiver_pid"
}
# Keyboard type ALL: characters without a key on the layout go as Unicode characters
# (KEYEVENTF_UNICODE); the printable ASCII characters go as ALT + numeric-pad codes, which Windows
# turns into characters itself.
type_all() { # NAME DELAY TEXT: types TEXT into a new receiver; sets rc and got
  got="" rc="(not started)"
  receiver "$1" || return 1
  timeout 120 "$wine" "$stage/bin/vornal-cli.exe" --store "$store" type --layout ALL --delay "$2" -- "$3" \
    >"$out/$1.out" 2>"$out/$1.err"
  rc=$?
  wait_for 10 bash -c "[[ \"\$(cat '$out/$1.txt')\" == '$3' ]]" >/dev/null
  got=$(received "$1")
  close_receiver
}
unicode_text='°µ±€ÄÖÜßé½Ω𝜇'
for delay in 0 5; do
  if type_all "typed-unicode-$delay" "$delay" "$unicode_text" && [[ $rc == 0 && "$got" == "$unicode_text" ]]; then
    pass "typing: ALL at delay $delay types '$unicode_text' (no key on the layout) exactly"
  else
    fail "typing ALL" "delay $delay: status $rc, received '$got' of '$unicode_text'; log: $(tr -d '\r' <"$out/typed-unicode-$delay.err" 2>/dev/null | xargs); windows now: $(target --windows | xargs)"
  fi
done
all_text='°C µm ±€ Größe ÄÖÜ ß é'
type_all typed-all 5 "$all_text"
without_ascii=$(LC_ALL=C.UTF-8 sed 's/[ -~]//g' <<<"$all_text")
if [[ $rc == 0 && "$got" == "$all_text" ]]; then
  pass "typing: ALL types '$all_text' exactly"
elif [[ $rc == 0 && "$got" == "$without_ascii" ]] && grep -q 'key 0x6[0-9] with Alt' "$out/typed-all.log"; then
  # Measured with wine 8: ALT held, numeric-pad 6, 7, ALT released gives the window the keys but no
  # character 'C'; KEYEVENTF_UNICODE and ordinary keys work.
  skip "typing ALL with ASCII" "wine does not turn ALT + numeric-pad codes into characters: of '$all_text' the receiver got '$got' (every character without a key exact; the numeric-pad keys arrived with ALT)"
else
  fail "typing ALL" "status $rc, received '$got' of '$all_text'; log: $(tr -d '\r' <"$out/typed-all.err" 2>/dev/null | xargs)"
fi

# The held modifier: another program presses Ctrl (SendInput, as the keyboard would) and keeps it
# down; vornal-cli must not type while it is down (Ctrl+1 would be a shortcut), and types the value
# whole once it is released.
release="$out/release-ctrl"
rm -f "$release"
if ! receiver typed-held; then
  fail "typing held Ctrl" "wintarget.exe did not start"
else
  "$wine" "$build/bin/wintarget.exe" --hold ctrl "$(winpath "$release")" 60 >"$out/hold.out" 2>&1 &
  hold_pid=$!
  pids+=("$hold_pid")
  if ! wait_for 30 grep -q '^down' "$out/hold.out" 2>/dev/null; then
    fail "typing held Ctrl" "the helper could not press Ctrl: $(xargs <"$out/hold.out")"
  else
    state=$(target --keystate)
    if [[ "$state" != *"ctrl=down"* ]]; then
      # Measured: the wait rests on GetAsyncKeyState; if wine does not show the key there, there is
      # nothing to check.
      skip "typing held Ctrl" "wine's GetAsyncKeyState does not show a Ctrl pressed by another program with SendInput ($state)"
    else
      value='13.456 abc'
      "$wine" "$stage/bin/vornal-cli.exe" --store "$store" type --delay 0 -- "$value" \
        >"$out/type-held.out" 2>"$out/type-held.err" &
      type_pid=$!
      pids+=("$type_pid")
      # Once the backend is chosen the value goes to the keyboard output; give it time to type.
      wait_for 60 grep -q 'typing through' "$out/type-held.err"
      sleep 2.5
      early=$(received typed-held)
      kill -0 "$type_pid" 2>/dev/null && waited=1 || waited=0
      touch "$release"
      wait_for 30 grep -q '^up' "$out/hold.out"
      if wait_for 60 bash -c "! kill -0 $type_pid 2>/dev/null"; then
        wait "$type_pid"; rc=$?
      else
        rc="(still running)"; stop "$type_pid"
      fi
      wait_for 10 bash -c "[[ \"\$(cat '$out/typed-held.txt')\" == '$value' ]]" >/dev/null
      got=$(received typed-held)
      shortcuts=$(grep -c 'with Ctrl' "$out/typed-held.log")
      said=$(tr -d '\r' <"$out/type-held.err" | grep -m1 'held down' | cut -c1-90)
      if [[ "$rc" == 0 && $waited == 1 && -z "$early" && "$got" == "$value" && $shortcuts -eq 0 ]]; then
        pass "typing: nothing typed while another program holds Ctrl ($state); '$value' arrives whole after the release${said:+ ($said...)}"
      else
        fail "typing held Ctrl" "status $rc; still waiting at the release: $waited; received while Ctrl was down: '$early'; received: '$got'; keys with Ctrl: $shortcuts; log: $(tr -d '\r' <"$out/type-held.err" | xargs)"
      fi
    fi
  fi
  touch "$release"
  wait_for 30 bash -c "! kill -0 $hold_pid 2>/dev/null" >/dev/null || stop "$hold_pid"
  close_receiver
fi

# ---- installer ------------------------------------------------------------------------------------
setup=$(ls "$build"/vornal-setup-*-win64.exe 2>/dev/null | head -1)
if [[ -z "$setup" ]]; then
  fail installer "no vornal-setup-*-win64.exe in $build"
else
  timeout 300 "$wine" "$setup" /S >"$out/setup.log" 2>&1; rc=$?
  "$wineserver" -w
  inst=$(find "$WINEPREFIX/drive_c" -maxdepth 3 -type d -name Vornal -path '*Program Files*' | head -1)
  if [[ $rc -eq 0 && -n "$inst" && -f "$inst/bin/vornal.exe" && -f "$inst/Uninstall.exe" ]]; then
    pass "installer: /S installs into ${inst#$WINEPREFIX/drive_c/}"
    v=$("$wine" "$inst/bin/vornal-cli.exe" --version 2>&1 | tr -d '\r')
    [[ "$v" == "vornal-cli $version" ]] && pass "installer: the installed vornal-cli.exe starts" ||
      fail installer "installed vornal-cli.exe --version printed '$v'"
    # The simulator's driver is found in the installed layout (lib\vornal\drivers\sim).
    sims=$("$wine" "$inst/bin/vornal-cli.exe" --store "$store" --simulate ports 2>&1 | tr -d '\r')
    grep -q '^SIM1: ' <<<"$sims" && pass "installer: the installed vornal-cli.exe finds the simulator's driver" ||
      fail installer "installed vornal-cli.exe --simulate ports printed '$(xargs <<<"$sims")'"
    # Not connected at start here: nothing is typed into whatever window has the focus.
    inst_store=$(winpath "$out/installed-prefs.txt")
    cli --store "$inst_store" set port=SIM1 minimizeToTray=false checkForUpdates=false >/dev/null
    "$wine" "$inst/bin/vornal.exe" --store "$inst_store" --simulate "$(winpath "$out/scale.vsim")" \
      >"$out/installed.out" 2>"$out/installed.err" &
    installed_pid=$!
    pids+=("$installed_pid")
    if wait_for 60 bash -c "'$wine' '$build/bin/wintarget.exe' --windows | grep -q '^Halvorn Vornal'"; then
      pass "installer: the installed vornal.exe shows its window"
    else
      fail installer "the installed vornal.exe shows no window; log: $(tail -5 "$out/installed.err" | xargs)"
    fi
    target --close 'Halvorn Vornal' >/dev/null
    wait_for 20 bash -c "! kill -0 $installed_pid 2>/dev/null" || stop "$installed_pid"
    shortcuts() { find "$WINEPREFIX/drive_c" \( -name 'Vornal*.lnk' -o -path '*Start Menu*Vornal*' \) | sort; }
    links=$(shortcuts | grep -c '/Vornal\.lnk$')
    [[ $links -ge 2 ]] && pass "installer: Start-menu and desktop shortcuts ($links)" ||
      fail installer "$links shortcuts named Vornal"
    # The uninstaller copies itself away and returns at once; it is done when the folder is gone
    # (user settings in AppData stay, as on Windows).
    "$wine" "$inst/Uninstall.exe" /S >"$out/uninstall.log" 2>&1
    if wait_for 120 bash -c "[[ ! -e '$inst' ]]"; then
      "$wineserver" -w
      left=$(find "$inst" 2>/dev/null | head -5 | xargs)
      links=$(shortcuts | wc -l)
      if [[ -z "$left" && $links -eq 0 ]] &&
        ! "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Halvorn Vornal' >/dev/null 2>&1; then
        pass "installer: the uninstaller removes the files, shortcuts and its registry entry"
      else
        fail uninstaller "left behind: ${left:-nothing in the folder}; $links shortcuts"
      fi
    else
      fail uninstaller "still there 120 s after Uninstall.exe /S: $(find "$inst" | head -5 | xargs)"
    fi
  else
    fail installer "status $rc; installed: $(find "$WINEPREFIX/drive_c" -maxdepth 4 -path '*Vornal*' | head -5 | xargs)"
  fi
fi

# A program that crashed (wine writes "Unhandled page fault ..." and similar) fails the run even when
# the check it was part of passed.
crashed=$(grep -l 'Unhandled \(page fault\|exception\)' "$out"/*.err "$out"/*.out "$out"/*.log 2>/dev/null | xargs -r -n1 basename | xargs)
[[ -z "$crashed" ]] && pass "no program crashed" || fail crash "wine reports a crash in: $crashed"

echo "wine tests: $failures failed (artefacts in $out)"
[[ $failures -eq 0 ]]
