"""What the test modules share: the raw library, a view of the calls the package makes into it,
and a check that every test frees every network it made."""

import ctypes
import gc
import os
import threading
import unittest
from unittest import mock

import oscnet
from oscnet import _library, network

# The example worked by hand: 2 inputs -> 2 rectifier units -> 1 output.
#   W1 = [[1, -1], [0.5, -2]] (row i = input i), b1 = [0.25, 0.5], W2 = [[3], [7]], b2 = [-0.5]
# For x = [1, 2]: x W1 = [1 + 1, -1 - 4] = [2, -5]; + b1 = [2.25, -4.5]; relu = [2.25, 0];
# times W2 = 6.75; + b2 = 6.25. Every number is exact in binary.
HAND_X = [1.0, 2.0]
HAND_PARAMS = [
    1.0, 0.5, -1.0, -2.0,  # W1 column by column
    0.25, 0.5,  # b1
    3.0, 7.0,  # W2
    -0.5,  # b2
]
HAND_OUTPUT = 6.25

# An example row of three inputs and a target of two outputs.
X3 = [0.5, -0.25, 0.75]
Y2 = [0.3, -0.2]


def raw():
    """The library itself, as the package loaded it."""
    return _library.load_library()


def address(pointer_or_array):
    """Where a pointer argument points (0 for NULL)."""
    return ctypes.cast(pointer_or_array, ctypes.c_void_p).value or 0


def build_hand_worked(net):
    net.build(2, 1, [(2, "relu")])
    net.set_params(HAND_PARAMS)
    return net


def bits(values):
    """Floats as exact hex strings, so that equal means bit-identical (and NaN equals NaN)."""
    return [float(value).hex() for value in values]


class CountingLibrary:
    """The real library, as the package sees it in the tests: counts the networks created and
    destroyed and notes where the double* arguments of each handle function point."""

    _ROWS = {
        "oscnet_train": (1, 2),
        "oscnet_predict": (1, 2),
        "oscnet_predict_rows": (1, 3),
        "oscnet_set_weights": (1,),
        "oscnet_get_weights": (1,),
    }

    def __init__(self, library):
        self._library = library
        self._guard = threading.Lock()
        self.created = 0
        self.destroyed = 0
        self.seen = {}

    @property
    def live(self):
        return self.created - self.destroyed

    def __getattr__(self, name):
        function = getattr(self._library, name)
        if name not in self._ROWS:
            return function

        def noted(*arguments):
            self.seen[name] = tuple(address(arguments[i]) for i in self._ROWS[name])
            return function(*arguments)

        return noted

    def oscnet_create(self, *arguments):
        pointer = self._library.oscnet_create(*arguments)
        if pointer:
            with self._guard:
                self.created += 1
        return pointer

    def oscnet_destroy(self, pointer):
        if pointer:
            with self._guard:
                self.destroyed += 1
        self._library.oscnet_destroy(pointer)


class LibraryTestCase(unittest.TestCase):
    """Gives the package a CountingLibrary (self.library) and checks, after the test and its
    cleanups, that every network made was destroyed once the objects are gone."""

    def setUp(self):
        self.library = CountingLibrary(raw())
        patcher = mock.patch.object(network, "load_library", lambda: self.library)
        patcher.start()
        # Cleanups run last in, first out: this one after every other cleanup of the test.
        self.addCleanup(self._check_every_network_destroyed)
        self.addCleanup(patcher.stop)

    def _check_every_network_destroyed(self):
        gc.collect()
        self.assertEqual(self.library.live, 0, "networks left alive after the test")

    def assertBitsEqual(self, first, second):
        self.assertEqual(bits(first), bits(second))


def child_environment():
    """The environment for a child python that imports this very package and library."""
    environment = dict(os.environ)
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(oscnet.__file__)))
    environment["PYTHONPATH"] = os.pathsep.join(
        part for part in (package_parent, environment.get("PYTHONPATH")) if part
    )
    environment["OSCNET_LIBRARY"] = oscnet.library_path()
    environment["PYTHONDONTWRITEBYTECODE"] = "1"
    return environment


__all__ = [
    "child_environment",
    "oscnet",
    "raw",
    "address",
    "bits",
    "build_hand_worked",
    "CountingLibrary",
    "LibraryTestCase",
]
