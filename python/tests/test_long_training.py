"""A long train runs in chunks: the same numbers as one library call, other threads get in
between the chunks, and Ctrl-C stops it."""

import ctypes
import os
import signal
import subprocess
import sys
import threading
import unittest
from unittest import mock

from oscnet import network

from .support import X3, Y2, LibraryTestCase, bits, child_environment, oscnet, raw

TIMEOUT = 60.0
LAYERS = [(9, "lee"), (5, "tanh")]

# A child that trains for hours (2^31 - 1 steps of a 64 x 64 network) and reports how it ends.
# It announces the train as the package makes its second library call, so the interrupt lands
# after some training; without chunks that call would last hours.
TRAIN_FOR_HOURS = """
import math, sys
import oscnet
from oscnet import network
real = network.load_library()
chunks = []

class Announcing:
    def __getattr__(self, name):
        return getattr(real, name)

    def oscnet_train(self, *arguments):
        if len(chunks) == 1:
            print("training", flush=True)
        chunks.append(arguments[3])
        return real.oscnet_train(*arguments)

network.load_library = lambda: Announcing()
net = oscnet.Network().build(3, 2, [(64, "tanh"), (64, "tanh")], seed=5)
before = net.get_params()
try:
    net.train([0.1, 0.2, 0.3], [0.5, -0.5], iterations=2**31 - 1, learning_rate=1e-6)
    print("finished")
except KeyboardInterrupt:
    kept = net.get_params() != before
    usable = all(math.isfinite(value) for value in net.predict([0.1, 0.2, 0.3]))
    print(f"interrupted after {len(chunks)} chunks, steps kept {kept}, usable {usable}")
"""


