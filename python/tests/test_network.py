"""The Network class against the real library: results, seeds, independence of networks, the
optimizer's state, batch prediction, the life of a network and bad arguments."""

import gc
import math
import os
import subprocess
import sys
import time

from .support import (
    HAND_OUTPUT,
    HAND_PARAMS,
    HAND_X,
    X3,
    Y2,
    LibraryTestCase,
    bits,
    build_hand_worked,
    oscnet,
    raw,
)

STEADY = [(8, "relu"), (4, "tanh")]  # no Lee layer: two evaluations give the same outputs
WITH_LEE = [(6, "lee"), (4, "tanh")]


def build_small(net, seed=1):
    """3 inputs -> 8 relu -> 4 tanh -> 2 outputs."""
    return net.build(3, 2, STEADY, seed=seed)


def session(net, optimizer="adagrad"):
    """Some work on a network: training, single and batch predictions. Returns every number."""
    results = []
    for step in range(6):
        x = [0.5 - 0.1 * step, -0.25, 0.75]
        results.append(net.train(x, Y2, iterations=3, learning_rate=0.05, optimizer=optimizer))
        results.extend(net.predict(x))
    for row in net.predict_rows([X3, [0.0, 0.0, 0.0], [-1.0, 2.0, 0.5]]):
        results.extend(row)
    return results


class HandWorkedTest(LibraryTestCase):
    def test_predict_gives_the_value_worked_by_hand(self):
        with build_hand_worked(oscnet.Network()) as net:
            self.assertEqual(net.param_count, 9)
            self.assertEqual(net.get_params(), HAND_PARAMS)
            self.assertEqual(net.predict(HAND_X), [HAND_OUTPUT])
            # x = [0, -1]: x W1 = [-0.5, 2]; + b1 = [-0.25, 2.5]; relu = [0, 2.5]; 17.5 - 0.5.
            self.assertEqual(net.predict([0.0, -1.0]), [17.0])
            self.assertEqual(net.predict_rows([HAND_X, [0.0, -1.0]]), [[HAND_OUTPUT], [17.0]])

    def test_one_gradient_step_worked_by_hand(self):
        with build_hand_worked(oscnet.Network()) as net:
            # The loss before the step: (6.25 - 6)^2.
            self.assertEqual(net.train(HAND_X, [6.0], iterations=1, learning_rate=0.01), 0.0625)
            # d loss / d output = 0.5; hidden = [2.25, 0]; only the first unit passes gradient.
            expected = [
                1.0 - 0.01 * 1.5, 0.5 - 0.01 * 3.0, -1.0, -2.0,
                0.25 - 0.01 * 1.5, 0.5,
                3.0 - 0.01 * 1.125, 7.0,
                -0.5 - 0.01 * 0.5,
            ]
            for got, want in zip(net.get_params(), expected):
                self.assertAlmostEqual(got, want, delta=1e-15)

    def test_each_name_builds_its_activation(self):
        # 1 -> 1 unit -> 1 with unit weights and zero biases: the output is f(x).
        expected = {
            "relu": lambda x: max(x, 0.0),
            "sigmoid": lambda x: 1.0 / (1.0 + math.exp(-x)),
            "tanh": lambda x: math.tanh(6.0 * x),
            "none": lambda x: x,
        }
        for name, f in expected.items():
            with self.subTest(name), oscnet.Network() as net:
                net.build(1, 1, [(1, name)])
                net.set_params([1.0, 0.0, 1.0, 0.0])
                for x in (-0.5, 0.125):
                    self.assertAlmostEqual(net.predict([x])[0], f(x), delta=1e-9)
        with oscnet.Network() as net:
            # The oscillator saturates beyond 1 and is bounded by 1 everywhere.
            net.build(1, 1, [(1, "lee")])
            net.set_params([1.0, 0.0, 1.0, 0.0])
            self.assertEqual(net.predict([2.0]), [1.0])
            self.assertEqual(net.predict([-2.0]), [-1.0])
            self.assertLessEqual(abs(net.predict([0.01])[0]), 1.0)

    def test_activation_names_and_codes(self):
        with oscnet.Network() as net:
            net.build(2, 3, [(4, 2), (3, "none"), (2, -1), (5, "lee"), (1, 1), (2, 0)])
            self.assertEqual(
                net.layers,
                ((4, "tanh"), (3, "none"), (2, "none"), (5, "lee"), (1, "sigmoid"), (2, "relu")),
            )
            self.assertEqual((net.inputs, net.outputs), (2, 3))
            self.assertEqual(net.param_count, 3 * 4 + 5 * 3 + 4 * 2 + 3 * 5 + 6 * 1 + 2 * 2 + 3 * 3)
            self.assertTrue(all(map(math.isfinite, net.predict([0.1, -0.2]))))


