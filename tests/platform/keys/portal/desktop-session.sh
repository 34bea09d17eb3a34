#!/bin/bash
# Starts a real desktop headless for the portal typing tests and keeps it running until killed (kill its
# process group): the compositor, xdg-desktop-portal with the desktop's own backend, in a D-Bus session of
# their own, and a Wayland-native receiver with the keyboard focus.
#   desktop-session.sh kde|gnome|mutter DIR LAYOUT RECEIVER
# DIR gets: runtime/ (XDG_RUNTIME_DIR), home/, env (the variables a program needs to type into the session,
# written last: its presence means ready), received.txt (the receiver's text), backend.pid, log/. GNOME
# Shell ends its remote-desktop sessions (as when the screen locks) once home/end-remote-desktop appears. On failure: skip (a reason why the
# desktop cannot run here) or fail, and a non-zero exit.
set -u
desktop=$1 dir=$2 layout=$3 receiver=$4

if [[ -z "${VORNAL_IN_DESKTOP_SESSION:-}" ]]; then
  mkdir -p "$dir/runtime" "$dir/home/.config" "$dir/home/.local/share" "$dir/home/.cache" "$dir/log"
  chmod 700 "$dir/runtime"
  export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config \
    XDG_DATA_HOME=$dir/home/.local/share XDG_CACHE_HOME=$dir/home/.cache VORNAL_IN_DESKTOP_SESSION=1
  unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS
  command -v dbus-run-session >/dev/null || { echo "dbus-run-session is not installed" >"$dir/skip"; exit 3; }
  exec dbus-run-session -- "$0" "$@" >"$dir/log/session.log" 2>&1
fi

skip() { echo "$*" >"$dir/skip"; exit 3; }
fail() { echo "$*" >"$dir/fail"; exit 1; }
program() { # the first of the paths that exists
  for p in "$@"; do [[ -x "$p" ]] && { echo "$p"; return; }; done
}
wait_for() { # wait_for SECONDS TEST...
  local n=$(($1 * 10)); shift
  for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
trap 'kill $(jobs -p) 2>/dev/null' EXIT

portal=$(program /usr/libexec/xdg-desktop-portal /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal)
[[ -n "$portal" ]] || skip "xdg-desktop-portal is not installed (scripts/deps.sh test)"
socket=wayland-vornal
export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland GDK_BACKEND=wayland

case "$desktop" in
kde)
  kwin=$(program /usr/bin/kwin_wayland)
  backend=$(program /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde /usr/libexec/xdg-desktop-portal-kde)
  [[ -n "$kwin" && -n "$backend" ]] || skip "kwin_wayland or xdg-desktop-portal-kde is not installed (scripts/deps.sh test)"
  export XDG_CURRENT_DESKTOP=KDE
  printf '[Layout]\nLayoutList=%s\nUse=true\n' "$layout" >"$XDG_CONFIG_HOME/kxkbrc"
  # The installed binary carries file capabilities, which a sandbox may refuse to run: a plain copy.
  cp "$kwin" "$dir/kwin_wayland"
  "$dir/kwin_wayland" --virtual --no-lockscreen --socket "$socket" >"$dir/log/compositor.log" 2>&1 &
  ;;
gnome | mutter)
  backend=$(program /usr/libexec/xdg-desktop-portal-gnome /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-gnome)
  compositor=$(program "/usr/bin/$([[ $desktop == gnome ]] && echo gnome-shell || echo mutter)")
  [[ -n "$compositor" && -n "$backend" ]] || skip "$desktop or xdg-desktop-portal-gnome is not installed (scripts/deps.sh test)"
  [[ -x /usr/bin/python3 ]] && /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    skip "python3-gi with Atspi is not installed (scripts/deps.sh test)"
  export XDG_CURRENT_DESKTOP=GNOME GTK_A11Y=atspi NO_AT_BRIDGE=0
  # gnome-shell needs a system bus, an empty one of its own will do.
  cat >"$dir/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN" "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:dir=$dir/runtime</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
