#!/usr/bin/env bash
# Installs the Python package the way a user does, in fresh virtual environments, and checks it
# from a folder outside the repository (so neither the source package nor the build tree can be
# picked up):
#   1. the library installed into the environment's prefix (cmake --install --prefix VENV),
#      found there; a build/train/predict round, numpy in and out (one row and a block of
#      rows), the installed distribution's version, and the package's unit tests run against
#      the installed package;
#   2. the library carried by the package (copied into oscnet/ before pip install);
#   3. as root where mount namespaces work: plain `cmake --install BUILD` to /usr/local, with
#      /usr/local overlaid in a private namespace so that the machine's stays untouched.
# pip runs offline (--no-index, --no-build-isolation). Uses Debian's /usr/bin/python3, whose
# numpy the environments see (--system-site-packages).
# Usage: scripts/check-python-package.sh [BUILD_DIR]   (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

fail() {
  echo "check-python-package: FAILED: $*" >&2
  exit 1
}

build=$(realpath -m "${1:-build}")
[[ -f $build/CMakeCache.txt ]] \
  || fail "$build is not a configured build folder (cmake -S . -B build && cmake --build build)"
library=$(find "$build" -maxdepth 2 -name liboscnet.so -print -quit)
[[ -n $library ]] || fail "no liboscnet.so in $build: build it first (cmake --build $build)"

python=/usr/bin/python3
if ! "$python" -c "import venv, ensurepip, numpy" 2> /dev/null; then
  python=$(command -v python3) || fail "no python3"
  echo "check-python-package: note: /usr/bin/python3 with venv and numpy not found, using $python" \
    "(apt-get install python3-venv python3-numpy for the full check)"
fi
has_numpy=$("$python" -c "import importlib.util as u; print(int(bool(u.find_spec('numpy'))))")

