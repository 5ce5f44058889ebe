#!/usr/bin/env bash
# Says how this machine runs 32-bit x86 Linux programs: natively, or under qemu-i386 where the
# kernel has 32-bit execution switched off ("Exec format error"). Sourced by install-deps.sh and
# test.sh; needs a 32-bit capable gcc (g++-multilib).
#
# OSCNET_I686_RUN=native|qemu forces a way (to test the other one on any machine); the default,
# auto, tries native first.

# Prints "native" or "qemu" and returns 0, or prints nothing and returns 1 when the probe cannot
# be compiled. The probe is a plain C program built with gcc -m32 and run once.
i686_run_mode() {
  local mode=${OSCNET_I686_RUN:-auto}
  case $mode in
  native | qemu)
    echo "$mode"
    return 0
    ;;
  auto) ;;
  *)
    echo "OSCNET_I686_RUN must be native, qemu or auto, not '$mode'" >&2
    return 1
    ;;
  esac
  local dir status=0
  dir=$(mktemp -d)
  printf 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n' >"$dir/probe.c"
  if ! gcc -m32 "$dir/probe.c" -o "$dir/probe" 2>"$dir/log"; then
    echo "cannot compile a 32-bit probe with gcc -m32 (install g++-multilib):" >&2
    cat "$dir/log" >&2
    rm -rf "$dir"
    return 1
  fi
  "$dir/probe" 2>/dev/null || status=$?
  rm -rf "$dir"
  if ((status == 0)); then echo native; else echo qemu; fi
}

# The emulator command for CMAKE_CROSSCOMPILING_EMULATOR (a CMake list), or a message saying
# why 32-bit programs cannot run here and what to install, and status 1.
i686_emulator_list() {
  local qemu
  qemu=$(command -v qemu-i386) || {
    echo "this kernel cannot run 32-bit x86 programs (Exec format error) and qemu-i386 is" \
      "missing: install Debian's qemu-user (apt-get install qemu-user), or run" \
      "scripts/install-deps.sh, which does so when needed" >&2
    return 1
  }
  # -L /: the 32-bit loader and libraries are the multilib ones under the real root.
  echo "$qemu;-L;/"
}
