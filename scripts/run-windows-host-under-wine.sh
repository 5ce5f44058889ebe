#!/usr/bin/env bash
# Cross-builds and checks the 32-bit Windows DLL and host, installs 32-bit wine when it is
# missing, and runs the host on the DLL under wine. Not part of the test command: 32-bit wine is
# large, and some machines cannot run it at all. scripts/test.sh runs the 64-bit DLL under wine64
# instead (scripts/run-windows-host-under-wine64.sh).
# Success is the host's own last line: wine can exit 0 after failing to start a program.
# Exit status: 0 passed, 1 failed, 77 this machine cannot run 32-bit x86 programs (its kernel
# has 32-bit execution turned off), so nothing was run.
# Usage: scripts/run-windows-host-under-wine.sh [BUILD_DIR]   (default: build-mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-mingw}

cannot_run_32_bit() {
  echo "run-windows-host-under-wine: this machine cannot run 32-bit x86 programs ($1)," \
    "so 32-bit wine cannot start here. The 32-bit DLL was checked statically" \
    "(scripts/check-windows-dll.sh i686); the 64-bit DLL runs under wine64 in scripts/test.sh." >&2
  exit 77
}

bash scripts/check-windows-dll.sh i686 "$build"

# Asked before installing 32-bit wine, which is large: a 96-byte 32-bit x86 Linux program that
# only exits with status 32 (ELF header, one loadable segment, then
# mov eax, 1 (exit); mov ebx, 32; int 0x80).
probe=$build/probe-32-bit
printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
  '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
  '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
  '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x20\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
probe_status=0
probe_error=$("$probe" 2>&1) || probe_status=$?
rm -f "$probe"
if grep -q "Exec format error" <<<"$probe_error"; then
  cannot_run_32_bit "a 32-bit test program failed with \"Exec format error\""
elif ((probe_status != 32)); then
  echo "run-windows-host-under-wine: FAILED: a 32-bit test program ended with status" \
    "$probe_status, not 32: ${probe_error:-no message}" >&2
  exit 1
fi

if ! command -v wine >/dev/null || ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null |
  grep -q "install ok installed"; then
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  echo "installing wine (32-bit)"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" dpkg --add-architecture i386
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -qq wine wine32:i386 </dev/null
fi

# A prefix of its own, so that a user's wine set-up is neither used nor changed.
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
wine_bin=$(command -v wine)
dll=$(<"$build/tests/oscnet_dll_path.txt")
host=$build/tests/oscnet_windows_host.exe

output=$("$wine_bin" "$host" "$(winepath -w "$dll" 2>/dev/null)" 2>&1 </dev/null) || true
printf '%s\n' "$output"
if grep -q "Exec format error" <<<"$output"; then
  cannot_run_32_bit "the 32-bit wine loader failed with \"Exec format error\""
fi
if ! grep -q "^windows host: all checks passed" <<<"${output//$'\r'/}"; then
  echo "run-windows-host-under-wine: FAILED: no success line from the Windows host" >&2
  exit 1
fi
echo "run-windows-host-under-wine: the Windows host passed under wine"
