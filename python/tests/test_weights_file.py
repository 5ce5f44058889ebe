"""Saving and loading oscnet-weights JSON files."""

import json
import math
import os
import tempfile

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
)

# The hand-worked network of support.py, written as the format says: the file a C++ trainer
# would write for it.
HAND_FILE = {
    "format": "oscnet-weights",
    "version": 1,
    "inputs": 2,
    "outputs": 1,
    "layers": [{"units": 2, "activation": "relu"}],
    "params": HAND_PARAMS,
}


class WeightsFileTest(LibraryTestCase):
    def setUp(self):
        super().setUp()
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.dir = directory.name

    def path(self, name="net.json"):
        return os.path.join(self.dir, name)

    def write_json(self, document, name="net.json"):
        with open(self.path(name), "w", encoding="utf-8") as stream:
            json.dump(document, stream)
        return self.path(name)

    def test_save_release_load_is_bit_identical(self):
        net = oscnet.Network().build(3, 2, [(8, "relu"), (4, "tanh"), (3, "sigmoid")], seed=6)
        for _ in range(5):
            net.train(X3, Y2, iterations=20, learning_rate=0.1, optimizer="adagrad")
        params, output = net.get_params(), net.predict(X3)
        net.save(self.path())
        net.release()
        self.assertEqual(self.library.live, 0)

        with oscnet.Network.load(self.path()) as loaded:
            self.assertEqual((loaded.inputs, loaded.outputs), (3, 2))
            self.assertEqual(loaded.layers, ((8, "relu"), (4, "tanh"), (3, "sigmoid")))
            self.assertEqual(bits(loaded.get_params()), bits(params))
            self.assertEqual(bits(loaded.predict(X3)), bits(output))

    def test_the_file_has_exactly_the_documented_shape(self):
        with build_hand_worked(oscnet.Network()) as net:
            net.save(self.path())
        with open(self.path(), encoding="utf-8") as stream:
            text = stream.read()
        document = json.loads(text)
        self.assertEqual(
            list(document), ["format", "version", "inputs", "outputs", "layers", "params"]
        )
        self.assertEqual(document, HAND_FILE)
        self.assertNotIn("NaN", text)

    def test_a_file_written_by_hand_loads(self):
        path = self.write_json(HAND_FILE)
        with oscnet.Network.load(path) as net:
            self.assertEqual(net.predict(HAND_X), [HAND_OUTPUT])

    def test_a_file_naming_its_columns_loads(self):
        # As oscnet-train records the columns it trained on.
        document = dict(HAND_FILE, input_names=["x1", "x2"], target_names=["y"],
                        class_names=["only"])
        with oscnet.Network.load(self.write_json(document)) as net:
            self.assertEqual(net.predict(HAND_X), [HAND_OUTPUT])

    def test_awkward_floats_round_trip(self):
        values = [0.1, -0.0, 5e-324, 1.7976931348623157e308, 1 / 3, -2.2250738585072014e-308,
                  123456789.123456789, 1e-300, 2.0**-40]
        with oscnet.Network().build(2, 1, [(2, "none")]) as net:
            net.set_params(values)
            net.save(self.path())
        with oscnet.Network.load(self.path()) as net:
            self.assertEqual(bits(net.get_params()), bits(values))

    def test_non_finite_weights_refuse_to_save(self):
        for bad in (math.nan, math.inf, -math.inf):
            with self.subTest(bad=bad), build_hand_worked(oscnet.Network()) as net:
                params = list(HAND_PARAMS)
                params[4] = bad
                net.set_params(params)
                with self.assertRaisesRegex(ValueError, "weight 4"):
                    net.save(self.path())
                self.assertFalse(os.path.exists(self.path()))

    def test_load_takes_a_seed_for_the_oscillators(self):
        # Two loads with one seed draw alike; the file's weights are the same either way.
        with oscnet.Network().build(3, 2, [(6, "lee"), (3, "tanh")], seed=12) as net:
            net.train(X3, Y2, iterations=10, learning_rate=0.1)
            net.save(self.path())
            params = net.get_params()
        rows = [[0.05 * i, -0.1, 0.02 * i] for i in range(20)]
        outputs = []
        for seed in (40, 40, 41):
            with oscnet.Network.load(self.path(), seed=seed) as loaded:
                self.assertEqual(loaded.seed, seed)
                self.assertEqual(bits(loaded.get_params()), bits(params))
                outputs.append(bits(sum(loaded.predict_rows(rows), [])))
        self.assertEqual(outputs[0], outputs[1])
        self.assertNotEqual(outputs[0], outputs[2])

    def test_loading_leaves_other_networks_alone(self):
        path = self.write_json(HAND_FILE)
        with oscnet.Network().build(3, 2, [(4, "relu")], seed=1) as first:
            before = first.predict(X3)
            with oscnet.Network.load(path) as loaded:
                self.assertEqual(first.predict(X3), before)
                self.assertEqual(loaded.predict(HAND_X), [HAND_OUTPUT])

    def test_save_without_a_network_raises(self):
        with self.assertRaises(oscnet.OscnetError):
            oscnet.Network().save(self.path())

    def test_malformed_files_raise_value_error_naming_the_file(self):
        def changed(**changes):
            document = dict(HAND_FILE)
            document.update(changes)
            return document

        def without(key):
            document = dict(HAND_FILE)
            del document[key]
            return document

        cases = {
            "not json": "{format: oscnet",
            "not utf-8": b"\xff\xfe{}",
            "a list": [HAND_FILE],
            "wrong format": changed(format="oscnet-weight"),
            "version 2": changed(version=2),
            "version true": changed(version=True),
            "version string": changed(version="1"),
            "missing params": without("params"),
            "missing layers": without("layers"),
            "unknown key": changed(comment="hello"),
            "inputs string": changed(inputs="2"),
            "inputs zero": changed(inputs=0),
            "inputs float": changed(inputs=2.0),
            "outputs beyond int": changed(outputs=2**31),
            "layers empty": changed(layers=[]),
            "layers not a list": changed(layers={"units": 2, "activation": "relu"}),
            "layer as pair": changed(layers=[[2, "relu"]]),
            "layer extra key": changed(layers=[{"units": 2, "activation": "relu", "bias": 1}]),
            "unknown activation": changed(layers=[{"units": 2, "activation": "swish"}]),
            "activation code": changed(layers=[{"units": 2, "activation": 0}]),
            "units float": changed(layers=[{"units": 2.5, "activation": "relu"}]),
            "units zero": changed(layers=[{"units": 0, "activation": "relu"}]),
            "params short": changed(params=HAND_PARAMS[:-1]),
            "params long": changed(params=HAND_PARAMS + [0.0]),
            "params for other layers": changed(layers=[{"units": 3, "activation": "relu"}]),
            "params string": changed(params=HAND_PARAMS[:-1] + ["0.5"]),
            "params bool": changed(params=HAND_PARAMS[:-1] + [True]),
            "params null": changed(params=HAND_PARAMS[:-1] + [None]),
            "params not a list": changed(params=1.0),
            "params NaN": json.dumps(HAND_FILE).replace("-0.5]", "NaN]"),
            "input names too few": changed(input_names=["x1"]),
            "input names not strings": changed(input_names=["x1", 2]),
            "target names not a list": changed(target_names="y"),
            "class names too many": changed(class_names=["a", "b"]),
            "params Infinity": json.dumps(HAND_FILE).replace("-0.5]", "-Infinity]"),
            "params overflow": json.dumps(HAND_FILE).replace("-0.5]", "1e999]"),
        }
        with oscnet.Network().build(3, 2, [(4, "relu")]) as owner:
            params = owner.get_params()
            for name, content in cases.items():
                with self.subTest(name):
                    path = self.path(name.replace(" ", "_") + ".json")
                    if isinstance(content, bytes):
                        with open(path, "wb") as stream:
                            stream.write(content)
                    elif isinstance(content, str):
                        with open(path, "w", encoding="utf-8") as stream:
                            stream.write(content)
                    else:
                        self.write_json(content, os.path.basename(path))
                    with self.assertRaises(ValueError) as caught:
                        oscnet.Network.load(path)
                    self.assertIn(path, str(caught.exception))
            # Nothing was created, and the network held before is untouched.
            self.assertEqual(self.library.created, 1)
            self.assertEqual(owner.get_params(), params)

    def test_a_missing_file_raises_os_error(self):
        with self.assertRaises(FileNotFoundError):
            oscnet.Network.load(self.path("missing.json"))
