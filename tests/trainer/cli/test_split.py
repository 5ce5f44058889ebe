"""--split: held-out rows drawn at random (seeded) for tables, the last ones for series, and the
warning when the test rows make a poor test."""

import csv
import random
import unittest

from cli_support import MEAN, Workspace, mean, rmse, rows_split, run

# No training: the split alone decides the baselines' figures.
UNTRAINED = ("--epochs", 0, "--layers", "2:tanh")


def trend_rows(count, seed=11):
    """A target that grows along the file, so that which rows are held out shows in the mean
    baseline's figures."""
    draw = random.Random(seed)
    return [(draw.uniform(-1, 1), i / 10 + draw.uniform(-0.5, 0.5)) for i in range(count)]


class Split(Workspace):
    def setUp(self):
        super().setUp()
        self.rows = trend_rows(100)
        self.data = self.write_csv("trend.csv", self.rows)

    def mean_baseline(self, *arguments):
        result = self.run_ok("--data", self.data, *UNTRAINED, *arguments)
        return result, result.table()[MEAN]

    def test_a_table_is_split_at_random_and_the_seed_repeats_it(self):
        result, figures = self.mean_baseline()
        self.assertRegex(result.out, r"(?m)^rows      64 for training, 16 for validation, 20 for "
                                     r"testing \(drawn at random, --split random with seed 1\)$")
        self.assertEqual(self.mean_baseline("--split", "random")[1], figures)
        self.assertEqual(self.mean_baseline("--seed", 1)[1], figures)
        self.assertNotEqual(self.mean_baseline("--seed", 2)[1], figures)
        # Drawn from the whole file, the test rows' targets spread as widely as the training
        # rows': predicting the training mean scores near 1. The tail lies beyond them all.
        tail = self.mean_baseline("--split", "tail")[1]
        self.assertLess(figures[3], 1.5)
        self.assertGreater(tail[3], 3 * figures[3])

    def test_tail_holds_out_the_last_rows_validation_before_test(self):
        result, figures = self.mean_baseline("--split", "tail")
        self.assertEqual(rows_split(result.out, validation=True), (64, 16, 20))
        self.assertRegex(result.out, r"(?m)^rows .* 20 for testing \(the last ones, in order\)$")
        training = [row[1] for row in self.rows[:64]]
        test = [row[1] for row in self.rows[80:]]
        self.assert_close(figures[0], rmse([mean(training)] * 64, training), 1e-3)
        self.assert_close(figures[2], rmse([mean(training)] * 20, test), 1e-3)

    def test_the_built_in_series_is_split_in_order_unless_asked(self):
        result = self.run_ok("--epochs", 1, "--quiet")
        self.assertRegex(result.out, r"(?m)^rows      500 for training, 500 for testing "
                                     r"\(the last ones, in order\)$")
        shuffled = self.run_ok("--epochs", 1, "--quiet", "--split", "random")
        self.assertRegex(shuffled.out, r"(?m)^rows .*\(drawn at random, --split random with "
                                       r"seed 1\)$")

    def test_an_unknown_split_is_refused(self):
        for value in ("middle", "Random", "head"):
            with self.subTest(value=value):
                self.assert_bad_input(run("--data", self.data, "--split", value), "--split",
                                      value)

    def test_a_constant_target_on_the_test_rows_is_warned_about(self):
        # Sorted so that the file ends in rows of one target value.
        rows = [(i / 10, float(min(i, 40))) for i in range(50)]
        data = self.write_csv("sorted.csv", rows, header=["x", "level"])
        result = self.run_ok("--data", data, *UNTRAINED, "--split", "tail")
        self.assertIn("oscnet-train: warning: target 'level' is 40 on all 10 test rows, so its "
                      "NRMSE there is not defined; --split random draws the test rows from the "
                      "whole file", result.err)
        drawn = self.run_ok("--data", data, *UNTRAINED)
        self.assertNotIn("warning", drawn.err)


    def test_the_predictions_written_are_of_the_rows_drawn_for_testing(self):
        # Each row's target is ten times its input: the rows written keep them together.
        rows = [(float(i), 10.0 * i) for i in range(50)]
        data = self.write_csv("tens.csv", rows, header=["x", "y"])
        output = self.path("out.csv")
        self.run_ok("--data", data, *UNTRAINED, "--output", output)
        with open(output, encoding="utf-8") as stream:
            written = list(csv.reader(stream))
        self.assertEqual(written[0], ["x", "y (true)", "y"])
        inputs = [float(row[0]) for row in written[1:]]
        self.assertEqual(len(inputs), 10)
        self.assertEqual(inputs, sorted(inputs))
        self.assertNotEqual(inputs, [float(i) for i in range(40, 50)])
        for row in written[1:]:
            self.assertEqual(float(row[1]), 10 * float(row[0]), row)


if __name__ == "__main__":
    unittest.main()