class LongTrainingTest(LibraryTestCase):
    def count_calls(self, name, before=None):
        """Counts the package's calls of `name`; `before(count)` runs ahead of each."""
        function = getattr(self.library, name)
        calls = []

        def counted(*arguments):
            if before is not None:
                before(len(calls))
            calls.append(arguments)
            return function(*arguments)

        setattr(self.library, name, counted)
        return calls

    def small_chunks(self, first, largest):
        """Chunks of `first` steps, then doubling up to `largest`, whatever the clock says."""
        chunking = (("_FIRST_CHUNK", first), ("_MAX_CHUNK", largest), ("_CHUNK_SECONDS", 1e9))
        for name, value in chunking:
            patcher = mock.patch.object(network, name, value)
            patcher.start()
            self.addCleanup(patcher.stop)

    def twins(self, seed):
        """Two networks alike, freed after the test."""
        nets = [oscnet.Network().build(3, 2, LAYERS, seed=seed) for _ in range(2)]
        for net in nets:
            self.addCleanup(net.release)
        return nets

    def one_call(self, net, iterations, rate, code):
        """A single library call of `iterations` steps on the network behind `net`."""
        x = (ctypes.c_double * 3)(*X3)
        y = (ctypes.c_double * 2)(*Y2)
        return raw().oscnet_train(net._handle.pointer, x, y, iterations, rate, code)

    def test_chunks_give_what_one_call_gives_bit_for_bit(self):
        self.small_chunks(5, 9)
        calls = self.count_calls("oscnet_train")
        for optimizer, code in oscnet.OPTIMIZERS.items():
            with self.subTest(optimizer=optimizer):
                chunked, whole = self.twins(seed=8)
                calls.clear()
                losses, expected = [], []
                # Two trains in a row: Adagrad's sums carry over between calls too.
                for iterations in (200, 77):
                    losses.append(chunked.train(X3, Y2, iterations, 0.05, optimizer))
                    expected.append(self.one_call(whole, iterations, 0.05, code))
                self.assertGreaterEqual(len(calls), 200 // 9 + 77 // 9)
                self.assertEqual(bits(losses), bits(expected))
                self.assertEqual(bits(chunked.get_params()), bits(whole.get_params()))
                self.assertEqual(bits(chunked.predict(X3)), bits(whole.predict(X3)))

    def test_chunks_sized_by_the_clock_change_nothing(self):
        calls = self.count_calls("oscnet_train")
        chunked, whole = self.twins(seed=4)
        loss = chunked.train(X3, Y2, 30000, 0.01, "adagrad")
        self.assertEqual(bits([loss]), bits([self.one_call(whole, 30000, 0.01, 1)]))
        self.assertEqual(bits(chunked.get_params()), bits(whole.get_params()))
        self.assertGreater(len(calls), 1)
        self.assertEqual(sum(call[3] for call in calls), 30000)

    def test_next_chunk_aims_at_the_chunk_time_and_at_most_doubles(self):
        seconds = network._CHUNK_SECONDS
        self.assertEqual(network._next_chunk(1000, seconds), 1000)
        self.assertEqual(network._next_chunk(1000, 4 * seconds), 250)
        self.assertEqual(network._next_chunk(1000, seconds / 100), 2000)
        self.assertEqual(network._next_chunk(1000, 0.0), 2000)
        self.assertEqual(network._next_chunk(3, 1000 * seconds), 1)
        self.assertEqual(network._next_chunk(network._MAX_CHUNK, seconds / 2), network._MAX_CHUNK)

    def test_a_predict_on_another_thread_gets_in_between_chunks(self):
        self.small_chunks(4, 4)
        net = oscnet.Network().build(3, 2, LAYERS, seed=1)
        self.addCleanup(net.release)
        in_first_chunk, go_on = threading.Event(), threading.Event()
        self.addCleanup(go_on.set)

        def hold_the_first_chunk(done):
            if done == 0:
                in_first_chunk.set()
                go_on.wait(TIMEOUT)

        train_calls = self.count_calls("oscnet_train", hold_the_first_chunk)
        seen_by_predict = []
        self.count_calls("oscnet_predict", lambda _: seen_by_predict.append(len(train_calls)))
        trainer = threading.Thread(target=lambda: net.train(X3, Y2, 40, 0.01))
        trainer.start()
        self.assertTrue(in_first_chunk.wait(TIMEOUT))
        predictor = threading.Thread(target=lambda: net.predict(X3))
        predictor.start()
        # The train holds the network; the predict waits for it.
        waited = threading.Event()
        for _ in range(int(TIMEOUT / 0.01)):
            if net._lock.waiting == 1:
                break
            waited.wait(0.01)
        self.assertEqual(net._lock.waiting, 1)
        go_on.set()
        predictor.join(TIMEOUT)
        trainer.join(TIMEOUT)
        self.assertFalse(predictor.is_alive() or trainer.is_alive())
        # The predict ran right after the first chunk, while nine more were to come.
        self.assertEqual(seen_by_predict, [1])
        self.assertEqual(len(train_calls), 10)

    def test_a_network_released_between_chunks_stops_the_train(self):
        self.small_chunks(4, 4)
        net = oscnet.Network().build(3, 2, LAYERS, seed=1)

        def release_after_two(done):
            if done == 2:
                threading.Thread(target=net.release).start()
                while net._lock.waiting == 0:
                    threading.Event().wait(0.001)

        self.count_calls("oscnet_train", release_after_two)
        with self.assertRaisesRegex(oscnet.OscnetError, "after 12 of 40 iterations"):
            net.train(X3, Y2, 40, 0.01)
        self.assertFalse(net.built)

    @unittest.skipUnless(hasattr(signal, "SIGINT") and os.name == "posix", "needs POSIX signals")
    def test_ctrl_c_stops_a_train_of_hours_between_chunks(self):
        child = subprocess.Popen(
            [sys.executable, "-c", TRAIN_FOR_HOURS],
            env=child_environment(),
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        self.addCleanup(child.stderr.close)
        self.addCleanup(child.stdout.close)
        watchdog = threading.Timer(TIMEOUT * 2, child.kill)  # if it never starts training
        watchdog.start()
        self.addCleanup(watchdog.cancel)
        announced = child.stdout.readline()
        if announced != "training\n":
            child.kill()
            self.fail(f"the child did not start training: {announced!r} {child.stderr.read()}")
        child.send_signal(signal.SIGINT)
        try:
            # A generous bound: a chunk takes about 10 ms, the whole train hours.
            output, errors = child.communicate(timeout=15)
        except subprocess.TimeoutExpired:
            child.kill()
            child.communicate()
            self.fail("the train did not stop within 15 s of Ctrl-C")
        self.assertEqual(child.returncode, 0, errors)
        self.assertRegex(output, r"^interrupted after \d+ chunks, steps kept True, usable True\n$")


if __name__ == "__main__":
    unittest.main()
