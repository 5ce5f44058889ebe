"""The Network class against the real library: results, errors, and the one-network guard."""

import gc
import math
import time

from .support import (
    HAND_OUTPUT,
    HAND_PARAMS,
    HAND_X,
    X3,
    Y2,
    LibraryTestCase,
    build_hand_worked,
    oscnet,
    raw,
)


def build_small(net):
    """3 inputs -> 8 relu -> 4 tanh -> 2 outputs: no Lee layer, so deterministic once built."""
    return net.build(3, 2, [(8, "relu"), (4, "tanh")], X3, Y2)


class HandWorkedTest(LibraryTestCase):
    def test_predict_gives_the_value_worked_by_hand(self):
        with build_hand_worked(oscnet.Network()) as net:
            self.assertEqual(net.param_count, 9)
            self.assertEqual(net.get_params(), HAND_PARAMS)
            self.assertEqual(net.predict(HAND_X), [HAND_OUTPUT])
            # x = [0, -1]: x W1 = [-0.5, 2]; + b1 = [-0.25, 2.5]; relu = [0, 2.5]; 17.5 - 0.5.
            self.assertEqual(net.predict([0.0, -1.0]), [17.0])

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
            # Zero iterations return the loss of the last evaluation, before the step.
            self.assertEqual(net.train(HAND_X, [6.0], iterations=0), 0.0625)

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
            self.assertTrue(math.isnan(net.train(X3, Y2, iterations=0)))  # nothing evaluated yet
            self.assertTrue(all(map(math.isnan, net.predict([math.nan, 0.0, 0.0]))))
            self.assertTrue(math.isnan(net.train([math.nan, 0.0, 0.0], Y2, iterations=1)))
            net.set_params([math.inf] * net.param_count)  # taken as they are
            self.assertTrue(math.isinf(net.get_params()[0]))


class OneNetworkPerProcessTest(LibraryTestCase):
    def test_a_second_build_replaces_the_first_objects_network(self):
        first = build_small(oscnet.Network())
        second = build_hand_worked(oscnet.Network())
        self.assertFalse(first.built)
        self.assertTrue(second.built)
        for call in (
            lambda: first.predict(X3),
            lambda: first.train(X3, Y2),
            first.get_params,
            lambda: first.set_params([0.0] * 78),
            lambda: first.param_count,
        ):
            with self.assertRaisesRegex(oscnet.OscnetError, "replaced by another build"):
                call()
        # Releasing the replaced object leaves the other one's network alone.
        first.release()
        self.assertEqual(second.predict(HAND_X), [HAND_OUTPUT])
        # Building again takes the library back.
        build_small(first)
        with self.assertRaisesRegex(oscnet.OscnetError, "replaced by another build"):
            second.predict(HAND_X)
        first.release()
        self.assertNoNetwork()

    def test_a_refused_build_changes_no_ownership(self):
        with build_hand_worked(oscnet.Network()) as owner:
            other = oscnet.Network()
            with self.assertRaisesRegex(oscnet.OscnetError, "refused"):
                other.build(2, 1, [(2**30, "relu"), (2**30, "relu")])
            self.assertFalse(other.built)
            self.assertTrue(owner.built)
            self.assertEqual(owner.predict(HAND_X), [HAND_OUTPUT])

    def test_direct_library_calls_are_noticed(self):
        net = build_hand_worked(oscnet.Network())
        raw().release_net()
        with self.assertRaisesRegex(oscnet.OscnetError, "direct calls"):
            net.predict(HAND_X)

    def test_context_manager_releases(self):
        with build_hand_worked(oscnet.Network()) as net:
            self.assertEqual(raw().oscnet_param_count(), 9)
        self.assertNoNetwork()
        self.assertFalse(net.built)
        with self.assertRaises(KeyError):
            with build_hand_worked(oscnet.Network()):
                raise KeyError("inside")
        self.assertNoNetwork()

    def test_release_is_safe_twice_and_methods_then_raise(self):
        net = build_hand_worked(oscnet.Network())
        net.release()
        net.release()
        self.assertNoNetwork()
        with self.assertRaisesRegex(oscnet.OscnetError, "build"):
            net.predict(HAND_X)
        with self.assertRaisesRegex(oscnet.OscnetError, "build"):
            oscnet.Network().get_params()
        # The description of the last build stays readable.
        self.assertEqual((net.inputs, net.outputs, net.layers), (2, 1, ((2, "relu"),)))

    def test_a_collected_owner_releases_its_network(self):
        build_hand_worked(oscnet.Network())
        gc.collect()
        self.assertNoNetwork()


class ArgumentTest(LibraryTestCase):
    def test_wrong_lengths_raise_value_error_and_change_nothing(self):
        with build_small(oscnet.Network()) as net:
            held = net.train(X3, Y2, iterations=1)
            params = net.get_params()
            output = net.predict(X3)
            calls = {
                "predict short": lambda: net.predict(X3[:2]),
                "predict long": lambda: net.predict(X3 + [1.0]),
                "train x": lambda: net.train([9.0, 9.0], Y2, iterations=5),
                "train y": lambda: net.train([9.0, 9.0, 9.0], [1.0, 2.0, 3.0], iterations=5),
                "set_params": lambda: net.set_params([1.0] * (len(params) - 1)),
                "build example": lambda: net.build(3, 2, [(5, "relu")], [1.0], Y2),
                "build target": lambda: oscnet.Network().build(3, 2, [(5, "relu")], X3, [1.0]),
            }
            for name, call in calls.items():
                with self.subTest(name), self.assertRaises(ValueError):
                    call()
            self.assertTrue(net.built)
            self.assertEqual(net.get_params(), params)
            self.assertEqual(net.predict(X3), output)
            # No example was written: the held loss is still the one of the last evaluation.
            self.assertEqual(net.train(X3, Y2, iterations=0), held)

    def test_bad_descriptions_are_refused_before_the_library_is_called(self):
        with build_hand_worked(oscnet.Network()) as owner:
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
            }
            for name, (arguments, error) in cases.items():
                with self.subTest(name), self.assertRaises(error):
                    oscnet.Network().build(*arguments)
            self.assertEqual(owner.predict(HAND_X), [HAND_OUTPUT])

    def test_bad_training_arguments(self):
        with build_hand_worked(oscnet.Network()) as net:
            with self.assertRaises(ValueError):
                net.train(HAND_X, [6.0], optimizer="sgd")
            with self.assertRaises(TypeError):
                net.train(HAND_X, [6.0], optimizer=1)
            with self.assertRaises(ValueError):
                net.train(HAND_X, [6.0], iterations=-1)
            with self.assertRaises(TypeError):
                net.train(HAND_X, [6.0], learning_rate="0.1")
            with self.assertRaises(TypeError):
                net.predict(["1", 2.0])
            with self.assertRaises(TypeError):
                net.predict("12")
            self.assertEqual(net.get_params(), HAND_PARAMS)

    def test_networks_too_large_are_refused_quickly(self):
        # Too many weights for any machine (the library's estimate saturates).
        with self.assertRaisesRegex(oscnet.OscnetError, "refused.*memory"):
            oscnet.Network().build(2, 1, [(2**30, "relu"), (2**30, "relu")])
        # The widest input the C int allows: the zero example row must not be materialised
        # (16 GiB) before the library refuses the network.
        started = time.monotonic()
        with self.assertRaises(oscnet.OscnetError):
            oscnet.Network().build(2**31 - 1, 1, [(2**31 - 1, "relu")])
        self.assertLess(time.monotonic() - started, 10.0)
        self.assertNoNetwork()
