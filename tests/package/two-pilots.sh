#!/usr/bin/env bash
# Two plug-ins, each in a headless host, log in to the server at ADDRESS as anna and ben (password
# "demo") and stay parked 220 m apart for a few seconds; then the server's log must show both logins and
# each host must show the other's aircraft where it is. Usage: two-pilots.sh BUILD_DIR ADDRESS SERVER_LOG WORK_DIR
set -euo pipefail
build=$1 address=$2 server_log=$3 work=$4
host_bin=$build/simhost/skorvale-host
plugin=$build/Skorvale/lin_x64/Skorvale.xpl
for f in "$host_bin" "$plugin"; do
  [ -e "$f" ] || { echo "two-pilots: $f is missing; build first" >&2; exit 1; }
done

pilot() {  # name callsign latitude
  local dir=$work/$1
  mkdir -p "$dir/Resources/plugins" "$dir/Aircraft/General/Trainer"
  printf 'trainer model\n' >"$dir/Aircraft/General/Trainer/trainer.acf"
  printf 'callsign=%s;userID=%s;password=demo;flightMode=0;cockpitPosition=0;crewID=;connectAtStartup=1;' \
    "$2" "$1" >"$dir/Resources/plugins/svprefs.txt"
  printf '0 position %s 8.0 500 90\n0.5 menu Skorvale/Toggle Plane List\n' "$3" >"$work/$1.script"
  SKORVALE_SERVER_ADDRESS=$address "$host_bin" --plugin "$plugin" --dir "$dir" --realtime --seconds 8 \
    --script "$work/$1.script" --aircraft Aircraft/General/Trainer/trainer.acf --state-json "$work/$1.json" \
    >"$work/$1.log" 2>&1
}
pilot anna ANNA1 47.000 &
anna=$!
pilot ben BEN22 47.002 &
ben=$!
wait "$anna" "$ben"

for name in anna ben; do
  grep -q "($name) logged in from" "$server_log" || {
    echo "two-pilots: the server did not log $name in" >&2
    cat "$server_log" "$work/$name.log" >&2
    exit 1
  }
done
# Each host shows the other's aircraft where the other is (its identity follows only after 10 s).
python3 - "$work" <<'PY' || { echo "two-pilots: the hosts did not see each other's aircraft" >&2; exit 1; }
import json, sys
for me, other_lat in (("anna", 47.002), ("ben", 47.000)):
    state = json.load(open(f"{sys.argv[1]}/{me}.json"))
    assert state["connection"]["established"], me
    assert any(abs(slot["lat"] - other_lat) < 1e-4 for slot in state["slots"]), me
PY
echo "two-pilots: anna and ben logged in through $address and saw each other"