class TrainingTest(LibraryTestCase):
    def test_training_lowers_the_loss_with_both_optimizers(self):
        for optimizer in ("gd", "adagrad"):
            with self.subTest(optimizer=optimizer), build_small(oscnet.Network()) as net:
                first = net.train(X3, Y2, iterations=1, learning_rate=0.1, optimizer=optimizer)
                for _ in range(10):
                    last = net.train(X3, Y2, iterations=30, learning_rate=0.1, optimizer=optimizer)
                self.assertIsInstance(last, float)
                self.assertGreater(first, 0.0)
                self.assertLess(last / first, 0.01)

    def test_loss_is_the_squared_error_predict_sees(self):
        with build_small(oscnet.Network()) as net:
            before = net.predict(X3)
            loss = net.train(X3, Y2, iterations=1, learning_rate=0.1)
            self.assertEqual(loss, sum((o - t) ** 2 for o, t in zip(before, Y2)))
            self.assertNotEqual(net.predict(X3), before)

    def test_nan_is_a_value_not_an_error(self):
        with build_small(oscnet.Network()) as net:
            self.assertTrue(all(map(math.isnan, net.predict([math.nan, 0.0, 0.0]))))
            self.assertTrue(math.isnan(net.train([math.nan, 0.0, 0.0], Y2, iterations=1)))
            net.set_params([math.inf] * net.param_count)  # taken as they are
            self.assertTrue(math.isinf(net.get_params()[0]))
        with build_small(oscnet.Network()) as net:
            # The first step with a NaN rate spoils the weights; the second measures them.
            self.assertTrue(math.isnan(net.train(X3, Y2, iterations=2, learning_rate=math.nan)))
            self.assertTrue(all(map(math.isnan, net.get_params())))


class AdagradStateTest(LibraryTestCase):
    def test_two_calls_of_k_iterations_are_one_call_of_2k(self):
        with build_small(oscnet.Network(), seed=5) as split, build_small(
            oscnet.Network(), seed=5
        ) as whole:
            split.train(X3, Y2, iterations=7, learning_rate=0.1, optimizer="adagrad")
            loss = split.train(X3, Y2, iterations=7, learning_rate=0.1, optimizer="adagrad")
            self.assertBitsEqual(
                [loss], [whole.train(X3, Y2, iterations=14, learning_rate=0.1, optimizer="adagrad")]
            )
            self.assertBitsEqual(split.get_params(), whole.get_params())

    def test_reset_starts_the_sums_afresh(self):
        with build_small(oscnet.Network(), seed=9) as net, oscnet.Network() as fresh:
            net.train(X3, Y2, iterations=10, learning_rate=0.1, optimizer="adagrad")
            halfway = net.get_params()
            # A new network with the same weights has no sums yet: what a reset must give.
            build_small(fresh, seed=77).set_params(halfway)
            expected = fresh.train(X3, Y2, iterations=10, learning_rate=0.1, optimizer="adagrad")
            expected_params = fresh.get_params()

            with build_small(oscnet.Network(), seed=9) as kept:
                kept.train(X3, Y2, iterations=10, learning_rate=0.1, optimizer="adagrad")
                kept.train(X3, Y2, iterations=10, learning_rate=0.1, optimizer="adagrad")
                self.assertNotEqual(bits(kept.get_params()), bits(expected_params))

            net.reset_optimizer()
            loss = net.train(X3, Y2, iterations=10, learning_rate=0.1, optimizer="adagrad")
            self.assertBitsEqual([loss], [expected])
            self.assertBitsEqual(net.get_params(), expected_params)

    def test_set_params_keeps_the_sums(self):
        with build_small(oscnet.Network(), seed=3) as net, build_small(
            oscnet.Network(), seed=3
        ) as twin:
            for each in (net, twin):
                each.train(X3, Y2, iterations=5, learning_rate=0.1, optimizer="adagrad")
            net.set_params(net.get_params())
            self.assertBitsEqual(
                [net.train(X3, Y2, iterations=5, learning_rate=0.1, optimizer="adagrad")],
                [twin.train(X3, Y2, iterations=5, learning_rate=0.1, optimizer="adagrad")],
            )


