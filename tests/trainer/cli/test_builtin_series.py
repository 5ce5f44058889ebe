"""The built-in Mackey-Glass forecast, progress display and the repeatability of a run."""

import math
import os
import re
import subprocess
import unittest

from cli_support import (MEAN, NETWORK, PERSISTENCE, REPOSITORY, TIMEOUT, Workspace,
                         assert_paced_progress, mackey_glass_rows, command, mean, progress_lines, rmse, nrmse, run,
                         rows_split)


class DefaultRun(Workspace):
    def test_no_arguments_forecasts_the_series_far_better_than_the_baselines(self):
        # Where the program runs slowly (sanitizers, an emulator) a tenth of the epochs take the
        # same paths and still reach the margins below.
        epochs = 400 if os.environ.get("OSCNET_TRAIN_SLOW") == "1" else 4000
        result = self.run_ok(*(("--epochs", epochs) if epochs != 4000 else ()))
        self.assertEqual(rows_split(result.out), (500, 500))
        self.assertRegex(result.out, r"4 inputs -> 16 tanh -> 8 tanh -> 1 output")
        self.assertRegex(result.out, r"gradient descent, learning rate 0\.001\b")

        # stderr is a pipe here: plain lines, at most one a second, not one per epoch.
        assert_paced_progress(self, result, epochs)
        self.assertTrue(all(total == epochs for _, total, _ in progress_lines(result.err)))

        table = result.table()
        self.assertEqual(set(table), {NETWORK, MEAN, PERSISTENCE})

        # The baselines from a series integrated here. The series is chaotic, so a detail such
        # as the history's value at the step that reaches t = 0 changes the individual values;
        # error figures over 500 rows move by well under 2 %.
        rows = mackey_glass_rows()
        training, test = rows[:500], rows[500:]
        training_targets = [target for _, target in training]
        test_targets = [target for _, target in test]
        centre = mean(training_targets)
        expected = {
            MEAN: [rmse([centre] * 500, training_targets), nrmse([centre] * 500, training_targets),
                   rmse([centre] * 500, test_targets), nrmse([centre] * 500, test_targets)],
            PERSISTENCE: [rmse([x[3] for x, _ in training], training_targets),
                          nrmse([x[3] for x, _ in training], training_targets),
                          rmse([x[3] for x, _ in test], test_targets),
                          nrmse([x[3] for x, _ in test], test_targets)],
        }
        for name, figures in expected.items():
            self.assertEqual(len(table[name]), 4, result)
            for column, (shown, own) in enumerate(zip(table[name], figures)):
                self.assert_close(shown, own, 0.02, f"{name}, column {column + 1}")

        network = table[NETWORK]
        self.assertTrue(all(math.isfinite(value) for value in network), result)
        self.assertLess(network[3], 0.2, result)
        # By a wide margin: at most half the RMSE of either baseline, on both row sets.
        for baseline in (MEAN, PERSISTENCE):
            self.assertLess(network[0], 0.5 * table[baseline][0], result)
            self.assertLess(network[2], 0.5 * table[baseline][2], result)

        # The README shows this run; where the build computes as the documented one does, the
        # two must agree to the letter.
        if os.environ.get("OSCNET_README_FIGURES") == "1":
            with open(os.path.join(REPOSITORY, "README.md"), encoding="utf-8") as stream:
                readme = stream.read()
            shown = re.search(r"```text\n(oscnet-train .*?)```", readme, re.S)
            self.assertIsNotNone(shown, "no oscnet-train output in README.md")
            self.assertEqual(shown.group(1), result.out)


