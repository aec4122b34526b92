#!/usr/bin/env bash
# Checks that a plug-in module defines exactly the five entry functions in its dynamic symbol table, and no data.
set -euo pipefail
module=$1
expected=$'XPluginDisable\nXPluginEnable\nXPluginReceiveMessage\nXPluginStart\nXPluginStop'
actual=$(nm -D --defined-only "$module" | awk 'NF >= 3 {print $3}' | sed 's/@.*//' | sort -u)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the five entry functions:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(echo "$actual" | tr '\n' ' ')"
