#!/usr/bin/env bash
# Checks of the installed layout, run by CTest. Each check installs the build into its own
# staging folder (DESTDIR, prefix /usr, stripped, as the package does) and examines what landed there:
#   check-install.sh BUILD_DIR CHECK
#     layout    every file at its place; the installed programs find their drivers
#     desktop   the desktop entry passes desktop-file-validate and matches the icon and metainfo
#     metainfo  the AppStream metainfo passes appstreamcli validate
#     manpages  both man pages render without warnings, with the installed paths
#     unit      the systemd user unit passes systemd-analyze verify
set -euo pipefail
build=$(cd "$1" && pwd)
check=$2
stage="$build/packaging-tests/$check"
app_id=com.halvorn.Vornal

fail() { echo "FAILED ($check): $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || fail "$1 not found; install $2 (scripts/deps.sh test)"; }

rm -rf "$stage"
mkdir -p "$stage"
if ! out=$(DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip 2>&1); then
  echo "$out" >&2
  fail "cmake --install into $stage failed"
fi
usr="$stage/usr"

case "$check" in
layout)
  for f in bin/vornal-cli lib/vornal/drivers/posix/libvazEdo.so lib/vornal/drivers/sim/libvazEdo.so \
    lib/systemd/user/vornal-cli.service share/man/man1/vornal.1.gz share/man/man1/vornal-cli.1.gz \
    share/vornal/sim/demo.vsim share/doc/vornal/README.md share/doc/vornal/install.md \
    share/doc/vornal/examples/60-vornal-serial.rules.example share/doc/vornal/copyright \
    share/doc/vornal/changelog.Debian.gz share/lintian/overrides/vornal; do
    [[ -f "$usr/$f" ]] || fail "/usr/$f is not installed"
  done
  if [[ -x "$build/bin/vornal" ]]; then
    [[ -x "$usr/bin/vornal" ]] || fail "/usr/bin/vornal is not installed"
    [[ -f "$usr/share/applications/$app_id.desktop" ]] || fail "the desktop entry is not installed"
    [[ -f "$usr/share/metainfo/$app_id.metainfo.xml" ]] || fail "the metainfo is not installed"
    for s in 16x16 24x24 32x32 48x48 64x64 128x128 256x256; do
      [[ -f "$usr/share/icons/hicolor/$s/apps/vornal.png" ]] || fail "icon $s/apps/vornal.png is not installed"
    done
    [[ -f "$usr/share/icons/hicolor/scalable/apps/vornal.svg" ]] || fail "the scalable icon is not installed"
  fi
  # Nothing of the build tree leaks into the installation.
  if leaked=$(grep -rlF "$build" "$usr/bin" "$usr/lib/vornal" "$usr/lib/systemd" "$usr/share" 2>/dev/null); then
    fail "files name the build folder $build: $leaked"
  fi
  if command -v readelf >/dev/null; then
    for f in "$usr"/bin/* "$usr"/lib/vornal/drivers/*/libvazEdo.so; do
      if readelf -d "$f" | grep -Eq 'R(UN)?PATH'; then fail "$f keeps a run path: $(readelf -d "$f" | grep -E 'R(UN)?PATH')"; fi
    done
  fi
  # The installed programs load their drivers from <prefix>/lib/vornal/drivers, relative to themselves.
  out=$(cd "$stage" && env -u VAZ_DRIVER_DIR LD_DEBUG=files "$usr/bin/vornal-cli" ports 2>&1 || true)
  grep -q "file=$usr/lib/vornal/drivers/posix/libvazEdo.so" <<<"$out" ||
    fail "vornal-cli ports did not load $usr/lib/vornal/drivers/posix/libvazEdo.so: $out"
  out=$(cd "$stage" && env -u VAZ_DRIVER_DIR timeout --preserve-status -s INT 2 "$usr/bin/vornal-cli" \
    --store "$stage/prefs.txt" --simulate "$usr/share/vornal/sim/demo.vsim" run --port SIM1 --print 2>&1) ||
    fail "the simulated connection failed: $out"
  grep -q "($usr/lib/vornal/drivers/sim/libvazEdo.so)" <<<"$out" ||
    fail "vornal-cli --simulate did not load $usr/lib/vornal/drivers/sim/libvazEdo.so: $out"
  grep -Eq '^12\.[0-9]+$' <<<"$out" || fail "the simulated scale gave no value: $out"
  out=$("$usr/bin/vornal-cli" --version) || fail "vornal-cli --version failed: $out"
  [[ "$out" == "vornal-cli "* ]] || fail "vornal-cli --version printed '$out'"
  if [[ -x "$usr/bin/vornal" ]]; then
    out=$(QT_QPA_PLATFORM=offscreen "$usr/bin/vornal" --help 2>&1) || fail "vornal --help failed: $out"
    [[ "$out" == *"Usage: vornal"* ]] || fail "vornal --help printed no usage: $out"
  fi
  ;;