tmp=$(mktemp -d /tmp/oscnet-python-package.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
log=$tmp/log

# Runs a command quietly; on failure shows what it printed.
quietly() {
  if ! "$@" > "$log" 2>&1; then
    cat "$log" >&2
    fail "$*"
  fi
}

# Offline, no cache in the user's home, no configuration from the machine.
export PIP_NO_INDEX=1 PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_CONFIG_FILE=/dev/null
export PYTHONDONTWRITEBYTECODE=1
unset OSCNET_LIBRARY PYTHONPATH LD_LIBRARY_PATH PYTHONHOME VIRTUAL_ENV

# A copy of the sources: building the package in place writes build/ and *.egg-info.
copy_sources() {
  mkdir -p "$1"
  tar -C "$repo/python" --exclude=__pycache__ --exclude=build --exclude='*.egg-info' \
    --exclude='oscnet/liboscnet.*' -cf - pyproject.toml setup.py README.md oscnet \
    | tar -C "$1" -xf -
}

# The round every variant runs: prints the library it loaded, then a loss and an output.
round_script='
import sys
import oscnet
with oscnet.Network() as net:
    net.build(inputs=2, outputs=1, layers=[(8, "tanh")])
    for _ in range(100):
        loss = net.train([0.5, -0.5], [0.25], iterations=5, learning_rate=0.05)
    out = net.predict([0.5, -0.5])[0]
assert loss < 1e-3 and abs(out - 0.25) < 0.05, (loss, out)
print(oscnet.library_path())
print(f"loss {loss:.2e}, output {out:.4f}")
'

# Checks that the library came from under $2, not from the build tree or the sources.
check_library_path() {
  local loaded=$1 expected_dir=$2
  [[ $(realpath "$loaded") == "$(realpath "$expected_dir")"/* ]] \
    || fail "the library was loaded from $loaded, not from under $expected_dir"
  [[ $(realpath "$loaded") != "$build"/* && $(realpath "$loaded") != "$repo"/* ]] \
    || fail "the library was loaded from the repository: $loaded"
}

work=$tmp/work
mkdir -p "$work"
cd "$work"

# 1. The library installed into the environment's prefix.
venv=$tmp/venv
quietly "$python" -m venv --system-site-packages "$venv"
quietly cmake --install "$build" --prefix "$venv"
copy_sources "$tmp/src"
quietly "$venv/bin/pip" install --no-index --no-build-isolation "$tmp/src"
quietly "$venv/bin/python" -c "$round_script"
loaded=$(head -n 1 "$log")
check_library_path "$loaded" "$venv/lib"
imported=$("$venv/bin/python" -c "import oscnet, os; print(os.path.dirname(oscnet.__file__))")
[[ $imported == "$venv"/lib/* ]] || fail "oscnet was imported from $imported, not the environment"
quietly "$venv/bin/python" -c '
import importlib.metadata, oscnet
installed = importlib.metadata.version("oscnet")
assert installed == oscnet.__version__, (installed, oscnet.__version__)
print(installed)
'
version=$(cat "$log")
echo "check-python-package: oscnet $version installed with pip, library found at $loaded"

if [[ $has_numpy == 1 ]]; then
  quietly "$venv/bin/python" -c '
import numpy, oscnet
with oscnet.Network() as net:
    net.build(3, 2, [(4, "relu")])
    x = numpy.array([0.5, -0.25, 0.75])
    result = net.predict(x)
    assert isinstance(result, numpy.ndarray) and result.shape == (2,), result
    assert result.tolist() == net.predict(x.tolist())
    out = numpy.empty(2)
    assert net.predict(x.astype(numpy.float32), out=out) is out
    rows = numpy.array([[0.5, -0.25, 0.75], [0.0, 1.0, -1.0]])
    block = net.predict_rows(rows)
    assert block.shape == (2, 2), block
    assert block.tolist() == [net.predict(row).tolist() for row in rows], block
'
  echo "check-python-package: numpy arrays in and out, one row and many: ok"
else
  echo "check-python-package: note: no numpy for $python: numpy checks skipped"
fi

# The unit tests, from a copy beside no package, against the installed one.
cp -r "$repo/python/tests" "$work/tests"
rm -rf "$work/tests/__pycache__"
quietly "$venv/bin/python" -m unittest discover -s tests -t .
if [[ $has_numpy == 1 ]] && grep -q "numpy tests skipped" "$log"; then
  cat "$log" >&2
  fail "the numpy tests were skipped although numpy is installed"
fi
echo "check-python-package: unit tests against the installed package: $(tail -n 1 "$log")"

# 2. The library carried by the package, in an environment whose prefix holds none. pip comes
#    from the system (the environment sees it), which saves making another copy of it.
carried=$tmp/venv-carried
quietly "$python" -m venv --system-site-packages --without-pip "$carried"
copy_sources "$tmp/src-carried"
cp "$library" "$tmp/src-carried/oscnet/"
quietly "$carried/bin/python" -m pip install --no-index --no-build-isolation "$tmp/src-carried"
quietly "$carried/bin/python" -c "$round_script"
loaded=$(head -n 1 "$log")
[[ $loaded == */site-packages/oscnet/liboscnet.so ]] \
  || fail "the carried copy was not used: $loaded"
check_library_path "$loaded" "$carried/lib"
echo "check-python-package: carried copy found at $loaded"

# Whether this process may overlay a folder in a mount namespace of its own (root, and a kernel
# or container that allows it).
can_overlay() {
  local probe=$tmp/probe
  mkdir -p "$probe"
  [[ $(id -u) == 0 ]] && unshare -m sh -c "mount -t tmpfs tmpfs '$probe' && mkdir '$probe/l' \
    '$probe/u' '$probe/w' && mount -t overlay overlay \
    -o 'lowerdir=$probe/l,upperdir=$probe/u,workdir=$probe/w' '$probe/l'" > /dev/null 2>&1
}

# 3. The default prefix, as the README tells users: cmake --install without --prefix.
if can_overlay; then
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
  [[ $prefix == /usr/local ]] || echo "check-python-package: note: $build installs to $prefix"
  mkdir -p "$tmp/layer"
  # In a private mount namespace, /usr/local is an overlay whose changes go to a tmpfs.
  # shellcheck disable=SC2016 # expanded by the inner shell
  quietly unshare -m env tmp="$tmp" build="$build" prefix="$prefix" python="$python" \
    round_script="$round_script" bash -euo pipefail -c '
      mount -t tmpfs tmpfs "$tmp/layer"
      mkdir "$tmp/layer/upper" "$tmp/layer/work"
      mkdir -p "$prefix"
      mount -t overlay overlay \
        -o "lowerdir=$prefix,upperdir=$tmp/layer/upper,workdir=$tmp/layer/work" "$prefix"
      cmake --install "$build"
      "$python" -m venv --system-site-packages "$tmp/v"
      "$tmp/v/bin/pip" install --no-index --no-build-isolation "$tmp/src"
      "$tmp/v/bin/python" -c "$round_script"'
  loaded=$(tail -n 2 "$log" | head -n 1)
  check_library_path "$loaded" "$prefix"
  echo "check-python-package: default prefix: found at $loaded"
else
  echo "check-python-package: note: default-prefix check skipped (needs root, and overlay" \
    "mounts in a private namespace)"
fi
echo "check-python-package: all checks passed"
