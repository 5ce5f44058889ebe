"""Finding and loading the oscnet shared library, with a prototype for every export.

The library is searched in this order; the first file that exists is used:

1. the environment variable ``OSCNET_LIBRARY``: the path of the library file. When it is set
   (and not empty) and the file cannot be loaded, the search stops with an error naming it;
   it never falls back to another copy. This is also the way to a library installed under a
   prefix that step 4 does not know (``OSCNET_LIBRARY=$P/lib/liboscnet.so``).
2. the copy this package carries: ``liboscnet.so`` (``liboscnet.dylib``; ``oscnet.dll``,
   ``liboscnet.dll``) inside the package directory. It gets there when the built library is
   copied into ``python/oscnet/`` before ``pip install``; the installed package then holds it
   (and git ignores it in the source tree). A carried file that does not load is an error.
3. the build tree next to this package, only when the package is run from a source checkout
   (``<repo>/include/oscnet.h`` exists): ``<repo>/build``, then ``<repo>/build/Release``,
   ``/Debug``, ``/RelWithDebInfo`` and ``/MinSizeRel``. A file there that does not load is an
   error too.
4. an installed copy (``cmake --install build [--prefix P]``), in the library directories
   (``lib``, ``lib/<multiarch>``, ``lib64``; ``bin`` for a DLL) of ``sys.prefix`` (so a library
   installed with ``--prefix`` into the virtual environment is found), ``sys.base_prefix``,
   ``/usr/local``, ``/opt/homebrew`` (macOS) and ``/usr``. These are looked at directly,
   because the loader's cache may not know a fresh install (``ldconfig`` not run). A file
   there that does not load is noted and the search goes on.
5. the system: ``ctypes.util.find_library("oscnet")``, then the plain file names, as the
   platform's loader searches them (``LD_LIBRARY_PATH`` and the like).

When nothing loads, OscnetError lists every place tried. Every export is called with the C
calling convention (``ctypes.CDLL``; never ``WinDLL``).
"""

import ctypes
import ctypes.util
import os
import sys
import sysconfig
import threading

__all__ = ["OscnetError", "find_library", "load_library", "INT_MAX", "NETWORK_P"]

# The version of include/oscnet.h this package was written against. The library exports no
# version function, so compatibility is checked by the presence of every export it needs: a
# library without the network handle functions (before 0.2.0) is refused.
VERSION = (0, 2, 0)

INT_MAX = 2 ** (8 * ctypes.sizeof(ctypes.c_int) - 1) - 1

ENVIRONMENT_VARIABLE = "OSCNET_LIBRARY"

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
_SOURCE_ROOT = os.path.normpath(os.path.join(_PACKAGE_DIR, os.pardir, os.pardir))
# An installed package has no build tree beside it; guessing one there could pick up anything.
_BUILD_DIR = (
    os.path.join(_SOURCE_ROOT, "build")
    if os.path.isfile(os.path.join(_SOURCE_ROOT, "include", "oscnet.h"))
    else None
)
_BUILD_SUBDIRS = ("", "Release", "Debug", "RelWithDebInfo", "MinSizeRel")


class OscnetError(RuntimeError):
    """A failure of the library or of the package's use of it (not an argument problem)."""


OscnetError.__module__ = "oscnet"  # shown as oscnet.OscnetError, where it is exported

def _file_names(platform=None):
    platform = sys.platform if platform is None else platform
    if platform.startswith("win") or platform == "cygwin":
        return ("oscnet.dll", "liboscnet.dll")
    if platform == "darwin":
        return ("liboscnet.dylib",)
    return ("liboscnet.so",)


def _build_tree_candidates(build_dir=_BUILD_DIR, platform=None):
    if build_dir is None:
        return []
    return [
        os.path.join(build_dir, subdir, name) if subdir else os.path.join(build_dir, name)
        for subdir in _BUILD_SUBDIRS
        for name in _file_names(platform)
    ]


def _carried_candidates(package_dir=_PACKAGE_DIR, platform=None):
    return [os.path.join(package_dir, name) for name in _file_names(platform)]


def _unique(items):
    return list(dict.fromkeys(items))


def _default_prefixes(platform=None):
    platform = sys.platform if platform is None else platform
    prefixes = [sys.prefix, sys.base_prefix, "/usr/local"]
    if platform == "darwin":
        prefixes.append("/opt/homebrew")
    prefixes.append("/usr")
    return _unique(os.path.normpath(prefix) for prefix in prefixes)


def _prefix_candidates(prefixes=None, platform=None, multiarch=None):
    """The files an install under each prefix would have made, in the order tried."""
    platform = sys.platform if platform is None else platform
    prefixes = _default_prefixes(platform) if prefixes is None else prefixes
    if multiarch is None:
        multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    if platform.startswith("win") or platform == "cygwin":
        library_dirs = ["bin", "lib"]
    else:
        # GNUInstallDirs picks lib/<multiarch> only for the prefix /usr on Debian, but a
        # build configured that way and installed with --prefix elsewhere keeps it.
        library_dirs = ["lib"] + ([os.path.join("lib", multiarch)] if multiarch else []) + ["lib64"]
    return _unique(
        os.path.join(prefix, library_dir, name)
        for prefix in prefixes
        for library_dir in library_dirs
        for name in _file_names(platform)
    )




class NetworkStruct(ctypes.Structure):
    """The library's opaque ``oscnet_network``; only pointers to it are ever used."""


