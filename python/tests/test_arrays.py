"""Rows given as any sequence of numbers, buffers of doubles and numpy arrays; which of them
reach the library without a copy, seen at the call boundary."""

import array
import ctypes
import os
import subprocess
import sys
import unittest
from unittest import mock

from oscnet import network

from .support import X3, Y2, LibraryTestCase, oscnet

try:
    import numpy
except ImportError:
    numpy = None
    print(f"numpy tests skipped: numpy is not installed for {sys.executable}", file=sys.stderr)

needs_numpy = unittest.skipIf(numpy is None, "numpy is not installed")


def address(pointer_or_array):
    """Where a double* argument points."""
    return ctypes.cast(pointer_or_array, ctypes.c_void_p).value


class RecordingLibrary:
    """The real library, noting where each double* argument of Predict, train and
    oscnet_set_params points."""

    def __init__(self, library):
        self._library = library
        self.seen = {}

    def __getattr__(self, name):
        return getattr(self._library, name)

    def Predict(self, inputs, outputs, x, out):
        self.seen["Predict"] = (address(x), address(out))
        return self._library.Predict(inputs, outputs, x, out)

    def train(self, inputs, outputs, x, y, *rest):
        self.seen["train"] = (address(x), address(y))
        return self._library.train(inputs, outputs, x, y, *rest)

    def oscnet_set_params(self, values, count):
        self.seen["oscnet_set_params"] = (address(values),)
        return self._library.oscnet_set_params(values, count)


class ArrayTestCase(LibraryTestCase):
    def setUp(self):
        super().setUp()
        self.net = oscnet.Network().build(3, 2, [(8, "relu"), (4, "tanh")], X3, Y2)
        self.addCleanup(self.net.release)
        self.expected = self.net.predict(X3)
        self.recorder = RecordingLibrary(network.load_library())
        patcher = mock.patch.object(network, "load_library", lambda: self.recorder)
        patcher.start()
        self.addCleanup(patcher.stop)


class SequenceTest(ArrayTestCase):
    def test_every_kind_of_sequence_gives_the_same_outputs(self):
        # X3's values are exact in single precision too.
        rows = {
            "tuple": tuple(X3),
            "array d": array.array("d", X3),
            "array f": array.array("f", X3),
            "memoryview": memoryview(array.array("d", X3)),
            "read-only memoryview": memoryview(array.array("d", X3).tobytes()).cast("d"),
            "generator": (value for value in X3),
        }
        for kind, row in rows.items():
            with self.subTest(kind):
                self.assertEqual(self.net.predict(row), self.expected)
        with self.subTest("range"):
            self.assertEqual(self.net.predict(range(3)), self.net.predict([0.0, 1.0, 2.0]))

    def test_a_buffer_of_doubles_is_passed_without_a_copy(self):
        row = array.array("d", X3)
        target = array.array("d", Y2)
        self.net.train(row, target, iterations=0)
        self.assertEqual(
            self.recorder.seen["train"], (row.buffer_info()[0], target.buffer_info()[0])
        )

    def test_a_read_only_buffer_is_copied(self):
        data = array.array("d", X3).tobytes()
        self.assertEqual(self.net.predict(memoryview(data).cast("d")), self.expected)
        x_address, _ = self.recorder.seen["Predict"]
        self.assertNotEqual(x_address, ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value)

    def test_predict_writes_into_a_given_buffer(self):
        out = array.array("d", [7.0, 7.0])
        self.assertIs(self.net.predict(X3, out=out), out)
        self.assertEqual(list(out), self.expected)
        self.assertEqual(self.recorder.seen["Predict"][1], out.buffer_info()[0])

    def test_wrong_rows_and_outputs_are_refused_before_the_library_is_called(self):
        doubles = memoryview(array.array("d", X3)).cast("B")
        bad_rows = {
            "short buffer": (array.array("d", X3[:2]), ValueError),
            "two-dimensional view": (doubles.cast("d", (1, 3)), TypeError),
            "text": ("abc", TypeError),
        }
        for kind, (row, error) in bad_rows.items():
            with self.subTest(kind), self.assertRaises(error):
                self.net.predict(row)
        bad_outputs = {
            "short": (array.array("d", [0.0]), ValueError),
            "not doubles": (array.array("f", [0.0, 0.0]), TypeError),
            "read-only": (memoryview(bytes(16)).cast("d"), TypeError),
            "a list": ([0.0, 0.0], TypeError),
        }
        for kind, (out, error) in bad_outputs.items():
            with self.subTest(kind), self.assertRaises(error):
                self.net.predict(X3, out=out)
        self.assertNotIn("Predict", self.recorder.seen)


