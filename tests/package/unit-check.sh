#!/usr/bin/env bash
# The server's systemd unit, as the build configured it, passes `systemd-analyze verify` (pointed at the
# built program) and `systemd-analyze security --offline=true` rates its exposure at most 2.0.
# Usage: unit-check.sh BUILD_DIR. Exit 77: skipped (no systemd-analyze).
set -euo pipefail
build=$(cd "$1" && pwd)
command -v systemd-analyze >/dev/null || { echo "SKIPPED: systemd-analyze is missing (scripts/bootstrap installs systemd)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unit=$work/skorvale-server.service
sed "s|^ExecStart=[^ ]*|ExecStart=$build/server/skorvale-server|" "$build/server/skorvale-server.service" >"$unit"
(cd "$work" && systemd-analyze verify "$unit")
report=$(cd "$work" && systemd-analyze security --offline=true --threshold=20 "$unit" 2>&1) ||
  { echo "$report" >&2; echo "unit-check: exposure over 2.0" >&2; exit 1; }
echo "$report" | tail -1
