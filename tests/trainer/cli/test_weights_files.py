"""--save and --load, and the weights files shared with the Python package."""

import json
import math
import random
import unittest

from cli_support import (MEAN, NETWORK, TAIL_SPLIT, Workspace, assert_paced_progress,
                         needs_python_package,
                         progress_lines, rmse, run, sin_rows, split_at)

# No oscillator layer: its random draws would make two evaluations of one network differ.
STEADY_LAYERS = "6:tanh,4:relu"


def read_weights(path):
    """The file through the Python package's own reader (pure Python, no library needed)."""
    from oscnet import _weights
    return _weights.read(path)


class SaveAndLoad(Workspace):
    def setUp(self):
        super().setUp()
        self.rows = sin_rows(200)
        self.data = self.write_csv("sin.csv", self.rows, header=["x1", "x2", "y"])
        self.weights = self.path("weights.json")

    def train_and_save(self, *extra):
        return self.run_ok("--data", self.data, "--quiet", "--layers", STEADY_LAYERS, "--lr",
                           0.05, "--epochs", 15, "--save", self.weights, *extra)

    def assert_same_figures(self, first, second):
        for a, b in zip(first, second):
            self.assertLessEqual(abs(a - b), 1e-3 * abs(a), (first, second))

    def test_the_file_is_in_the_shared_format(self):
        self.train_and_save()
        with open(self.weights, encoding="utf-8") as stream:
            document = json.load(stream)
        self.assertEqual(document["format"], "oscnet-weights")
        self.assertEqual(document["version"], 1)
        inputs, outputs, layers, params = read_weights(self.weights)
        self.assertEqual((inputs, outputs), (2, 1))
        self.assertEqual(layers, [(6, "tanh"), (4, "relu")])
        self.assertEqual(len(params), (2 + 1) * 6 + (6 + 1) * 4 + (4 + 1) * 1)
        self.assertTrue(all(math.isfinite(value) for value in params))

    def test_loaded_weights_give_the_saved_figures_with_and_without_scaling(self):
        trained = self.train_and_save().table()[NETWORK]
        for extra in ((), ("--no-scale",)):
            with self.subTest(extra=extra):
                result = self.run_ok("--data", self.data, "--load", self.weights, *extra)
                # Epochs default to 0 with --load: no training, no progress.
                self.assertEqual(progress_lines(result.err), [])
                self.assertIn("6 tanh -> 4 relu", result.out)
                self.assert_same_figures(trained, result.table()[NETWORK])

    def test_training_goes_on_from_loaded_weights(self):
        trained = self.train_and_save().table()[NETWORK]
        result = self.run_ok("--data", self.data, "--load", self.weights, "--epochs", 3,
                             "--lr", 0.05)
        assert_paced_progress(self, result, 3)
        resumed = result.table()[NETWORK]
        self.assertNotEqual(resumed, trained)
        # Already trained: far better than an untrained network would be.
        self.assertLess(resumed[2], 0.5 * result.table()[MEAN][2])

    def test_the_same_layers_may_be_repeated_and_others_are_refused(self):
        self.train_and_save()
        self.run_ok("--data", self.data, "--load", self.weights, "--layers", STEADY_LAYERS)
        result = run("--data", self.data, "--load", self.weights, "--layers", "6:tanh,4:sigmoid")
        self.assert_bad_input(result, "--layers", "weights.json")

    def test_a_network_of_other_widths_is_refused(self):
        self.train_and_save()
        # The series has 4 inputs; the file 2.
        self.assert_bad_input(run("--load", self.weights), "weights.json")
        draw = random.Random(2)
        two_targets = self.write_csv(
            "two.csv", [[draw.random() for _ in range(4)] for _ in range(30)])
        self.assert_bad_input(run("--data", two_targets, "--targets", 2, "--load",
                                  self.weights), "weights.json")

    def test_an_oscillator_network_reloads_with_its_layers(self):
        weights = self.path("series.json")
        self.run_ok("--quiet", "--epochs", 2, "--layers", "16:tanh,8:lee", "--save", weights)
        self.assertEqual(read_weights(weights)[2], [(16, "tanh"), (8, "lee")])
        result = self.run_ok("--load", weights)
        self.assertIn("16 tanh -> 8 lee", result.out)
        self.assertEqual(progress_lines(result.err), [])
        self.assert_bad_input(run("--load", weights, "--layers", "16:tanh,8:relu"), "--layers")

    def test_an_oscillator_network_reloaded_gives_the_figures_it_was_saved_with(self):
        # The oscillator draws at random, but from the seed: evaluating the reloaded network
        # must draw as the run that saved it did.
        weights = self.path("series.json")
        saved = self.run_ok("--quiet", "--epochs", 5, "--layers", "16:tanh,8:lee", "--save",
                            weights).table()
        loaded = self.run_ok("--quiet", "--load", weights).table()
        for name in (NETWORK, MEAN):
            for column in range(4):
                self.assert_close(loaded[name][column], saved[name][column], 1e-6, name)

    def test_weights_too_large_for_the_data_are_bad_input(self):
        weights = self.path("huge.json")
        self.run_ok("--quiet", "--epochs", 1, "--layers", "4:tanh", "--save", weights)
        with open(weights, encoding="utf-8") as stream:
            document = json.load(stream)
        document["params"][-1] = 1e308  # the output bias, scaled up past the doubles
        with open(weights, "w", encoding="utf-8") as stream:
            json.dump(document, stream)
        self.assert_bad_input(run("--load", weights), weights)

    def test_finite_weights_too_large_for_the_data_are_bad_input_before_training(self):
        data = self.write_csv("line.csv", [(i, 2 * i, 3 * i) for i in range(1, 11)])
        weights = self.path("big.json")
        params = [0.1] * 8 + [0.0] * 4 + [1e308] * 4 + [0.0]
        with open(weights, "w", encoding="utf-8") as stream:
            json.dump({"format": "oscnet-weights", "version": 1, "inputs": 2, "outputs": 1,
                       "layers": [{"units": 4, "activation": "tanh"}], "params": params}, stream)
        for epochs in (0, 1):
            result = run("--data", data, "--load", weights, "--epochs", epochs)
            self.assert_bad_input(result, weights)
            self.assertNotIn("--lr", result.err)

    def test_saving_over_the_loaded_file_keeps_training_it(self):
        weights = self.path("kept.json")
        self.run_ok("--quiet", "--epochs", 1, "--layers", "4:tanh", "--save", weights)
        first = read_weights(weights)[3]
        self.run_ok("--quiet", "--epochs", 1, "--load", weights, "--save", weights)
        self.assertNotEqual(read_weights(weights)[3], first)

    def test_malformed_weights_files_are_refused(self):
        self.train_and_save()
        with open(self.weights, encoding="utf-8") as stream:
            good = json.load(stream)
        broken = {
            "text.json": "this is not JSON\n",
            "truncated.json": json.dumps(good)[:-40],
            "format.json": json.dumps(dict(good, format="other-weights")),
            "short.json": json.dumps(dict(good, params=good["params"][:-1])),
            "layers.json": json.dumps(dict(good, layers=[{"units": 6, "activation": "swish"},
                                                         {"units": 4, "activation": "relu"}])),
            "string.json": json.dumps(dict(good, params=["0.5"] + good["params"][1:])),
        }
        for name, text in broken.items():
            with self.subTest(name):
                path = self.write_text(name, text)
                self.assert_bad_input(run("--data", self.data, "--load", path), name)
        missing = self.path("missing.json")
        self.assert_bad_input(run("--data", self.data, "--load", missing), missing)


