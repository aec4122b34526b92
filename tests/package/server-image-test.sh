#!/usr/bin/env bash
# End to end: the server's OCI image under podman, with storage of its own in the package build tree and
# a containers.conf of its own (runc, no default ulimits: what this machine's kernel allows). The
# container runs as its non-root user with the config and the accounts as volumes, on the host's
# network at a loopback address of its own; its HEALTHCHECK must pass, two plug-ins log in through it,
# and a stop drains. Usage: server-image-test.sh BUILD_DIR [DEB_BUILD_DIR] (default: BUILD_DIR).
# Exit 77: skipped (no podman).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
debbuild=${2:-$build}
skip() { echo "SKIPPED: $*"; exit 77; }
command -v podman >/dev/null || skip "podman is missing (scripts/bootstrap installs it)"
[ "$(id -u)" -eq 0 ] || skip "the image test runs podman as root"
mkdir -p "$debbuild"
debbuild=$(cd "$debbuild" && pwd)

export CONTAINERS_CONF=$debbuild/podman/containers.conf
mkdir -p "$debbuild/podman"
printf '[containers]\ndefault_ulimits = []\n\n[engine]\nruntime = "runc"\n' >"$CONTAINERS_CONF"
export PODMAN_OPTIONS="--root $debbuild/podman/storage --runroot $debbuild/podman/run --runtime runc"
# shellcheck disable=SC2086
pm() { podman $PODMAN_OPTIONS "$@"; }

image=$("$root/scripts/build-server-image" "$debbuild" | tail -1 | cut -d' ' -f1)
echo "image: $image, $(pm image inspect --format '{{.Size}}' "$image" | awk '{printf "%.1f MB", $1 / 1e6}')"
[ "$(pm image inspect --format '{{.Config.User}}' "$image")" = "10000:10000" ] || { echo "runs as root" >&2; exit 1; }
pm image inspect --format '{{.Config.Healthcheck}}' "$image" | grep -q probe || { echo "no HEALTHCHECK" >&2; exit 1; }

work=$(mktemp -d "$debbuild/image-test.XXXXXX")
name=skorvale-test-$$
cleanup() {
  pm rm -f -t 0 "$name" >/dev/null 2>&1 || true
  pm image prune -f >/dev/null 2>&1 || true  # the builds this one replaced
  rm -rf "$work"
}
trap cleanup EXIT
address=127.0.$((RANDOM % 200 + 20)).$((RANDOM % 200 + 20))
mkdir -p "$work/etc" "$work/state"
chown 10000:10000 "$work/state"
sed -e "s/^address = .*/address = \"$address\"/" -e "s/^http = .*/http = \"$address:8080\"/" \
  -e "s/^metrics-listen = .*/metrics-listen = \"$address:9100\"/" "$root/packaging/server/container.toml" \
  >"$work/etc/server.toml"
volumes=(-v "$work/etc:/etc/skorvale:ro" -v "$work/state:/var/lib/skorvale")
for user in anna ben; do
  echo demo | pm run --rm -i --no-healthcheck --network host "${volumes[@]}" --entrypoint /usr/bin/skorvale-server "$image" \
    accounts add /var/lib/skorvale/accounts.db "$user"
done
# Without systemd podman cannot time the checks (it says so on stderr): the test runs the HEALTHCHECK itself.
pm run -d --name "$name" --network host "${volumes[@]}" "$image" >/dev/null
log=$work/server.log
for _ in $(seq 100); do
  pm logs "$name" >"$log" 2>&1 || true
  grep -q "listening on" "$log" && break
  sleep 0.1
done
grep -q "listening on $address:49556" "$log" || { cat "$log" >&2; echo "the container did not start" >&2; exit 1; }
healthy=
for _ in $(seq 30); do
  if pm healthcheck run "$name" >/dev/null 2>&1; then healthy=yes; break; fi
  sleep 0.2
done
[ -n "$healthy" ] || { echo "the HEALTHCHECK does not pass" >&2; exit 1; }

# The hosts read the server's log as it is written: follow it into the file.
pm logs -f "$name" >"$log" 2>&1 &
follower=$!
"$root/tests/package/two-pilots.sh" "$build" "$address" "$log" "$work"
pm exec "$name" /usr/bin/skorvale-server admin ban 203.0.113.7 --for 1h "image test" >/dev/null ||
  { cat "$log" >&2; echo "admin ban failed" >&2; exit 1; }
grep -q "203.0.113.7" "$work/state/bans" || { echo "the ban was not kept" >&2; exit 1; }
pm stop -t 20 "$name" >/dev/null
wait "$follower" 2>/dev/null || true
grep -q "signal 15" "$log" || { cat "$log" >&2; echo "the stop did not reach the server" >&2; exit 1; }
[ "$(pm inspect --format '{{.State.ExitCode}}' "$name")" = 0 ] || { echo "the server did not exit cleanly" >&2; exit 1; }
echo "server-image-test: healthy, served two pilots as user 10000, took an admin ban and drained on stop"