# The prototype of every export: name -> (restype, argtypes).
_INT_P = ctypes.POINTER(ctypes.c_int)
_DOUBLE_P = ctypes.POINTER(ctypes.c_double)
NETWORK_P = ctypes.POINTER(NetworkStruct)
PROTOTYPES = {
    "build_net": (ctypes.c_bool, [_INT_P, _INT_P, _INT_P, _DOUBLE_P, _DOUBLE_P, _INT_P, _INT_P]),
    "train": (
        ctypes.c_double,
        [ctypes.c_int, ctypes.c_int, _DOUBLE_P, _DOUBLE_P, ctypes.c_int, _DOUBLE_P, _INT_P],
    ),
    "Predict": (None, [ctypes.c_int, ctypes.c_int, _DOUBLE_P, _DOUBLE_P]),
    "release_net": (None, []),
    "oscnet_param_count": (ctypes.c_int, []),
    "oscnet_get_params": (ctypes.c_int, [_DOUBLE_P, ctypes.c_int]),
    "oscnet_set_params": (ctypes.c_int, [_DOUBLE_P, ctypes.c_int]),
    "myAdd": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "oscnet_create": (
        NETWORK_P,
        [ctypes.c_int, ctypes.c_int, ctypes.c_int, _INT_P, _INT_P, ctypes.c_uint],
    ),
    "oscnet_destroy": (None, [NETWORK_P]),
    "oscnet_input_size": (ctypes.c_int, [NETWORK_P]),
    "oscnet_output_size": (ctypes.c_int, [NETWORK_P]),
    "oscnet_train": (
        ctypes.c_double,
        [NETWORK_P, _DOUBLE_P, _DOUBLE_P, ctypes.c_int, ctypes.c_double, ctypes.c_int],
    ),
    "oscnet_reset_optimizer": (ctypes.c_int, [NETWORK_P]),
    "oscnet_predict": (ctypes.c_int, [NETWORK_P, _DOUBLE_P, _DOUBLE_P]),
    "oscnet_predict_rows": (ctypes.c_int, [NETWORK_P, _DOUBLE_P, ctypes.c_int, _DOUBLE_P]),
    "oscnet_weights_count": (ctypes.c_int, [NETWORK_P]),
    "oscnet_get_weights": (ctypes.c_int, [NETWORK_P, _DOUBLE_P, ctypes.c_int]),
    "oscnet_set_weights": (ctypes.c_int, [NETWORK_P, _DOUBLE_P, ctypes.c_int]),
    "oscnet_last_error": (ctypes.c_char_p, []),
}

# Status codes of the handle functions that return an int.
OK = 0
ERROR_ARGUMENT = -1
ERROR_MEMORY = -2


def _open(path):
    """Loads `path` and sets the prototypes; raises OscnetError naming the file on failure."""
    try:
        library = ctypes.CDLL(path)
    except OSError as error:
        raise OscnetError(f"cannot load the oscnet library {path!r}: {error}") from error
    missing = [name for name in PROTOTYPES if not hasattr(library, name)]
    if missing:
        raise OscnetError(
            f"{path!r} is not an oscnet library compatible with this package "
            f"(version {'.'.join(map(str, VERSION))}): it does not export {', '.join(missing)}"
        )
    for name, (restype, argtypes) in PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library


def find_library(
    environ=None, build_dir=_BUILD_DIR, platform=None, package_dir=_PACKAGE_DIR, prefixes=None
):
    """Loads the library following the search order of this module and returns
    ``(path_or_name, ctypes.CDLL)``. Raises OscnetError saying where it looked when nothing
    loads. Does not touch the cached library of :func:`load_library`. The arguments other than
    ``environ`` replace the places searched (for tests)."""
    environ = os.environ if environ is None else environ
    configured = environ.get(ENVIRONMENT_VARIABLE, "")
    if configured:
        path = os.path.abspath(configured)
        if not os.path.isfile(path):
            raise OscnetError(
                f"{ENVIRONMENT_VARIABLE} is set to {configured!r}, but there is no file "
                f"{path!r}; point it at the built library file (for example "
                f"build/liboscnet.so) or unset it"
            )
        try:
            return path, _open(path)
        except OscnetError as error:
            raise OscnetError(f"{error} (from {ENVIRONMENT_VARIABLE}={configured!r})") from error

    # The package's own copy and the build tree beside it: a file there that does not load is
    # a broken build, not a reason to pick up some other copy.
    owned = _carried_candidates(package_dir, platform) + _build_tree_candidates(build_dir, platform)
    for path in owned:
        if os.path.isfile(path):
            return path, _open(path)

    tried = []
    installed = _prefix_candidates(prefixes, platform)
    for path in installed:
        if os.path.isfile(path):
            try:
                return path, _open(path)
            except OscnetError as error:
                tried.append(str(error))

    system_names = []
    found = ctypes.util.find_library("oscnet")
    if found:
        system_names.append(found)
    system_names.extend(_file_names(platform))
    for name in system_names:
        try:
            return name, _open(name)
        except OscnetError as error:
            tried.append(str(error))

    raise OscnetError(
        "cannot find the oscnet library. Looked at:\n  "
        + "\n  ".join(owned + installed)
        + "\nand in the system's library paths for "
        + ", ".join(system_names)
        + ":"
        + "".join("\n  " + line for line in tried)
        + "\nBuild it (cmake -S . -B build && cmake --build build) and install it "
        + "(cmake --install build), or set "
        + f"{ENVIRONMENT_VARIABLE} to the path of the library file."
    )


_lock = threading.Lock()
_loaded = None


def load_library():
    """Returns the process's oscnet library (a ``ctypes.CDLL`` with prototypes set), loading
    it on first use. Every :class:`~oscnet.Network` creates its network in this library."""
    global _loaded
    with _lock:
        if _loaded is None:
            _loaded = find_library()
        return _loaded[1]


def library_path():
    """The path or name the process's library was loaded from (loading it if needed)."""
    load_library()
    return _loaded[0]
