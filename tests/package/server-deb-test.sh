#!/usr/bin/env bash
# End to end: the server's Debian package in a fresh Debian 12 root made by debootstrap (cached in the
# package build tree, keyed by the package's dependencies). It installs there with its user, conffile,
# state folder and enabled unit; the installed server starts from its config file, two plug-ins log in
# through it, SIGHUP reloads and SIGTERM drains; removal keeps the accounts.
# Usage: server-deb-test.sh BUILD_DIR [DEB_BUILD_DIR] (default: BUILD_DIR builds the package too).
# Exit 77: skipped (no root or no debootstrap).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
debbuild=${2:-$build}
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the deb test needs root (debootstrap, chroot)"
command -v debootstrap >/dev/null || skip "debootstrap is missing (scripts/bootstrap installs it)"

deb=$("$root/scripts/build-server-deb" "$debbuild" | tail -1)
debbuild=$(cd "$debbuild" && pwd)
echo "package: $deb"
dpkg-deb --contents "$deb" | awk '{print $1, $6}'

# The root: minbase with what the package depends on, made once per set of dependencies.
# debootstrap takes real packages only: a virtual one (libspdlog1.10-fmt9) becomes the package providing it.
real_package() {
  if [ "$(apt-cache policy "$1" | awk '/Candidate:/ {print $2}')" != "(none)" ]; then echo "$1"; else
    apt-cache showpkg "$1" | awk '/^Reverse Provides:/ {getline; print $1; exit}'
  fi
}
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -e 's/(.*)//' -e 's/|.*//' -e 's/ //g' | sort -u |
  while read -r p; do real_package "$p"; done | paste -sd, -)
key=$(printf '%s' "$depends" | sha256sum | cut -c1-12)
cache=$debbuild/debian12-root-$key
mirror=${SKORVALE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
if [ ! -f "$cache/.complete" ]; then
  rm -rf "$debbuild"/debian12-root-*
  echo "debootstrap: a Debian 12 root with $depends (once)"
  debootstrap --variant=minbase --include="$depends,init-system-helpers" bookworm "$cache" "$mirror" \
    >"$debbuild/debootstrap.log" 2>&1 || { tail -20 "$debbuild/debootstrap.log" >&2; exit 1; }
  rm -rf "$cache/var/cache/apt/archives/"*.deb
  touch "$cache/.complete"
fi

work=$(mktemp -d "$debbuild/deb-test.XXXXXX")
target=$work/root
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill -9 "$server_pid" 2>/dev/null
  umount "$target/proc" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$cache" "$target"
cp "$deb" "$target/tmp/skorvale-server.deb"
in_root() { chroot "$target" "$@"; }

in_root dpkg -i /tmp/skorvale-server.deb
in_root getent passwd skorvale >/dev/null || { echo "no system user" >&2; exit 1; }
owner() { in_root stat -c '%U:%G %a' "$1"; }
[ "$(owner /var/lib/skorvale)" = "skorvale:skorvale 750" ] || { echo "state folder: $(owner /var/lib/skorvale)" >&2; exit 1; }
[ "$(owner /etc/skorvale/server.toml)" = "root:skorvale 640" ] ||
  { echo "config: $(owner /etc/skorvale/server.toml)" >&2; exit 1; }
[ -L "$target/etc/systemd/system/multi-user.target.wants/skorvale-server.service" ] ||
  { echo "the unit is not enabled" >&2; exit 1; }
grep -q '^/etc/skorvale/server.toml$' "$target/var/lib/dpkg/info/skorvale-server.conffiles" ||
  { echo "the config is no conffile" >&2; exit 1; }

# The installed program, as the service runs it: its user, its config, its state folder. A loopback
# address of its own, so that other tests may run meanwhile.
mount --bind /proc "$target/proc"
address=127.0.$((RANDOM % 200 + 20)).$((RANDOM % 200 + 20))
as_service() { chroot --userspec=skorvale:skorvale "$target" "$@"; }
for user in anna ben; do echo demo | as_service /usr/bin/skorvale-server accounts add /var/lib/skorvale/accounts.db "$user"; done
sed -i -e "s/^address = .*/address = \"$address\"/" -e "s/^http = .*/http = \"$address:8080\"/" \
  -e "s/^metrics-listen = .*/metrics-listen = \"$address:9100\"/" "$target/etc/skorvale/server.toml"
log=$work/server.log
install -d -m 750 "$target/run/skorvale" && in_root chown skorvale:skorvale /run/skorvale  # systemd's RuntimeDirectory
(cd "$target/var/lib/skorvale" && exec chroot --userspec=skorvale:skorvale "$target" \
  /usr/bin/skorvale-server --config /etc/skorvale/server.toml) 2>"$log" &
server_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$log" && break; sleep 0.1; done
grep -q "listening on $address:49556" "$log" || { cat "$log" >&2; echo "the installed server did not start" >&2; exit 1; }
in_root /usr/bin/skorvale-server probe --config /etc/skorvale/server.toml
in_root /usr/bin/skorvale-server probe "$address:8080" --path / | grep -qi '<html' ||
  { echo "the installed map is not served" >&2; exit 1; }

"$root/tests/package/two-pilots.sh" "$build" "$address" "$log" "$work"

# The operators' commands as the packaged config sets them up: the server's user only, bans kept.
as_service /usr/bin/skorvale-server admin ban 203.0.113.7 --for 1h "deb test" >/dev/null ||
  { cat "$log" >&2; echo "admin ban failed" >&2; exit 1; }
grep -q "203.0.113.7" "$target/var/lib/skorvale/bans" || { echo "the ban was not kept" >&2; exit 1; }
if in_root /usr/bin/skorvale-server admin bans >/dev/null 2>&1; then echo "root used the admin socket" >&2; exit 1; fi

kill -HUP "$server_pid"
for _ in $(seq 50); do grep -q "reloaded the settings and the accounts" "$log" && break; sleep 0.1; done
grep -q "reloaded the settings and the accounts" "$log" || { cat "$log" >&2; echo "no reload" >&2; exit 1; }
kill -TERM "$server_pid"
wait "$server_pid" || { cat "$log" >&2; echo "the server did not stop cleanly" >&2; exit 1; }
server_pid=
umount "$target/proc"

in_root dpkg -r skorvale-server >/dev/null
[ -f "$target/var/lib/skorvale/accounts.db" ] || { echo "removal lost the accounts" >&2; exit 1; }
[ ! -e "$target/usr/bin/skorvale-server" ] || { echo "removal left the program" >&2; exit 1; }
in_root dpkg -P skorvale-server >/dev/null
[ -f "$target/var/lib/skorvale/accounts.db" ] || { echo "purge lost the accounts" >&2; exit 1; }
echo "server-deb-test: installed, served two pilots, took an admin ban, reloaded, drained and removed with the accounts kept"
