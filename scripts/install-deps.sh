#!/usr/bin/env bash
# Installs the Debian packages that building and testing oscnet need; with --build-only, just
# what the library and oscnet-train need. Does nothing when they are all present, so it is safe
# to run before every build.
set -euo pipefail

packages=(cmake make g++ libeigen3-dev)
if [[ ${1:-} != --build-only ]]; then
  packages+=(libgtest-dev clang-format)
  # The benchmarks, built with the project, and the library they compare with.
  packages+=(libbenchmark-dev libfann-dev)
  # The install check, the 32-bit x86 Linux build and the two Windows DLLs' cross-builds, the
  # 64-bit one run under wine64.
  packages+=(pkgconf file g++-multilib g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine64)
  # The Python package, installed with pip into fresh virtual environments: Debian's python with
  # venv, pip, setuptools, wheel (pip's build step needs it) and numpy.
  packages+=(python3 python3-venv python3-pip python3-setuptools python3-wheel python3-numpy)
  # Fuzzing (Clang and its libFuzzer runtime) and the memory check of the C hosts.
  packages+=(clang-14 libclang-rt-14-dev valgrind)
fi

# Installs those of the given packages that are missing.
install_missing() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0
  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

install_missing "${packages[@]}"

# A kernel with 32-bit execution switched off runs the 32-bit tests under qemu-i386.
if [[ ${1:-} != --build-only ]]; then
  source "$(dirname "$0")/i686-runner.sh"
  if [[ $(i686_run_mode) == qemu ]]; then install_missing qemu-user; fi
fi
