#!/usr/bin/env bash
# Cross-builds and checks the 32-bit Windows DLL and host, installs wine when it is missing, and
# runs the host on the DLL under wine. Not part of the test command: wine is large and slow.
# Success is the host's own last line: wine can exit 0 after failing to start a program.
# Usage: scripts/run-windows-host-under-wine.sh [BUILD_DIR]   (default: build-mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-mingw}

bash scripts/check-windows-dll.sh "$build"

if ! command -v wine >/dev/null || ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null |
  grep -q "install ok installed"; then
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  echo "installing wine (32-bit)"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" dpkg --add-architecture i386
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq wine wine32:i386 </dev/null
fi

# A prefix of its own, so that a user's wine set-up is neither used nor changed.
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
wine_bin=$(command -v wine)
dll=$(cd "$build" && pwd)/liboscnet.dll
host=$build/tests/oscnet_windows_host.exe

output=$("$wine_bin" "$host" "$(winepath -w "$dll" 2>/dev/null)" 2>&1 </dev/null) || true
printf '%s\n' "$output"
if ! grep -q "^windows host: all checks passed" <<<"${output//$'\r'/}"; then
  echo "run-windows-host-under-wine: FAILED: no success line from the Windows host" >&2
  exit 1
fi
echo "run-windows-host-under-wine: the Windows host passed under wine"