desktop)
  [[ -x "$build/bin/vornal" ]] || { echo "built without the window program: no desktop entry" >&2; exit 77; }
  need desktop-file-validate desktop-file-utils
  entry="$usr/share/applications/$app_id.desktop"
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
  [[ -z "$out" ]] || fail "desktop-file-validate: $out"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" || -f "$usr/share/icons/hicolor/32x32/apps/$icon.png" ]] ||
    fail "the entry's icon '$icon' is not installed in the hicolor theme"
  exe=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [[ "$exe" == vornal ]] || fail "the entry starts '$exe', not vornal"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo does not name $app_id.desktop as its launchable"
  ;;

metainfo)
  [[ -x "$build/bin/vornal" ]] || { echo "built without the window program: no metainfo" >&2; exit 77; }
  need appstreamcli appstream
  meta="$usr/share/metainfo/$app_id.metainfo.xml"
  out=$(appstreamcli validate --no-net --pedantic "$meta" 2>&1) || fail "appstreamcli validate: $out"
  ! grep -q '@[A-Z_]*@' "$meta" || fail "unreplaced placeholders in $meta"
  version=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$meta")
  out=$("$usr/bin/vornal-cli" --version)
  [[ "$out" == "vornal-cli $version" ]] || fail "the metainfo's release $version differs from '$out'"
  ;;

manpages)
  need man man-db
  for page in vornal vornal-cli; do
    f="$usr/share/man/man1/$page.1.gz"
    ! zgrep -q '@[A-Z_]*@' "$f" || fail "unreplaced placeholders in $page.1"
    zgrep -q '/usr/lib/vornal/drivers' "$f" || fail "$page.1 does not name the installed driver folder"
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$f" 2>&1 >/dev/null) || fail "man $page: $out"
    [[ -z "$out" ]] || fail "man $page: $out"
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$f" 2>/dev/null)
    grep -q 'dialout' <<<"$text" || fail "$page.1 does not tell how to get access to serial ports"
  done
  # Every command of vornal-cli is documented.
  text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$usr/share/man/man1/vornal-cli.1.gz" 2>/dev/null)
  commands=$("$usr/bin/vornal-cli" --help | awk '/^Commands:/ { on = 1; next } /^$/ { on = 0 } on { print $1 }')
  [[ -n "$commands" ]] || fail "vornal-cli --help lists no commands"
  for c in $commands; do
    grep -Eq "^ {7}$c( |$)" <<<"$text" || fail "vornal-cli.1 does not document the command '$c'"
  done
  ;;

unit)
  if ! command -v systemd-analyze >/dev/null; then
    echo "systemd-analyze not found (no systemd here): the unit is not checked" >&2
    exit 77
  fi
  unit="$usr/lib/systemd/user/vornal-cli.service"
  grep -q '^ExecStart=/usr/bin/vornal-cli run$' "$unit" || fail "ExecStart is not /usr/bin/vornal-cli run: $(grep ExecStart "$unit")"
  # Verified with the staged program and man page in place of the installed ones.
  mkdir -p "$stage/verify"
  sed "s|/usr/bin/vornal-cli|$usr/bin/vornal-cli|" "$unit" >"$stage/verify/vornal-cli.service"
  out=$(MANPATH="$usr/share/man" systemd-analyze verify "$stage/verify/vornal-cli.service" 2>&1) ||
    fail "systemd-analyze verify: $out"
  [[ -z "$out" ]] || fail "systemd-analyze verify: $out"
  ;;

*)
  fail "unknown check (layout, desktop, metainfo, manpages, unit)"
  ;;
esac
rm -rf "$stage"
