"""Rows given as any sequence of numbers, buffers of doubles and numpy arrays; which of them
reach the library without a copy, seen at the call boundary."""

import array
import ctypes
import os
import subprocess
import sys
import unittest

from .support import X3, Y2, LibraryTestCase, bits, oscnet

try:
    import numpy
except ImportError:
    numpy = None
    print(f"numpy tests skipped: numpy is not installed for {sys.executable}", file=sys.stderr)

needs_numpy = unittest.skipIf(numpy is None, "numpy is not installed")


class ArrayTestCase(LibraryTestCase):
    def setUp(self):
        super().setUp()
        self.net = oscnet.Network().build(3, 2, [(8, "relu"), (4, "tanh")], seed=3)
        self.addCleanup(self.net.release)
        self.expected = self.net.predict(X3)
        self.library.seen.clear()
        self.recorder = self.library


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
        self.net.train(row, target)
        self.assertEqual(
            self.recorder.seen["oscnet_train"], (row.buffer_info()[0], target.buffer_info()[0])
        )

    def test_a_read_only_buffer_is_copied(self):
        data = array.array("d", X3).tobytes()
        self.assertEqual(self.net.predict(memoryview(data).cast("d")), self.expected)
        x_address, _ = self.recorder.seen["oscnet_predict"]
        self.assertNotEqual(x_address, ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value)

    def test_predict_writes_into_a_given_buffer(self):
        out = array.array("d", [7.0, 7.0])
        self.assertIs(self.net.predict(X3, out=out), out)
        self.assertEqual(list(out), self.expected)
        self.assertEqual(self.recorder.seen["oscnet_predict"][1], out.buffer_info()[0])

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
        self.assertNotIn("oscnet_predict", self.recorder.seen)


@needs_numpy
class NumpyTest(ArrayTestCase):
    def test_predict_returns_an_array_for_an_array(self):
        result = self.net.predict(numpy.array(X3))
        self.assertIsInstance(result, numpy.ndarray)
        self.assertEqual(result.dtype, numpy.float64)
        self.assertEqual(result.tolist(), self.expected)
        self.assertEqual(self.recorder.seen["oscnet_predict"][1], result.ctypes.data)
        # Anything else still gives a list.
        self.assertIsInstance(self.net.predict(tuple(X3)), list)

    def test_a_contiguous_float64_array_is_passed_without_a_copy(self):
        x = numpy.array(X3)
        y = numpy.array(Y2)
        self.net.train(x, y)
        self.assertEqual(self.recorder.seen["oscnet_train"], (x.ctypes.data, y.ctypes.data))
        self.net.predict(x)
        self.assertEqual(self.recorder.seen["oscnet_predict"][0], x.ctypes.data)
        params = numpy.array(self.net.get_params())
        self.net.set_params(params)
        self.assertEqual(self.recorder.seen["oscnet_set_weights"], (params.ctypes.data,))

    def test_a_read_only_array_is_passed_without_a_copy(self):
        # The library only reads its input rows.
        x = numpy.frombuffer(numpy.array(X3).tobytes())
        self.assertFalse(x.flags.writeable)
        self.assertEqual(self.net.predict(x).tolist(), self.expected)
        self.assertEqual(self.recorder.seen["oscnet_predict"][0], x.ctypes.data)

    def test_other_arrays_are_converted_and_left_alone(self):
        wide = numpy.array([X3[0], 9.0, X3[1], 9.0, X3[2], 9.0])
        rows = {
            "float32": numpy.array(X3, dtype=numpy.float32),
            "int64": numpy.array([1, -2, 3]),
            "strided": wide[::2],
            "big-endian": numpy.array(X3, dtype=">f8"),
        }
        for kind, row in rows.items():
            with self.subTest(kind):
                before = row.copy()
                expected = self.net.predict(row.tolist())
                self.assertEqual(self.net.predict(row).tolist(), expected)
                self.assertNotEqual(self.recorder.seen["oscnet_predict"][0], row.ctypes.data)
                numpy.testing.assert_array_equal(row, before)

    def test_predict_writes_into_a_given_array(self):
        out = numpy.full(2, 7.0)
        self.assertIs(self.net.predict(numpy.array(X3), out=out), out)
        self.assertEqual(out.tolist(), self.expected)
        self.assertEqual(self.recorder.seen["oscnet_predict"][1], out.ctypes.data)
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


@needs_numpy
class NumpyRowsTest(ArrayTestCase):
    def rows(self):
        return numpy.array([[0.1 * i, -0.2, 0.05 * i] for i in range(7)])

    def test_a_2d_array_gives_a_2d_array_of_the_row_by_row_outputs(self):
        rows = self.rows()
        result = self.net.predict_rows(rows)
        self.assertIsInstance(result, numpy.ndarray)
        self.assertEqual((result.shape, result.dtype), ((7, 2), numpy.float64))
        row_by_row = numpy.ravel([self.net.predict(row) for row in rows])
        self.assertEqual(bits(result.ravel()), bits(row_by_row))
        self.assertEqual(
            self.recorder.seen["oscnet_predict_rows"], (rows.ctypes.data, result.ctypes.data)
        )
        empty = self.net.predict_rows(numpy.empty((0, 3)))
        self.assertEqual(empty.shape, (0, 2))

    def test_other_2d_arrays_are_converted(self):
        rows = self.rows()
        expected = self.net.predict_rows(rows.tolist())
        for kind, block in {
            "Fortran order": numpy.asfortranarray(rows),
            "float32": rows.astype(numpy.float32),
            "every other row": numpy.repeat(rows, 2, axis=0)[::2],
            "int": numpy.arange(21).reshape(7, 3),
        }.items():
            with self.subTest(kind):
                result = self.net.predict_rows(block)
                self.assertNotEqual(self.recorder.seen["oscnet_predict_rows"][0], block.ctypes.data)
                self.assertEqual(result.tolist(), self.net.predict_rows(block.tolist()))
        self.assertEqual(self.net.predict_rows(rows).tolist(), expected)

    def test_a_list_of_1d_arrays_gives_lists(self):
        rows = list(self.rows())
        self.assertEqual(self.net.predict_rows(rows), self.net.predict_rows(self.rows()).tolist())

    def test_wrong_arrays_are_refused(self):
        for kind, (block, error) in {
            "one row": (numpy.zeros(3), ValueError),
            "three dimensions": (numpy.zeros((2, 3, 1)), ValueError),
            "wrong width": (numpy.zeros((4, 2)), ValueError),
            "complex": (numpy.zeros((2, 3), dtype=complex), TypeError),
            "rows of two dimensions": ([numpy.zeros((1, 3))], ValueError),
        }.items():
            with self.subTest(kind), self.assertRaises(error):
                self.net.predict_rows(block)
        self.assertNotIn("oscnet_predict_rows", self.recorder.seen)


class WithoutNumpyTest(unittest.TestCase):
    def test_the_package_never_imports_numpy(self):
        # In a process of its own: here numpy may have been imported by the tests.
        script = (
            "import sys\n"
            "import oscnet\n"
            "with oscnet.Network() as net:\n"
            "    net.build(2, 1, [(3, 'tanh')])\n"
            "    net.train([0.5, -0.5], [0.25], iterations=3)\n"
            "    print(net.predict((0.5, -0.5)), net.predict_rows([(0.5, -0.5)]))\n"
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