class Progress(Workspace):
    def test_plain_lines_when_stderr_is_not_a_terminal(self):
        result = self.run_ok("--epochs", 5)
        assert_paced_progress(self, result, 5)
        progress = progress_lines(result.err)
        self.assertTrue(all(total == 5 for _, total, _ in progress), result)
        self.assertTrue(all(math.isfinite(loss) and loss >= 0 for _, _, loss in progress))
        self.assertNotIn("\r", result.err)
        # Progress goes to stderr only; the report to stdout.
        self.assertEqual(progress_lines(result.out), [])
        self.assertIn(NETWORK, result.table())

    def test_quiet_prints_no_progress(self):
        result = self.run_ok("--epochs", 3, "--quiet")
        self.assertEqual(result.err, "")
        self.assertIn(NETWORK, result.table())

    def test_a_bar_redrawn_in_place_on_a_terminal(self):
        master, slave = os.openpty()
        try:
            process = subprocess.Popen(command("--epochs", "40"), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=slave)
        finally:
            os.close(slave)
        chunks = []
        try:
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: the program closed the terminal
                    break
                if not chunk:
                    break
                chunks.append(chunk)
        finally:
            os.close(master)
        out = process.stdout.read().decode()
        process.stdout.close()
        self.assertEqual(process.wait(timeout=TIMEOUT), 0, out)
        shown = b"".join(chunks).decode(errors="replace")

        self.assertIn("\repoch ", shown)
        self.assertIn("left", shown)
        self.assertIn("epoch 40/40", shown)
        # A bar, not a line per pass (the terminal turns "\n" into "\r\n").
        self.assertNotIn("\nepoch", shown)
        self.assertLess(shown.count("\n"), 3, repr(shown))
        self.assertTrue(shown.endswith("\n"), repr(shown))
        # Each redraw clears what an earlier, longer one left, and fits 80 columns: a line
        # that wraps cannot be redrawn in place.
        for redraw in shown.strip().split("\r"):
            if redraw:
                self.assertTrue(redraw.endswith("\x1b[K"), repr(redraw))
                self.assertLess(len(redraw), 80, repr(redraw))
        self.assertIn(NETWORK, out)


class Repeatability(Workspace):
    def network_row(self, *arguments):
        return self.run_ok("--quiet", "--epochs", 3, *arguments).table()

    def test_the_same_seed_repeats_a_run_and_another_seed_changes_it(self):
        first = self.network_row("--seed", 5)
        again = self.network_row("--seed", 5)
        other = self.network_row("--seed", 6)
        self.assertEqual(first, again)
        self.assertNotEqual(first[NETWORK], other[NETWORK])
        # Only the network depends on the seed.
        self.assertEqual(first[MEAN], other[MEAN])
        self.assertEqual(first[PERSISTENCE], other[PERSISTENCE])

    def test_shuffled_runs_repeat_with_their_seed(self):
        first = self.network_row("--shuffle", "--seed", 9)
        again = self.network_row("--shuffle", "--seed", 9)
        in_order = self.network_row("--in-order", "--seed", 9)
        self.assertEqual(first, again)
        self.assertNotEqual(first[NETWORK], in_order[NETWORK])

    def test_plotting_does_not_change_what_is_trained(self):
        # The plot is a picture of the run; with it the same seed must still give the same
        # network (the oscillator layer's random draws are involved here).
        oscillator = ("--layers", "16:tanh,8:lee", "--seed", 4)
        plain = self.network_row(*oscillator)
        plotted = self.network_row(*oscillator, "--plot", self.path("run.svg"))
        self.assertTrue(os.path.exists(self.path("run.svg")))
        self.assertEqual(plain[NETWORK], plotted[NETWORK])


class HelpAndVersion(Workspace):
    def test_help_lists_every_option_and_exits_0(self):
        for flag in ("--help", "-h"):
            result = run(flag)
            self.assertEqual(result.status, 0, result)
            self.assertIn("Usage", result.out)
            for option in ("--data", "--targets", "--layers", "--optimizer", "--lr", "--epochs",
                           "--iterations", "--test-fraction", "--shuffle", "--in-order",
                           "--seed", "--no-scale", "--runs", "--jobs", "--quiet", "--plot",
                           "--save", "--load", "--version"):
                self.assertIn(option, result.out)
            for activation in ("relu", "sigmoid", "tanh", "lee", "none"):
                self.assertIn(activation, result.out)
            # Nothing trained.
            self.assertNotIn("RMSE", result.out)
            self.assertEqual(progress_lines(result.err), [])

    def test_version_is_the_library_header_version(self):
        with open(os.path.join(REPOSITORY, "include", "oscnet.h"), encoding="utf-8") as header:
            version = re.search(r'#define OSCNET_VERSION_STRING "([^"]+)"', header.read())
        self.assertIsNotNone(version)
        result = run("--version")
        self.assertEqual(result.status, 0, result)
        self.assertEqual(result.out.strip(), f"oscnet-train {version.group(1)}")


if __name__ == "__main__":
    unittest.main()
