#!/usr/bin/env bash
# Shows that scripts/check-package catches broken packages: tests/package/check-package-rejects.sh GOOD_ZIP DEV_XPL
#
# GOOD_ZIP is a release zip that passes; DEV_XPL is an everyday build's plug-in, which links the
# distribution's shared libraries and so must be refused. Each case expects exit status 1 (2 for bad
# usage) and the FAIL lines that name what is wrong.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: tests/package/check-package-rejects.sh GOOD_ZIP DEV_XPL" >&2
  exit 2
fi
good=$(realpath -- "$1")
dev=$(realpath -- "$2")
cd "$(dirname "$0")/../.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
problems=0

# expect STATUS ZIP PATTERN...: check-package ZIP exits with STATUS and prints a line matching each PATTERN.
expect() {
  local status=$1 zip=$2 actual=0 output
  shift 2
  output=$(scripts/check-package ${zip:+"$zip"} 2>&1) || actual=$?
  if [ "$actual" -ne "$status" ]; then
    echo "check-package-rejects: '$zip' gave exit status $actual, expected $status" >&2
    problems=$((problems + 1))
  fi
  for pattern in "$@"; do
    if ! grep -qE -- "$pattern" <<<"$output"; then
      echo "check-package-rejects: '$zip': no line matching '$pattern' in:" >&2
      sed 's/^/    /' <<<"$output" >&2
      problems=$((problems + 1))
    fi
  done
}

# The everyday plug-in in an otherwise good package: shared PCRE, OpenSSL and C++ library, new glibc.
mkdir -p "$scratch/dev" && (cd "$scratch/dev" && unzip -qq "$good")
cp "$dev" "$scratch/dev/Skorvale/lin_x64/Skorvale.xpl"
(cd "$scratch/dev" && zip -qr "$scratch/dev.zip" Skorvale)
expect 1 "$scratch/dev.zip" 'FAIL: Skorvale.xpl needs libpcrecpp.so.0' 'FAIL: Skorvale.xpl needs libstdc\+\+.so.6' \
  'FAIL: Skorvale.xpl binds versioned symbols from libstdc\+\+.so.6' 'FAIL: loading and running the plug-in'

# A Windows plug-in built as mingw builds by default: its C++ runtime in DLLs a pilot's Windows lacks.
cat >"$scratch/Shared.cpp" <<'CPP'
#include <string>
static std::string name = "Skorvale";
extern "C" __declspec(dllexport) int XPluginStart(char *n, char *, char *) { name.copy(n, 8); n[8] = 0; return 1; }
extern "C" __declspec(dllexport) void XPluginStop() {}
extern "C" __declspec(dllexport) int XPluginEnable() { return 1; }
extern "C" __declspec(dllexport) void XPluginDisable() {}
extern "C" __declspec(dllexport) void XPluginReceiveMessage(int, int, void *) {}
CPP
x86_64-w64-mingw32-g++-posix -shared -O1 -o "$scratch/shared.xpl" "$scratch/Shared.cpp"
mkdir -p "$scratch/mingw" && (cd "$scratch/mingw" && unzip -qq "$good")
cp "$scratch/shared.xpl" "$scratch/mingw/Skorvale/win_x64/Skorvale.xpl"
(cd "$scratch/mingw" && zip -qr "$scratch/mingw.zip" Skorvale)
expect 1 "$scratch/mingw.zip" 'FAIL: the Windows Skorvale.xpl needs libstdc\+\+-6.dll' \
  'FAIL: the Windows Skorvale.xpl imports nothing from xplm_64.dll' 'FAIL: loading and running the plug-in under Wine'

# A package without its notices and with a stray file beside the folder.
mkdir -p "$scratch/partial" && (cd "$scratch/partial" && unzip -qq "$good")
rm "$scratch/partial/Skorvale/THIRD-PARTY-NOTICES.txt"
touch "$scratch/partial/stray.txt"
(cd "$scratch/partial" && zip -qr "$scratch/partial.zip" Skorvale stray.txt)
expect 1 "$scratch/partial.zip" 'FAIL: the zip lacks Skorvale/THIRD-PARTY-NOTICES.txt' 'FAIL: the zip holds entries outside Skorvale/: stray.txt'

# Not a package at all, and no package named.
echo "not a zip" >"$scratch/text.zip"
expect 1 "$scratch/text.zip" 'is not a readable zip archive'
expect 1 "$scratch/missing.zip" 'no such file'
expect 2 "" 'usage: scripts/check-package ZIP'

if [ "$problems" -ne 0 ]; then
  echo "check-package-rejects: $problems problem(s)" >&2
  exit 1
fi
echo "check-package-rejects: every broken package was refused with the right reasons"
