#!/usr/bin/env bash
# Cross-builds the Windows DLL (and the Windows test host) with MinGW-w64 for one architecture and
# checks what a Windows host relies on: exactly the library's exports under their plain names, no
# dependency beyond KERNEL32.dll and msvcrt.dll, and, on 32-bit x86, cdecl code (the caller
# removes the arguments). x86-64 Windows has a single calling convention (__cdecl and __stdcall
# are accepted and ignored there), so the 64-bit DLL has no calling convention to check.
# Usage: scripts/check-windows-dll.sh [i686|x86_64] [BUILD_DIR]
#   defaults: i686, and BUILD_DIR build-mingw (i686) or build-mingw64 (x86_64).
#   The older form scripts/check-windows-dll.sh BUILD_DIR means i686.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "check-windows-dll: FAILED: $*" >&2
  exit 1
}

arch=i686
case ${1:-} in
  i686 | x86_64)
    arch=$1
    shift
    ;;
  -* | x86* | x64 | amd64 | i[3-6]86 | arm* | aarch64)
    fail "unknown architecture or option $1;" \
      "usage: scripts/check-windows-dll.sh [i686|x86_64] [BUILD_DIR]"
    ;;
esac
case $arch in
  i686)
    triple=i686-w64-mingw32 package=g++-mingw-w64-i686-win32
    format=pei-i386 bits="32-bit x86" build=${1:-build-mingw}
    ;;
  x86_64)
    triple=x86_64-w64-mingw32 package=g++-mingw-w64-x86-64-win32
    format=pei-x86-64 bits="64-bit x86-64" build=${1:-build-mingw64}
    ;;
esac
objdump=$triple-objdump
for tool in "$triple-g++-win32" "$objdump"; do
  command -v "$tool" >/dev/null ||
    fail "$tool not found: install Debian's $package (scripts/install-deps.sh does)"
done
trap 'echo "check-windows-dll: FAILED: \"$BASH_COMMAND\" returned $? (line $LINENO)" >&2' ERR
echo "check-windows-dll: $arch DLL in $build"

# The tests are on for the Windows host alone: the other hosts and the suites are POSIX-only.
cmake -S . -B "$build" --no-warn-unused-cli --toolchain "cmake/toolchains/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DOSCNET_BUILD_TESTS=ON -DOSCNET_BUILD_UNIT_TESTS=OFF \
  -DOSCNET_BUILD_EXAMPLES=OFF -DOSCNET_BUILD_TRAINER=OFF -DOSCNET_BUILD_BENCHMARKS=OFF \
  -DOSCNET_SANITIZE=OFF >/dev/null
# A build directory configured for another target keeps its compilers: refuse it.
compiler_files=("$build"/CMakeFiles/*/CMakeCXXCompiler.cmake)
grep -q "^set(CMAKE_CXX_COMPILER .*$triple-g++-win32\"" "${compiler_files[@]}" ||
  fail "$build was configured for another target; use a fresh build directory for $arch"
cmake --build "$build" --parallel "$(nproc)" --target oscnet oscnet_windows_host

# The DLL's name is CMake's to choose (liboscnet.dll or oscnet.dll).
dll=$(realpath --relative-to=. "$(<"$build/tests/oscnet_dll_path.txt")")
host=$build/tests/oscnet_windows_host.exe
headers=$("$objdump" -p "$dll")

# Captured first: under pipefail, grep -q stopping early could fail the pipeline with SIGPIPE.
grep -q "file format $format\$" <<<"$("$objdump" -f "$dll")" || fail "$dll is not a $bits DLL"
grep -q "file format $format\$" <<<"$("$objdump" -f "$host")" || fail "$host is not a $bits program"

expected=$(printf '%s\n' Predict build_net myAdd oscnet_get_params oscnet_param_count \
  oscnet_set_params release_net train oscnet_create oscnet_destroy oscnet_input_size \
  oscnet_output_size oscnet_train oscnet_reset_optimizer oscnet_predict oscnet_predict_rows \
  oscnet_weights_count oscnet_get_weights oscnet_set_weights oscnet_last_error | sort)
exported=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                on && /^[[:space:]]*$/ {exit}
                on {print $NF}' <<<"$headers" | sort)
if grep -Eq '@[0-9]+$' <<<"$exported"; then
  fail "stdcall-decorated exports (name@bytes), the functions must be cdecl:" $exported
fi
if grep -q '^_' <<<"$exported"; then
  fail "exports with a leading underscore, the names must be plain:" $exported
fi
if [[ $exported != "$expected" ]]; then
  fail "the exports are [$(echo $exported)], expected exactly [$(echo $expected)]"
fi
echo "exports: $(echo $exported)"

# The DLL and the host carry their own GCC runtime: no libgcc_s, libstdc++ or libwinpthread.
for binary in "$dll" "$host"; do
  imports=$("$objdump" -p "$binary" | awk '/DLL Name:/ {print $3}' | sort -u)
  if [[ $imports != "$(printf 'KERNEL32.dll\nmsvcrt.dll')" ]]; then
    fail "$binary imports [$(echo $imports)], expected only KERNEL32.dll and msvcrt.dll"
  fi
done
echo "imports: KERNEL32.dll msvcrt.dll"

if [[ $arch == i686 ]]; then
  # cdecl: no exported function pops its own arguments, so none may end in "ret $n".
  image_base=$(awk '$1 == "ImageBase" {print $2}' <<<"$headers")
  disassembly=$("$objdump" -d --no-show-raw-insn "$dll")
  checked=0
  while read -r name rva; do
    [[ -n $rva ]] || fail "no address for the export $name"
    address=$(printf '%x' $((0x$image_base + 0x$rva)))
    code=$(awk -v start="^0*$address <" '$0 ~ start {on = 1; print; next}
                                          on && /^[0-9a-f]+ <.*>:$/ {exit}
                                          on {print}' <<<"$disassembly")
    grep -Eq '[[:space:]](ret|jmp)' <<<"$code" || fail "no code found for $name at 0x$address"
    if grep -Eq '[[:space:]]ret[lw]?[[:space:]]+\$0x' <<<"$code"; then
      fail "$name pops its own arguments (not cdecl):" \
        "$(grep -E '[[:space:]]ret[lw]?[[:space:]]+\$0x' <<<"$code" | head -1)"
    fi
    checked=$((checked + 1))
  done < <(awk '/^Export Address Table --/ {table = 1; next}
                table && /^[[:space:]]*$/ {table = 0}
                table && /Export RVA/ {gsub(/[][]/, " "); rva[$1] = $4}
                /^\[Ordinal\/Name Pointer\] Table/ {names = 1; next}
                names && /^[[:space:]]*$/ {exit}
                names {gsub(/[][]/, " "); print $2, rva[$1]}' <<<"$headers")
  expected_count=$(wc -l <<<"$expected")
  ((checked == expected_count)) ||
    fail "disassembled $checked exported functions, expected $expected_count"
  echo "calling convention: none of the $checked exported functions pops its arguments"
else
  echo "calling convention: x86-64 Windows has only one, nothing to check"
fi

echo "check-windows-dll: all checks passed ($dll, $host)"