class PythonPackage(Workspace):
    """The trainer's files read by the Python package and the other way round, checked by
    predicting the raw rows in this process."""

    def setUp(self):
        super().setUp()
        self.rows = sin_rows(200, seed=8)
        # Units far from [-1, 1], so that scaling left out of the saved weights would show.
        self.rows = [(10 * a + 50, b - 3, 100 * y + 7) for a, b, y in self.rows]
        self.data = self.write_csv("sin.csv", self.rows)
        self.training, self.test = split_at(self.rows, 0.2)

    def package_rmse(self, network, rows):
        return rmse([network.predict(row[:2])[0] for row in rows], [row[2] for row in rows])

    @needs_python_package
    def test_saved_weights_predict_the_raw_rows_as_the_trainer_reported(self):
        import oscnet
        for extra in (("--lr", 0.05), ("--no-scale", "--lr", 1e-7)):
            with self.subTest(extra=extra):
                weights = self.path("weights.json")
                result = self.run_ok("--data", self.data, *TAIL_SPLIT, "--quiet", "--layers",
                                     STEADY_LAYERS, "--epochs", 10, "--save", weights, *extra)
                table = result.table()
                shown = table[NETWORK]
                if "--no-scale" not in extra:
                    # A trained network, not one whose outputs barely depend on its inputs.
                    self.assertLess(shown[2], 0.3 * table[MEAN][2], result)
                network = oscnet.Network.load(weights)
                try:
                    own = [self.package_rmse(network, self.training),
                           self.package_rmse(network, self.test)]
                finally:
                    network.release()
                self.assertLessEqual(abs(own[0] - shown[0]), 1e-3 * shown[0], (own, shown))
                self.assertLessEqual(abs(own[1] - shown[2]), 1e-3 * shown[2], (own, shown))

    @needs_python_package
    def test_a_file_saved_by_the_package_loads_in_the_trainer(self):
        import oscnet
        weights = self.path("from_python.json")
        draw = random.Random(1)
        with oscnet.Network() as network:
            network.build(2, 1, [(5, "sigmoid"), (3, "tanh")])
            network.set_params([draw.gauss(0, 0.5) for _ in range(network.param_count)])
            for _ in range(3):
                for row in self.training:
                    network.train(row[:2], row[2:], learning_rate=1e-6)
            network.save(weights)
            own = [self.package_rmse(network, self.training),
                   self.package_rmse(network, self.test)]
            params = network.get_params()

        for extra in ((), ("--no-scale",)):
            with self.subTest(extra=extra):
                again = self.path("again.json")
                result = self.run_ok("--data", self.data, *TAIL_SPLIT, "--load", weights, "--save",
                                     again, *extra)
                self.assertIn("5 sigmoid -> 3 tanh", result.out)
                shown = result.table()[NETWORK]
                self.assertLessEqual(abs(own[0] - shown[0]), 1e-3 * own[0], (own, shown))
                self.assertLessEqual(abs(own[1] - shown[2]), 1e-3 * own[1], (own, shown))
                # Saved again untrained: the same weights, to rounding when the scaling was
                # unfolded and folded back.
                resaved = read_weights(again)[3]
                self.assertEqual(len(resaved), len(params))
                for value, original in zip(resaved, params):
                    if extra:
                        self.assertEqual(value, original)
                    else:
                        self.assertLessEqual(abs(value - original), 1e-9 * max(1, abs(original)))


if __name__ == "__main__":
    unittest.main()