class SeedTest(LibraryTestCase):
    def test_the_same_seed_repeats_a_run_bit_for_bit(self):
        for layers in (STEADY, WITH_LEE):
            with self.subTest(layers=layers):
                with oscnet.Network().build(3, 2, layers, seed=2024) as first:
                    initial, results = first.get_params(), session(first)
                with oscnet.Network().build(3, 2, layers, seed=2024) as second:
                    self.assertBitsEqual(second.get_params(), initial)
                    self.assertBitsEqual(session(second), results)

    def test_different_seeds_give_different_weights(self):
        with build_small(oscnet.Network(), seed=1) as one, build_small(
            oscnet.Network(), seed=2
        ) as two:
            self.assertNotEqual(one.get_params(), two.get_params())
            # Normal draws of deviation 0.01: small, and not all equal.
            params = one.get_params()
            self.assertLess(max(map(abs, params)), 0.1)
            self.assertGreater(len(set(params)), len(params) // 2)

    def test_the_lee_draws_follow_the_seed(self):
        # Same weights, different seeds: only the oscillators' draws differ.
        with oscnet.Network().build(3, 2, WITH_LEE, seed=10) as one, oscnet.Network().build(
            3, 2, WITH_LEE, seed=11
        ) as two:
            # Pre-activations near 0.1, where the oscillator's draws matter.
            two.set_params([0.1] * two.param_count)
            one.set_params([0.1] * one.param_count)
            rows = [[0.01 * i, -0.02 * i, 0.03] for i in range(20)]
            self.assertNotEqual(one.predict_rows(rows), two.predict_rows(rows))

    def test_a_drawn_seed_is_shown_and_repeats_the_run(self):
        seeds = set()
        for _ in range(4):
            with oscnet.Network().build(3, 2, WITH_LEE) as net:
                self.assertIsInstance(net.seed, int)
                self.assertTrue(0 <= net.seed < 2**32)
                seeds.add(net.seed)
                initial, results = net.get_params(), session(net)
                with oscnet.Network().build(3, 2, WITH_LEE, seed=net.seed) as again:
                    self.assertBitsEqual(again.get_params(), initial)
                    self.assertBitsEqual(session(again), results)
        self.assertGreater(len(seeds), 1)

    def test_the_extreme_seeds(self):
        for seed in (0, 2**32 - 1):
            with self.subTest(seed=seed), build_small(oscnet.Network(), seed) as net:
                self.assertEqual(net.seed, seed)
                with build_small(oscnet.Network(), seed) as twin:
                    self.assertBitsEqual(net.get_params(), twin.get_params())


class IndependenceTest(LibraryTestCase):
    def test_two_networks_interleaved_give_what_each_gives_alone(self):
        with oscnet.Network().build(3, 2, WITH_LEE, seed=31) as alone:
            expected_a = session(alone)
        with oscnet.Network().build(3, 2, [(5, "lee"), (3, "relu")], seed=32) as alone:
            expected_b = session(alone, optimizer="gd")
        with oscnet.Network().build(3, 2, WITH_LEE, seed=31) as a, oscnet.Network().build(
            3, 2, [(5, "lee"), (3, "relu")], seed=32
        ) as b:
            got_a, got_b = [], []
            for step in range(6):
                x = [0.5 - 0.1 * step, -0.25, 0.75]
                got_b.append(b.train(x, Y2, iterations=3, learning_rate=0.05, optimizer="gd"))
                got_a.append(a.train(x, Y2, iterations=3, learning_rate=0.05, optimizer="adagrad"))
                got_a.extend(a.predict(x))
                got_b.extend(b.predict(x))
            for row in a.predict_rows([X3, [0.0, 0.0, 0.0], [-1.0, 2.0, 0.5]]):
                got_a.extend(row)
            for row in b.predict_rows([X3, [0.0, 0.0, 0.0], [-1.0, 2.0, 0.5]]):
                got_b.extend(row)
        self.assertBitsEqual(got_a, expected_a)
        self.assertBitsEqual(got_b, expected_b)

    def test_many_networks_alive_at_once(self):
        nets = [oscnet.Network().build(2, 1, [(3, "tanh")], seed=i) for i in range(40)]
        self.assertEqual(self.library.live, 40)
        for index, net in enumerate(nets):
            net.set_params([float(index)] * net.param_count)
        # Each kept its own weights.
        for index, net in enumerate(nets):
            self.assertEqual(set(net.get_params()), {float(index)})
        nets[0].release()
        self.assertEqual(nets[1].get_params()[0], 1.0)
        del nets, net
        gc.collect()
        self.assertEqual(self.library.live, 0)

    def test_releasing_one_leaves_the_others_alone(self):
        first = build_small(oscnet.Network())
        with build_hand_worked(oscnet.Network()) as second:
            first.release()
            self.assertEqual(second.predict(HAND_X), [HAND_OUTPUT])
            # Building another object again touches nothing else either.
            build_small(first, seed=4)
            self.assertEqual(second.predict(HAND_X), [HAND_OUTPUT])
            first.release()

    def test_the_default_network_is_left_alone(self):
        library = raw()
        library.release_net()
        with build_hand_worked(oscnet.Network()):
            self.assertEqual(library.oscnet_param_count(), 0)


class PredictRowsTest(LibraryTestCase):
    def test_equals_row_by_row_prediction(self):
        rows = [[0.1 * i, -0.05 * i, 0.5 - 0.02 * i] for i in range(25)]
        with build_small(oscnet.Network()) as net:
            net.train(X3, Y2, iterations=5, learning_rate=0.1)
            expected = [net.predict(row) for row in rows]
            self.assertBitsEqual(
                sum(net.predict_rows(rows), []), sum(expected, [])
            )
            self.assertEqual(net.predict_rows([]), [])
            self.assertEqual(net.predict_rows(iter(rows[:2])), expected[:2])

    def test_lee_units_take_the_same_draws_in_batch_and_row_by_row(self):
        rows = [[0.02 * i, -0.01 * i, 0.3] for i in range(30)]
        with oscnet.Network().build(3, 2, WITH_LEE, seed=99) as one_by_one, oscnet.Network().build(
            3, 2, WITH_LEE, seed=99
        ) as batch:
            for _ in range(2):  # and the streams stay in step afterwards
                by_rows = [one_by_one.predict(row) for row in rows]
                self.assertBitsEqual(sum(batch.predict_rows(rows), []), sum(by_rows, []))

    def test_bad_blocks_are_refused_before_the_library_is_called(self):
        with build_small(oscnet.Network()) as net:
            cases = {
                "ragged": ([X3, X3[:2]], ValueError),
                "a row too long": ([X3 + [1.0]], ValueError),
                "one flat row": (X3, TypeError),
                "text rows": (["abc"], TypeError),
                "a string": ("abc", TypeError),
                "a number": (3.0, TypeError),
                "None": (None, TypeError),
                "a text value": ([[0.1, "0.2", 0.3]], TypeError),
            }
            for name, (rows, error) in cases.items():
                with self.subTest(name), self.assertRaises(error):
                    net.predict_rows(rows)
            self.assertNotIn("oscnet_predict_rows", self.library.seen)


class LifeCycleTest(LibraryTestCase):
    def test_context_manager_destroys_the_network(self):
        with build_hand_worked(oscnet.Network()) as net:
            self.assertEqual(self.library.live, 1)
        self.assertEqual(self.library.live, 0)
        self.assertFalse(net.built)
        with self.assertRaises(KeyError):
            with build_hand_worked(oscnet.Network()):
                raise KeyError("inside")
        self.assertEqual((self.library.created, self.library.destroyed), (2, 2))

    def test_release_is_safe_twice_and_methods_then_raise(self):
        net = build_hand_worked(oscnet.Network())
        net.release()
        net.release()
        self.assertEqual(self.library.destroyed, 1)
        for call in (
            lambda: net.predict(HAND_X),
            lambda: net.predict_rows([HAND_X]),
            lambda: net.train(HAND_X, [1.0]),
            net.reset_optimizer,
            net.get_params,
            lambda: net.set_params(HAND_PARAMS),
            lambda: net.param_count,
        ):
            with self.assertRaisesRegex(oscnet.OscnetError, "released"):
                call()
        with self.assertRaisesRegex(oscnet.OscnetError, "build"):
            oscnet.Network().get_params()
        # The description of the last build stays readable.
        self.assertEqual((net.inputs, net.outputs, net.layers), (2, 1, ((2, "relu"),)))
        self.assertIn("released", repr(net))

    def test_a_collected_network_is_destroyed(self):
        build_hand_worked(oscnet.Network())
        net = build_small(oscnet.Network())
        net.cycle = net  # collected by the cycle collector, not by reference counting
        del net
        gc.collect()
        self.assertEqual((self.library.created, self.library.destroyed), (2, 2))

    def test_building_again_destroys_the_old_network(self):
        net = build_hand_worked(oscnet.Network())
        build_small(net, seed=8)
        self.assertEqual((self.library.created, self.library.destroyed), (2, 1))
        self.assertEqual((net.inputs, net.outputs, net.seed), (3, 2, 8))
        net.release()
        self.assertEqual(self.library.live, 0)

    def test_a_refused_build_keeps_the_network_held(self):
        with build_hand_worked(oscnet.Network()) as net:
            with self.assertRaisesRegex(oscnet.OscnetError, "refused") as caught:
                net.build(2, 1, [(2**30, "relu"), (2**30, "relu")])
            self.assertIn(raw().oscnet_last_error().decode(), str(caught.exception))
            self.assertTrue(raw().oscnet_last_error())
            self.assertEqual(net.predict(HAND_X), [HAND_OUTPUT])
            self.assertEqual(net.layers, ((2, "relu"),))

    def test_networks_alive_at_exit_are_destroyed_safely(self):
        # In a process of its own, with a network in use by a daemon thread when the
        # interpreter ends. The exit handler registered first runs last.
        script = """
import atexit, threading
import oscnet
from oscnet import _library, network

real = _library.load_library()
class Counting:
    live = 0
    def __getattr__(self, name):
        return getattr(real, name)
    def oscnet_create(self, *arguments):
        Counting.live += 1
        return real.oscnet_create(*arguments)
    def oscnet_destroy(self, pointer):
        Counting.live -= 1
        real.oscnet_destroy(pointer)
network.load_library = Counting
atexit.register(lambda: print("alive after exit", Counting.live, flush=True))
kept = [oscnet.Network().build(3, 2, [(16, "lee")], seed=i) for i in range(3)]
cycle = oscnet.Network().build(2, 1, [(4, "tanh")])
cycle.cycle = cycle
started = threading.Event()
def forever(net):
    try:
        while True:
            net.train([0.1, 0.2, 0.3], [0.0, 1.0], iterations=200)
            started.set()
    except oscnet.OscnetError:
        pass
threading.Thread(target=forever, args=(kept[0],), daemon=True).start()
started.wait()
print("alive", Counting.live, flush=True)
"""
        package_parent = os.path.dirname(os.path.dirname(oscnet.__file__))
        environment = dict(os.environ, PYTHONPATH=package_parent)
        result = subprocess.run(
            [sys.executable, "-c", script], env=environment, capture_output=True, text=True,
            timeout=60,
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.stdout.splitlines(), ["alive 4", "alive after exit 0"])


class ArgumentTest(LibraryTestCase):
    def test_wrong_lengths_raise_value_error_and_change_nothing(self):
        with build_small(oscnet.Network()) as net:
            net.train(X3, Y2, iterations=1)
            params = net.get_params()
            output = net.predict(X3)
            calls = {
                "predict short": lambda: net.predict(X3[:2]),
                "predict long": lambda: net.predict(X3 + [1.0]),
                "train x": lambda: net.train([9.0, 9.0], Y2, iterations=5),
                "train y": lambda: net.train([9.0, 9.0, 9.0], [1.0, 2.0, 3.0], iterations=5),
                "set_params": lambda: net.set_params([1.0] * (len(params) - 1)),
            }
            for name, call in calls.items():
                with self.subTest(name), self.assertRaises(ValueError):
                    call()
            self.assertTrue(net.built)
            self.assertEqual(net.get_params(), params)
            self.assertEqual(net.predict(X3), output)

    def test_bad_descriptions_are_refused_before_the_library_is_called(self):
        cases = {
            "zero units": ((2, 1, [(0, "relu")]), ValueError),
            "zero inputs": ((0, 1, [(2, "relu")]), ValueError),
            "zero outputs": ((2, 0, [(2, "relu")]), ValueError),
            "inputs beyond int": ((2**31, 1, [(2, "relu")]), ValueError),
            "no layers": ((2, 1, []), ValueError),
            "unknown activation": ((2, 1, [(2, "swish")]), ValueError),
            "unknown code": ((2, 1, [(2, 7)]), ValueError),
            "float units": ((2, 1, [(2.0, "relu")]), TypeError),
            "bool units": ((2, 1, [(True, "relu")]), TypeError),
            "string inputs": (("2", 1, [(2, "relu")]), TypeError),
            "layer not a pair": ((2, 1, [2]), TypeError),
            "layers a string": ((2, 1, "relu"), TypeError),
            "negative seed": ((2, 1, [(2, "relu")], -1), ValueError),
            "seed beyond 32 bits": ((2, 1, [(2, "relu")], 2**32), ValueError),
            "float seed": ((2, 1, [(2, "relu")], 1.0), TypeError),
            "bool seed": ((2, 1, [(2, "relu")], True), TypeError),
            "string seed": ((2, 1, [(2, "relu")], "7"), TypeError),
        }
        for name, (arguments, error) in cases.items():
            with self.subTest(name), self.assertRaises(error):
                oscnet.Network().build(*arguments)
        self.assertEqual(self.library.created, 0)

    def test_bad_training_arguments(self):
        with build_hand_worked(oscnet.Network()) as net:
            cases = {
                "unknown optimizer": (dict(optimizer="sgd"), ValueError),
                "optimizer code": (dict(optimizer=1), TypeError),
                "zero iterations": (dict(iterations=0), ValueError),
                "negative iterations": (dict(iterations=-1), ValueError),
                "iterations beyond int": (dict(iterations=2**31), ValueError),
                "float iterations": (dict(iterations=2.0), TypeError),
                "text learning rate": (dict(learning_rate="0.1"), TypeError),
                "bool learning rate": (dict(learning_rate=True), TypeError),
            }
            for name, (keywords, error) in cases.items():
                with self.subTest(name), self.assertRaises(error):
                    net.train(HAND_X, [6.0], **keywords)
            with self.assertRaises(TypeError):
                net.predict(["1", 2.0])
            with self.assertRaises(TypeError):
                net.predict("12")
            self.assertEqual(net.get_params(), HAND_PARAMS)
            self.assertNotIn("oscnet_train", self.library.seen)

    def test_networks_too_large_are_refused_quickly(self):
        # Too many weights for any machine (the library's estimate saturates).
        with self.assertRaisesRegex(oscnet.OscnetError, "refused"):
            oscnet.Network().build(2, 1, [(2**30, "relu"), (2**30, "relu")])
        started = time.monotonic()
        with self.assertRaises(oscnet.OscnetError):
            oscnet.Network().build(2**31 - 1, 1, [(2**31 - 1, "relu")])
        self.assertLess(time.monotonic() - started, 10.0)
        self.assertEqual(self.library.created, 0)
