"""Validation rows and early stopping: the epoch kept, patience, the run kept, divergence caught
early, and the plain note when the network is no better than the mean."""

import math
import random
import re
import unittest

from cli_support import (MEAN, NETWORK, Workspace, progress_lines, rmse, rows_split, run,
                         sin_rows)

QUICK = ("--layers", "8:tanh", "--lr", 0.05)


def epochs_line(out):
    """(epochs run or None when all ran, best validation loss, best epoch) from the report."""
    match = re.search(r"^epochs    (?:stopped after epoch (\d+) of \d+|all \d+ run); best "
                      r"validation loss (\S+) at epoch (\d+), whose weights are kept$", out, re.M)
    if not match:
        raise AssertionError(f"no epochs line in the output:\n{out}")
    return (int(match.group(1)) if match.group(1) else None, float(match.group(2)),
            int(match.group(3)))


def noisy_rows(count, seed=4):
    """sin_rows with noise a small network soon fits: the validation loss turns."""
    draw = random.Random(seed)
    return [(a, b, y + draw.gauss(0, 0.7)) for a, b, y in sin_rows(count, seed)]


class Validation(Workspace):
    def test_a_table_holds_out_a_fifth_of_its_training_rows_and_keeps_the_best_epoch(self):
        data = self.write_csv("sin.csv", sin_rows(100))
        result = self.run_ok("--data", data, *QUICK, "--epochs", 30)
        self.assertEqual(rows_split(result.out, validation=True), (64, 16, 20))
        self.assertRegex(result.out, r"(?m)^training  .*, up to 30 epochs of 1 step per row")
        self.assertRegex(result.out, r"(?m)^stopping  after 500 epochs without a better "
                                     r"validation loss; the best epoch's weights are kept$")
        stopped, loss, best = epochs_line(result.out)
        self.assertIsNone(stopped)
        self.assertTrue(1 <= best <= 30 and loss > 0, result)
        self.assertLess(result.table()[NETWORK][2], 0.5 * result.table()[MEAN][2], result)

    def test_the_weights_kept_are_those_of_the_best_epoch(self):
        # Trained for exactly the best epoch's count, the same run ends with the same weights.
        data = self.write_csv("noisy.csv", noisy_rows(60))
        long = self.run_ok("--data", data, *QUICK, "--epochs", 120, "--patience", 0, "--quiet")
        _, loss, best = epochs_line(long.out)
        self.assertLess(best, 120, long)
        short = self.run_ok("--data", data, *QUICK, "--epochs", best, "--patience", 0, "--quiet")
        self.assertEqual(epochs_line(short.out), (None, loss, best))
        self.assertEqual(short.table(), long.table())

    def test_patience_stops_that_many_epochs_after_the_best(self):
        data = self.write_csv("noisy.csv", noisy_rows(60))
        result = self.run_ok("--data", data, *QUICK, "--epochs", 500, "--patience", 10)
        stopped, _, best = epochs_line(result.out)
        self.assertEqual(stopped, best + 10, result)
        self.assertRegex(result.out, rf"(?m)^epochs    stopped after epoch {stopped} of 500;")
        self.assertEqual(progress_lines(result.err)[-1][0], stopped, result.err)

    def test_the_run_kept_has_the_lowest_validation_loss(self):
        # The runs share the split drawn with --seed; single runs of the other seeds would draw
        # other rows at random, so the rows are split in order here.
        data = self.write_csv("noisy.csv", noisy_rows(60))
        arguments = ("--data", data, *QUICK, "--epochs", 25, "--quiet", "--split", "tail")
        several = self.run_ok(*arguments, "--runs", 3, "--seed", 5)
        kept = re.search(r"(?m)^kept      seed (\d+): the lowest loss on the validation rows, "
                         r"(\S+)$", several.out)
        self.assertIsNotNone(kept, several)
        best = {seed: epochs_line(self.run_ok(*arguments, "--seed", seed).out)[1]
                for seed in (5, 6, 7)}
        self.assertEqual(float(kept.group(2)), min(best.values()), best)
        self.assertEqual(best[int(kept.group(1))], min(best.values()), best)

    def test_a_fraction_of_0_trains_on_every_training_row_without_stopping(self):
        data = self.write_csv("sin.csv", sin_rows(100))
        result = self.run_ok("--data", data, *QUICK, "--epochs", 5, "--validation-fraction", 0)
        self.assertEqual(rows_split(result.out, validation=True), (80, 0, 20))
        self.assertRegex(result.out, r"(?m)^training  .*, 5 epochs of 1 step per row")
        self.assertNotRegex(result.out, r"(?m)^(stopping|epochs) ")
        self.assert_bad_input(run("--data", data, "--validation-fraction", 0, "--patience", 5),
                              "--patience 5")

    def test_bad_fractions_and_patiences_are_refused(self):
        data = self.write_csv("sin.csv", sin_rows(10))
        for value in ("1", "-0.1", "half", "nan"):
            with self.subTest(value=value):
                self.assert_bad_input(run("--data", data, "--validation-fraction", value),
                                      "--validation-fraction")
        for value in ("-1", "2.5", "many"):
            with self.subTest(value=value):
                self.assert_bad_input(run("--data", data, "--patience", value), "--patience")
        # 8 training rows: a fraction too small for one row, or too large to leave any.
        self.assert_bad_input(run("--data", data, "--validation-fraction", 0.01), "sin.csv",
                              "--validation-fraction 0")
        self.assert_bad_input(run("--data", data, "--validation-fraction", 0.99), "sin.csv",
                              "too few rows to train on")

    def test_a_loss_grown_a_millionfold_stops_training_with_a_hint(self):
        # Unscaled targets 30 times the inputs and a linear layer: each step overshoots more.
        rows = []
        for r in range(20):
            x1 = -1 + 2 * ((r * 13) % 20) / 19
            x2 = ((r * 7) % 11) / 10
            rows.append((x1, x2, 30 * (math.sin(3 * x1) + x2 / 2)))
        data = self.write_csv("steep.csv", rows)
        result = run("--data", data, "--split", "tail", "--no-scale", "--layers", "2:none",
                     "--lr", 0.025, "--epochs", 300, "--validation-fraction", 0.25, "--in-order")
        self.assertEqual(result.status, 1, result)
        self.assertRegex(result.err, r"oscnet-train: training diverged: the loss grew from \S+ "
                                     r"in the first epoch to \S+ in epoch \d+; try a smaller --lr")
        self.assertLess(len(progress_lines(result.err)), 10, result.err)

    def test_a_network_no_better_than_the_mean_says_so(self):
        # Untrained, the network predicts about the middle of the targets' range, far from the
        # mean of targets bunched at one end.
        draw = random.Random(2)
        rows = [(draw.uniform(-1, 1), draw.expovariate(1.0) ** 3) for _ in range(60)]
        data = self.write_csv("skewed.csv", rows)
        result = self.run_ok("--data", data, "--epochs", 0)
        self.assertIn("On the validation rows the network does no better than always predicting "
                      "the mean of the training targets", result.out)
        trained = self.run_ok("--data", self.write_csv("sin.csv", sin_rows(100)), *QUICK,
                              "--epochs", 20, "--quiet")
        self.assertNotIn("does no better", trained.out)


if __name__ == "__main__":
    unittest.main()