@needs_numpy
class NumpyTest(ArrayTestCase):
    def test_predict_returns_an_array_for_an_array(self):
        result = self.net.predict(numpy.array(X3))
        self.assertIsInstance(result, numpy.ndarray)
        self.assertEqual(result.dtype, numpy.float64)
        self.assertEqual(result.tolist(), self.expected)
        self.assertEqual(self.recorder.seen["Predict"][1], result.ctypes.data)
        # Anything else still gives a list.
        self.assertIsInstance(self.net.predict(tuple(X3)), list)

    def test_a_contiguous_float64_array_is_passed_without_a_copy(self):
        x = numpy.array(X3)
        y = numpy.array(Y2)
        self.net.train(x, y, iterations=0)
        self.assertEqual(self.recorder.seen["train"], (x.ctypes.data, y.ctypes.data))
        self.net.predict(x)
        self.assertEqual(self.recorder.seen["Predict"][0], x.ctypes.data)
        params = numpy.array(self.net.get_params())
        self.net.set_params(params)
        self.assertEqual(self.recorder.seen["oscnet_set_params"], (params.ctypes.data,))

    def test_other_arrays_are_converted_and_left_alone(self):
        wide = numpy.array([X3[0], 9.0, X3[1], 9.0, X3[2], 9.0])
        rows = {
            "float32": numpy.array(X3, dtype=numpy.float32),
            "int64": numpy.array([1, -2, 3]),
            "strided": wide[::2],
            "big-endian": numpy.array(X3, dtype=">f8"),
            "read-only": numpy.frombuffer(numpy.array(X3).tobytes()),
        }
        for kind, row in rows.items():
            with self.subTest(kind):
                before = row.copy()
                expected = self.net.predict(row.tolist())
                self.assertEqual(self.net.predict(row).tolist(), expected)
                self.assertNotEqual(self.recorder.seen["Predict"][0], row.ctypes.data)
                numpy.testing.assert_array_equal(row, before)

    def test_predict_writes_into_a_given_array(self):
        out = numpy.full(2, 7.0)
        self.assertIs(self.net.predict(numpy.array(X3), out=out), out)
        self.assertEqual(out.tolist(), self.expected)
        self.assertEqual(self.recorder.seen["Predict"][1], out.ctypes.data)
        for kind, bad in {
            "float32": numpy.zeros(2, dtype=numpy.float32),
            "strided": numpy.zeros(4)[::2],
            "read-only": numpy.frombuffer(bytes(16)),
        }.items():
            with self.subTest(kind), self.assertRaises(TypeError):
                self.net.predict(X3, out=bad)

    def test_wrong_arrays_are_refused(self):
        for kind, (row, error) in {
            "two-dimensional": (numpy.array([X3]), ValueError),
            "too long": (numpy.zeros(4), ValueError),
            "complex": (numpy.zeros(3, dtype=complex), TypeError),
            "text": (numpy.array(["1", "2", "3"]), TypeError),
        }.items():
            with self.subTest(kind), self.assertRaises(error):
                self.net.predict(row)
        self.assertEqual(self.recorder.seen, {})


class WithoutNumpyTest(unittest.TestCase):
    def test_the_package_never_imports_numpy(self):
        # In a process of its own: here numpy may have been imported by the tests.
        script = (
            "import sys\n"
            "import oscnet\n"
            "with oscnet.Network() as net:\n"
            "    net.build(2, 1, [(3, 'tanh')])\n"
            "    net.train([0.5, -0.5], [0.25], iterations=3)\n"
            "    print(net.predict((0.5, -0.5)))\n"
            "print('numpy' in sys.modules)\n"
        )
        package_parent = os.path.dirname(os.path.dirname(oscnet.__file__))
        environment = dict(os.environ, PYTHONPATH=package_parent)
        result = subprocess.run(
            [sys.executable, "-c", script],
            env=environment,
            capture_output=True,
            text=True,
            timeout=60,
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[-1], "False")
