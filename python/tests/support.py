"""What the test modules share: the raw library and a clean slate around every test."""

import unittest

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


def build_hand_worked(net):
    net.build(2, 1, [(2, "relu")])
    net.set_params(HAND_PARAMS)
    return net


class LibraryTestCase(unittest.TestCase):
    """Starts and ends every test without a network in the library."""

    def setUp(self):
        self._reset()

    def tearDown(self):
        self._reset()

    @staticmethod
    def _reset():
        raw().release_net()
        network._owner = None

    def assertNoNetwork(self):
        self.assertEqual(raw().oscnet_param_count(), 0)


__all__ = ["oscnet", "raw", "build_hand_worked", "LibraryTestCase"]
