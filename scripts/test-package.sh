#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 system and runs the programs there:
#   1. builds the package (scripts/package.sh), unless a .deb is given;
#   2. unpacks a minimal Debian 12 root (debootstrap --variant=minbase bookworm from this machine's
#      Debian mirror; made once and kept as a tarball in the build folder);
#   3. in a chroot: apt-get install ./vornal_*.deb (the dependencies come from the mirror), then
#      vornal-cli --version, vornal --help (offscreen), a simulated connection through the
#      installed driver folders, and apt-get purge, which must leave nothing behind.
# Needs root (debootstrap, chroot, mount) and the network (the mirror). Quiet on success.
#   scripts/test-package.sh [PACKAGE.deb]
# Environment: VORNAL_BUILD_DIR (default build), VORNAL_DEBIAN_MIRROR (default: from /etc/apt).
set -euo pipefail
die() { echo "test-package: $*" >&2; exit 1; }

deb=""
if [[ $# -ge 1 ]]; then
  [[ -f "$1" ]] || die "package $1 not found"
  deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
fi
cd "$(dirname "$0")/.."
build=${VORNAL_BUILD_DIR:-build}
suite=bookworm

[[ $(id -u) -eq 0 ]] || die "needs root (debootstrap, chroot and mount /proc); run it with sudo"
mkdir -p "$build/package-test"
work=$(cd "$build/package-test" && pwd)
root="$work/root"
cache="$work/$suite-minbase.tar.gz"
log="$work/test.log"
: >"$log"

# ---- the package ------------------------------------------------------------------------------
if [[ -z "$deb" ]]; then
  deb=$(scripts/package.sh)
  deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
fi
# What the package declares: name, section, maintainer and the libraries the programs load.
[[ $(dpkg-deb -f "$deb" Package) == vornal ]] || die "$deb is not the package vornal"
[[ -n $(dpkg-deb -f "$deb" Maintainer) && -n $(dpkg-deb -f "$deb" Section) ]] ||
  die "$deb has no maintainer or section"
depends=$(dpkg-deb -f "$deb" Depends)
for want in libqt6widgets6 libqt6network6 libgmp10 libx11-6 libxtst6 libfluidsynth3 \
  "timgm6mb-soundfont | fluid-soundfont-gm"; do
  [[ "$depends" == *"$want"* ]] || die "$deb does not depend on $want: $depends"
done

# ---- the mirror: the first Debian source of this machine that carries the suite -----------------
mirror_from_apt() {
  local f
  # One-line format: deb [options] URI SUITE COMPONENTS...
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$f" ]] || continue
    awk -v s="$suite" '$1 == "deb" { i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                         if ($(i + 1) == s) { print $i; exit } }' "$f"
  done
  # deb822 format: stanzas with URIs: and Suites: fields.
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$f" ]] || continue
    awk -v s="$suite" 'BEGIN { RS = ""; FS = "\n" }
      { uri = ""; ok = 0
        for (n = 1; n <= NF; n++) {
          if ($n ~ /^URIs:/) { split($n, a, " "); uri = a[2] }
          if ($n ~ /^Suites:/) { k = split($n, b, " "); for (j = 2; j <= k; j++) if (b[j] == s) ok = 1 }
        }
        if (ok && uri != "") { print uri; exit } }' "$f"
  done
}
mirror=${VORNAL_DEBIAN_MIRROR:-$(mirror_from_apt | head -1)}
[[ -n "$mirror" ]] || die "no Debian mirror for $suite found in /etc/apt/sources.list*; set VORNAL_DEBIAN_MIRROR"

# ---- the clean root, unpacked fresh from the cached tarball -------------------------------------
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
  remove_root
}
remove_root() {
  [[ -d "$root" ]] || return 0
  # Never delete through a mount point that is still mounted (it could be the host's).
  if awk -v r="$root" '$2 == r || index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts; then
    echo "test-package: $root still has something mounted; not removing it" >&2
    return 1
  fi
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

remove_root || die "remove the mounts below $root first"
if [[ ! -s "$cache" ]]; then
  command -v debootstrap >/dev/null || die "debootstrap not found; install it: apt-get install debootstrap"
  echo "test-package: creating a clean Debian $suite root from $mirror (once, a few minutes)" >&2
  if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >>"$log" 2>&1; then
    tail -20 "$log" >&2
    die "debootstrap from $mirror failed (network or mirror unreachable?); full log: $log"
  fi
  rm -f "$root"/var/cache/apt/archives/*.deb
  tar -C "$root" -czf "$cache.tmp" . && mv "$cache.tmp" "$cache"
  remove_root
fi
mkdir -p "$root"
tar -C "$root" -xzf "$cache" || die "cannot unpack $cache; delete it to make a new one"

# Networking and package sources inside; no service may start during the installation.
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
{
  echo "deb $mirror $suite main"
  echo "deb $mirror $suite-updates main"
} >"$root/etc/apt/sources.list"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc" # the programs find their drivers through /proc/self/exe
mounted+=("$root/proc")
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts" # apt's terminal log
mounted+=("$root/dev/pts")

# Downloaded packages are kept between runs.
archives="$work/apt-archives"
mkdir -p "$archives"
cp -n "$archives"/*.deb "$root/var/cache/apt/archives/" 2>/dev/null || true
cp "$deb" "$root/tmp/"
pkg="/tmp/$(basename "$deb")"

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive "$@"; }
step() {
  local what=$1; shift
  echo "== $what ($(date +%T))" >>"$log"
  if ! out=$(in_root "$@" 2>&1); then
    echo "$out" >>"$log"
    echo "$out" | tail -30 >&2
    die "$what failed; full log: $log"
  fi
  echo "$out" >>"$log"
}

step "apt-get update" apt-get update -q
step "installing $(basename "$deb") and its dependencies" \
  apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "$pkg"
cp -n "$root"/var/cache/apt/archives/*.deb "$archives/" 2>/dev/null || true

# ---- the installed programs ---------------------------------------------------------------------
step "vornal-cli --version" /usr/bin/vornal-cli --version
[[ "$out" == "vornal-cli "* ]] || die "vornal-cli --version printed '$out'"
step "vornal --help" /usr/bin/env QT_QPA_PLATFORM=offscreen /usr/bin/vornal --help
[[ "$out" == *"Usage: vornal"* ]] || die "vornal --help printed no usage: $out"
step "vornal --version" /usr/bin/env QT_QPA_PLATFORM=offscreen /usr/bin/vornal --version
step "vornal-cli presets" /usr/bin/vornal-cli presets
# The real driver from /usr/lib/vornal/drivers/posix: listing ports works without a single port.
step "vornal-cli ports" /usr/bin/env LD_DEBUG=files /usr/bin/vornal-cli ports
grep -q 'file=/usr/lib/vornal/drivers/posix/libvazEdo.so' <<<"$out" ||
  die "vornal-cli ports did not load /usr/lib/vornal/drivers/posix/libvazEdo.so: $out"
# The simulator's driver from /usr/lib/vornal/drivers/sim and a script from /usr/share/vornal/sim.
step "simulated connection" /usr/bin/timeout --preserve-status -s INT 3 /usr/bin/vornal-cli --store /tmp/prefs.txt \
  --simulate /usr/share/vornal/sim/demo.vsim run --port SIM1 --print
grep -q '/usr/lib/vornal/drivers/sim/libvazEdo.so' <<<"$out" ||
  die "the simulated connection did not load /usr/lib/vornal/drivers/sim/libvazEdo.so: $out"
grep -Eq '^[0-9]+\.[0-9]+$' <<<"$out" || die "the simulated connection printed no value: $out"

# ---- removal ------------------------------------------------------------------------------------
step "apt-get purge vornal" apt-get purge -y -q vornal
left=$(cd "$root" && ls -d usr/bin/vornal usr/bin/vornal-cli usr/lib/vornal usr/share/vornal \
  usr/share/doc/vornal 2>/dev/null || true)
[[ -z "$left" ]] || die "left behind after apt-get purge: $left"
