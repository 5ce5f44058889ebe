"""--predict with --load: rows without targets, and the predictions file --output writes."""

import csv
import json
import math
import os
import unittest

from cli_support import Workspace, run, sin_rows

# No oscillator layer: its random draws would make two evaluations of one network differ.
STEADY = ("--layers", "5:tanh", "--lr", 0.05, "--epochs", 5, "--quiet")


def read_csv(path):
    with open(path, encoding="utf-8") as stream:
        return list(csv.reader(stream))


class Predict(Workspace):
    def setUp(self):
        super().setUp()
        self.rows = sin_rows(50)
        lines = ["id,x1,x2,y"] + [f"r{i},{x1!r},{x2!r},{y!r}"
                                  for i, (x1, x2, y) in enumerate(self.rows)]
        self.data = self.write_text("train.csv", "\n".join(lines) + "\n")
        self.weights = self.path("w.json")
        self.tested = self.path("tested.csv")
        self.run_ok("--data", self.data, *STEADY, "--save", self.weights, "--output", self.tested)

    def test_the_weights_file_names_the_columns(self):
        with open(self.weights, encoding="utf-8") as stream:
            document = json.load(stream)
        self.assertEqual(document["input_names"], ["x1", "x2"])
        self.assertEqual(document["target_names"], ["y"])
        self.assertNotIn("class_names", document)

    def test_new_rows_by_name_give_what_the_training_run_wrote_for_them(self):
        tested = read_csv(self.tested)
        self.assertEqual(tested[0], ["x1", "x2", "y (true)", "y"])
        self.assertEqual(len(tested) - 1, 10)
        # The same rows, columns in another order, with a text column and no target.
        lines = ["x2,label,x1"] + [f"{x2},row {i},{x1}" for i, (x1, x2, _, _) in
                                   enumerate(tested[1:])]
        new = self.write_text("new.csv", "\n".join(lines) + "\n")
        result = self.run_ok("--predict", new, "--load", self.weights)
        written = list(csv.reader(result.out.splitlines()))
        self.assertEqual(written[0], ["x1", "x2", "y"])
        for (x1, x2, _, expected), (a, b, predicted) in zip(tested[1:], written[1:]):
            self.assertEqual((a, b), (x1, x2))
            self.assertTrue(math.isclose(float(predicted), float(expected), rel_tol=1e-9,
                                         abs_tol=1e-12), (predicted, expected))
        out = self.path("predicted.csv")
        result = self.run_ok("--predict", new, "--load", self.weights, "--output", out)
        self.assertEqual(result.out, f"predictions of 10 rows written to {out}\n")
        self.assertEqual(read_csv(out), written)

    def test_a_missing_column_or_bad_cell_is_named(self):
        missing = self.write_text("missing.csv", "x1,x3\n1,2\n")
        self.assert_bad_input(run("--predict", missing, "--load", self.weights),
                              "missing.csv has no column 'x2', an input of the network in "
                              f"{self.weights}")
        bad = self.write_text("bad.csv", "x1,x2\n1,2\n3,four\n")
        self.assert_bad_input(run("--predict", bad, "--load", self.weights),
                              "bad.csv, line 3, column 2 (x2): 'four' is not a number")

    def test_a_file_without_names_predicts_from_every_numeric_column(self):
        with open(self.weights, encoding="utf-8") as stream:
            document = json.load(stream)
        for key in ("input_names", "target_names"):
            del document[key]
        old = self.path("old.json")
        with open(old, "w", encoding="utf-8") as stream:
            json.dump(document, stream)
        new = self.write_text("new.csv", "when,a,b\nmon,0.5,0.25\ntue,1,-1\n")
        result = self.run_ok("--predict", new, "--load", old)
        written = list(csv.reader(result.out.splitlines()))
        self.assertEqual(written[0], ["a", "b", "predicted"])
        self.assertEqual(len(written), 3)
        three = self.write_text("three.csv", "a,b,c\n1,2,3\n")
        self.assert_bad_input(run("--predict", three, "--load", old),
                              "holds a network of 2 inputs", "3 input columns")

    def test_options_that_do_not_go_with_predicting_are_refused(self):
        new = self.write_text("new.csv", "x1,x2\n1,2\n")
        self.assert_bad_input(run("--predict", new), "--predict needs --load")
        self.assert_bad_input(run("--predict", new, "--load", self.weights, "--data", self.data),
                              "--predict does not go with --data")
        self.assert_bad_input(run("--predict", new, "--load", self.weights, "--output", new),
                              "--output", "is the file given to --predict")
        self.assert_bad_input(run("--data", self.data, "--output", self.data), "--output",
                              "is the file given to --data")
        self.assertTrue(os.path.exists(new))

    def test_a_classification_writes_the_predicted_label_last(self):
        lines = ["a,b,kind"] + [f"{x1},{x2},{'up' if y > 0 else 'down'}"
                                for x1, x2, y in self.rows]
        data = self.write_text("kinds.csv", "\n".join(lines) + "\n")
        weights = self.path("kinds.json")
        self.run_ok("--data", data, *STEADY, "--classify", "kind", "--save", weights)
        with open(weights, encoding="utf-8") as stream:
            self.assertEqual(json.load(stream)["class_names"], ["down", "up"])
        new = self.write_text("new.csv", "a,b\n1.5,0\n-1.5,0\n")
        result = self.run_ok("--predict", new, "--load", weights, "--classify", "kind")
        written = list(csv.reader(result.out.splitlines()))
        self.assertEqual(written[0], ["a", "b", "kind"])
        self.assertTrue(all(row[2] in ("down", "up") for row in written[1:]), written)

    def test_a_series_predicts_up_to_its_last_row(self):
        lines = ["day,value"] + [f"d{i},{math.sin(i / 3)!r}" for i in range(40)]
        series = self.write_text("series.csv", "\n".join(lines) + "\n")
        weights = self.path("series.json")
        lags = ("--lags", "2,0", "--horizon", 3, "--time", "day")
        self.run_ok("--data", series, *lags, *STEADY, "--save", weights)
        result = self.run_ok("--predict", series, "--load", weights, *lags)
        written = list(csv.reader(result.out.splitlines()))
        self.assertEqual(written[0], ["day", "value", "value(t+3)"])
        # t = 2 .. 39: the last rows have no target in the file and are predicted all the same.
        self.assertEqual([row[0] for row in written[1:]], [f"d{i}" for i in range(2, 40)])
        self.assert_bad_input(run("--predict", series, "--load", weights, "--lags", "3,0"),
                              "gives no input value(t-2)")
        self.assert_bad_input(run("--predict", series, "--load", weights),
                              "no column 'value(t-2)'", "give --lags, --horizon and --target")


if __name__ == "__main__":
    unittest.main()
