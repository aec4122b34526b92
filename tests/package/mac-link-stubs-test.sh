#!/usr/bin/env bash
# Checks that the macOS link stubs offer every SDK and OpenGL function the plug-in calls: mac-link-stubs-test.sh XPL
#
# The everyday Linux plug-in's imports are the same calls the macOS slices make. The stubs come from our
# sdk/ headers (packaging/mac/sdk-stubs) and packaging/mac/OpenGL.tbd; a declaration the generator
# cannot read, or a new OpenGL call, would otherwise surface only as a failed link in the package build.
set -euo pipefail
xpl=$1
cd "$(dirname "$0")/../.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
packaging/mac/sdk-stubs "$scratch" >/dev/null
problems=0
for symbol in $(nm -D --undefined-only "$xpl" | awk '{print $2}' | grep -E '^(XP|gl)[A-Za-z0-9_]+$' | sort -u); do
  case $symbol in
    XPLM*) stub=$scratch/XPLM.tbd ;;
    XP*) stub=$scratch/XPWidgets.tbd ;;
    gl*) stub=packaging/mac/OpenGL.tbd ;;
  esac
  if ! grep -qE "[[ ,]_$symbol( |,|$)" "$stub"; then
    echo "mac-link-stubs: $symbol is not in $(basename "$stub")"
    problems=$((problems + 1))
  fi
done
# X-Plane's install names, so the slices' load commands name the frameworks X-Plane has.
for framework in XPLM XPWidgets; do
  grep -q "install-name:    '@rpath/$framework.framework/Versions/C/$framework'" "$scratch/$framework.tbd" ||
    { echo "mac-link-stubs: $framework.tbd has not X-Plane's install name"; problems=$((problems + 1)); }
done
[ "$problems" -eq 0 ] || exit 1
echo "mac-link-stubs: every SDK and OpenGL import of $(basename "$xpl") is in the macOS link stubs"
