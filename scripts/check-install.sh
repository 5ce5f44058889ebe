#!/usr/bin/env bash
# Installs the release build into a temporary prefix and uses it the two ways a consumer would:
# a CMake project with find_package(oscnet), and a C99 file compiled with pkg-config. Also checks
# that exactly the expected files are installed, with the soname chain, and that the installed
# oscnet-train finds the installed library.
# Usage: scripts/check-install.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}

fail() {
  echo "check-install: FAILED: $*" >&2
  exit 1
}
trap 'echo "check-install: FAILED: \"$BASH_COMMAND\" returned $? (line $LINENO)" >&2' ERR

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" --target oscnet oscnet-train

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# The names the version in the header calls for: no ABI promise before 1.0, so the soname
# carries the minor version while the major is 0.
version=$(sed -n 's/^#define OSCNET_VERSION_STRING "\(.*\)"$/\1/p' include/oscnet.h)
IFS=. read -r major minor _ <<<"$version"
if ((major == 0)); then soversion=$major.$minor; else soversion=$major; fi
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
[[ -n $version && -n $libdir ]] || fail "cannot read the version or the library directory"

echo "-- installed files"
expected=$(sort <<EOF_LIST
bin/oscnet-train
include/oscnet.h
$libdir/liboscnet.so
$libdir/liboscnet.so.$soversion
$libdir/liboscnet.so.$version
$libdir/cmake/oscnet/oscnetConfig.cmake
$libdir/cmake/oscnet/oscnetConfigVersion.cmake
$libdir/cmake/oscnet/oscnetTargets.cmake
$libdir/cmake/oscnet/oscnetTargets-release.cmake
$libdir/pkgconfig/oscnet.pc
EOF_LIST
)
installed=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
if [[ $installed != "$expected" ]]; then
  diff <(echo "$expected") <(echo "$installed") >&2 || true
  fail "installed files differ from the expected list (< expected, > installed)"
fi
lib=$prefix/$libdir
[[ $(readlink "$lib/liboscnet.so") == "liboscnet.so.$soversion" ]] ||
  fail "liboscnet.so does not point to liboscnet.so.$soversion"
[[ $(readlink "$lib/liboscnet.so.$soversion") == "liboscnet.so.$version" ]] ||
  fail "liboscnet.so.$soversion does not point to liboscnet.so.$version"
[[ -f $lib/liboscnet.so.$version && ! -L $lib/liboscnet.so.$version ]] ||
  fail "liboscnet.so.$version is not the library itself"
soname=$(objdump -p "$lib/liboscnet.so.$version" | awk '$1 == "SONAME" {print $2}')
[[ $soname == "liboscnet.so.$soversion" ]] ||
  fail "SONAME is '$soname', not liboscnet.so.$soversion"
echo "liboscnet.so -> liboscnet.so.$soversion -> liboscnet.so.$version (SONAME $soname)"

echo "-- CMake package"
# Configures a project that asks for oscnet REQUEST and fails unless it is found.
probe() {
  printf '%s\n' 'cmake_minimum_required(VERSION 3.25)' 'project(probe LANGUAGES NONE)' \
    "find_package(oscnet $1 REQUIRED)" >"$work/CMakeLists.txt"
  rm -rf "$work/probe"
  cmake -S "$work" -B "$work/probe" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1
}
# Only the matching minor version may be accepted before 1.0.
for request in "$major.$minor" "$version"; do
  probe "$request" || fail "find_package(oscnet $request) did not accept the installed $version"
done
rejected=("$major.$((minor + 1))")
if ((major == 0 && minor > 0)); then rejected+=("$major.$((minor - 1))"); fi
for request in "${rejected[@]}"; do
  ! probe "$request" || fail "find_package(oscnet $request) accepted the installed $version"
done

cmake -S examples/installed_consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
# Read whole before grep: grep -q stops at the first match, and under pipefail the writer's
# SIGPIPE would fail the check at random.
consumer_libraries=$(ldd "$work/consumer/consumer")
grep -q "=> $lib/liboscnet.so.$soversion " <<<"$consumer_libraries" ||
  fail "the consumer does not load the installed library: $consumer_libraries"
output=$("$work/consumer/consumer") || fail "the consumer failed"
echo "$output"
[[ $output == "oscnet $version: "*" matches" ]] || fail "unexpected consumer output"

echo "-- pkg-config"
export PKG_CONFIG_PATH=$lib/pkgconfig
[[ $(pkg-config --modversion oscnet) == "$version" ]] || fail "pkg-config reports another version"
# The file locates the prefix from where it lies, so it must name this temporary prefix.
[[ $(realpath "$(pkg-config --variable=libdir oscnet)") == "$(realpath "$lib")" ]] ||
  fail "pkg-config libdir $(pkg-config --variable=libdir oscnet) is not $lib"
[[ $(realpath "$(pkg-config --variable=includedir oscnet)") == "$(realpath "$prefix/include")" ]] ||
  fail "pkg-config includedir $(pkg-config --variable=includedir oscnet) is not $prefix/include"
# shellcheck disable=SC2046 # the flags are meant to split
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$root/examples/pkg_config_host.c" \
  $(pkg-config --cflags --libs oscnet) -lm -Wl,-rpath,"$lib" -o "$work/pkg_config_host"
output=$("$work/pkg_config_host") || fail "the pkg-config host failed"
echo "$output"
[[ $output == *"pkg-config host: oscnet $version, loss "* ]] ||
  fail "unexpected pkg-config host output"

echo "-- installed oscnet-train"
# It finds the installed library beside its own directory, wherever the prefix is.
loaded=$(ldd "$prefix/bin/oscnet-train" | awk -v name="liboscnet.so.$soversion" '$1 == name {print $3}')
[[ -n $loaded && $(realpath "$loaded") == $(realpath "$lib/liboscnet.so.$soversion") ]] ||
  fail "oscnet-train does not load the installed library: $(ldd "$prefix/bin/oscnet-train")"
output=$("$prefix/bin/oscnet-train" --epochs 20 --quiet) || fail "the installed oscnet-train failed"
grep -E '^network( +[0-9][0-9.e+-]*){4}$' <<<"$output" || fail "unexpected oscnet-train output: $output"

echo "check-install: all checks passed"