EOF
  dbus-daemon --nofork --print-address=1 --config-file="$dir/system-bus.conf" >"$dir/system-bus.address" 2>"$dir/log/system-bus.log" &
  wait_for 10 test -s "$dir/system-bus.address" || fail "the private system bus did not start"
  export DBUS_SYSTEM_BUS_ADDRESS=$(head -n1 "$dir/system-bus.address")
  dbus-update-activation-environment HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR \
    DBUS_SYSTEM_BUS_ADDRESS XDG_CURRENT_DESKTOP WAYLAND_DISPLAY GDK_BACKEND GTK_A11Y
  if [[ $desktop == gnome ]]; then
    gsettings set org.gnome.desktop.input-sources sources "[('xkb', '$layout')]"
    # The extension that ends remote-desktop sessions when the test asks (touch ~/end-remote-desktop).
    mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
    cp -r "$(dirname "$0")/gnome-extension" "$XDG_DATA_HOME/gnome-shell/extensions/end-remote-desktop@vornal.test"
    gsettings set org.gnome.shell enabled-extensions "['end-remote-desktop@vornal.test']"
  fi
  "$compositor" --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display "$socket" \
    >"$dir/log/compositor.log" 2>&1 &
  ;;
*)
  fail "unknown desktop $desktop"
  ;;
esac
compositorPid=$!
if ! wait_for 30 test -S "$XDG_RUNTIME_DIR/$socket"; then
  grep -q "Operation not permitted" "$dir/log/compositor.log" && skip "the compositor may not run here: $(tail -n3 "$dir/log/compositor.log")"
  fail "the compositor did not start: $(tail -n5 "$dir/log/compositor.log")"
fi
dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP QT_QPA_PLATFORM GDK_BACKEND HOME \
  XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR

# The backend before the portal, so that the portal finds it running with this environment.
"$backend" >"$dir/log/backend.log" 2>&1 &
echo $! >"$dir/backend.pid"
case "$desktop" in
kde) name=org.freedesktop.impl.portal.desktop.kde ;;
*) name=org.freedesktop.impl.portal.desktop.gnome ;;
esac
owned() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true; }
wait_for 30 owned "$name" || fail "the portal backend did not start: $(tail -n5 "$dir/log/backend.log")"
"$portal" >"$dir/log/portal.log" 2>&1 &
wait_for 30 owned org.freedesktop.portal.Desktop || fail "xdg-desktop-portal did not start: $(tail -n5 "$dir/log/portal.log")"

if [[ $desktop != kde ]]; then
  /usr/bin/python3 "$(dirname "$0")/gnome-answer.py" "$dir/helper.log" >"$dir/log/helper.log" 2>&1 &
  wait_for 30 grep -q ready "$dir/helper.log" 2>/dev/null || fail "the GNOME helper did not start: $(tail -n5 "$dir/log/helper.log")"
fi

"$receiver" "$dir/received.txt" >"$dir/log/receiver.log" 2>&1 &
focused() {
  # GNOME Shell shows the overview once it has started, which keeps the focus from the window.
  [[ $desktop == gnome ]] && gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive "<false>" >/dev/null 2>&1
  test -f "$dir/received.txt.ready"
}
wait_for 60 focused || fail "the receiver did not get the focus: $(tail -n5 "$dir/log/receiver.log")"

{
  echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
  echo "WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
  echo "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
  echo "XDG_CURRENT_DESKTOP=$XDG_CURRENT_DESKTOP"
  echo "HOME=$HOME"
  echo "XDG_CONFIG_HOME=$XDG_CONFIG_HOME"
  echo "XDG_DATA_HOME=$XDG_DATA_HOME"
} >"$dir/env.part"
mv "$dir/env.part" "$dir/env"
wait "$compositorPid"
fail "the compositor ended: $(tail -n5 "$dir/log/compositor.log")"
