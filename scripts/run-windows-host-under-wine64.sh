#!/usr/bin/env bash
# Cross-builds and checks the 64-bit Windows DLL and host (scripts/check-windows-dll.sh x86_64),
# installs 64-bit wine when it is missing, and runs the host on the DLL under wine64.
# Needs no display and no standard input. The first run creates a wine prefix in the build
# directory, which takes a while (about 15 s here); later runs take a few seconds.
# Success is the host's own last line: wine can exit 0 after failing to start a program.
# Usage: scripts/run-windows-host-under-wine64.sh [BUILD_DIR]   (default: build-mingw64)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-mingw64}

fail() {
  echo "run-windows-host-under-wine64: FAILED: $*" >&2
  exit 1
}

bash scripts/check-windows-dll.sh x86_64 "$build"

# Debian's wine64 package puts the loader in /usr/lib/wine; the wine package adds a wrapper on
# the PATH.
find_wine64() {
  command -v wine64 || { [[ -x /usr/lib/wine/wine64 ]] && echo /usr/lib/wine/wine64; } || true
}
wine64_bin=$(find_wine64)
if [[ -z $wine64_bin ]]; then
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  echo "installing wine64"
  export DEBIAN_FRONTEND=noninteractive
  # Waits for another apt or dpkg run to finish instead of failing on its lock.
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -qq wine64 </dev/null
  wine64_bin=$(find_wine64)
  [[ -n $wine64_bin ]] || fail "wine64 was installed but no wine64 loader was found"
fi
wineserver_bin=$(dirname "$wine64_bin")/wineserver
[[ -x $wineserver_bin ]] || wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# A prefix of its own, so that a user's wine set-up is neither used nor changed. No Mono or Gecko:
# the host needs neither, and wine would otherwise offer to download them.
WINEPREFIX=$(cd "$build" && pwd)/wineprefix
export WINEPREFIX
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Ends every wine process of this prefix (and only those) when wine hangs.
stop_wine() { "$wineserver_bin" -k 2>/dev/null || true; }

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "creating the wine prefix $WINEPREFIX (once per build directory)"
  started=$SECONDS
  # Without 32-bit wine, wineboot reports that it cannot start syswow64\rundll32.exe: harmless.
  if ! timeout 300 "$wine64_bin" wineboot --init >"$build/wineboot.log" 2>&1 </dev/null; then
    stop_wine
    cat "$build/wineboot.log" >&2
    rm -rf "$WINEPREFIX"
    fail "wineboot could not create the wine prefix (log above)"
  fi
  echo "wine prefix ready in $((SECONDS - started)) s"
fi

# The fresh prefix maps drive Z: to /.
dll=$(<"$build/tests/oscnet_dll_path.txt")
dll_windows=Z:${dll//\//\\}
host=$build/tests/oscnet_windows_host.exe

status=0
output=$(timeout 120 "$wine64_bin" "$host" "$dll_windows" 2>&1 </dev/null) || status=$?
printf '%s\n' "${output//$'\r'/}"
if ((status == 124)); then
  stop_wine
  fail "the Windows host did not finish within 120 s under wine64"
fi
# wineserver lingers a few seconds after the last program: wait, so that nothing is left running.
timeout 30 "$wineserver_bin" -w || stop_wine
if ! grep -q "^windows host: all checks passed" <<<"${output//$'\r'/}"; then
  fail "no success line from the Windows host (wine64 exit status $status)"
fi
echo "run-windows-host-under-wine64: the Windows host passed under wine64"
