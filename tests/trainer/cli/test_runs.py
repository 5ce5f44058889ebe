"""--runs and --jobs: several seeds trained side by side, reported run by run."""

import math
import os
import re
import unittest

from cli_support import NETWORK, Workspace, parse_runs, progress_lines, run

# A few epochs of the built-in series, with an oscillator layer that makes every run draw at
# random.
SHORT = ("--epochs", 25, "--layers", "16:tanh,8:lee")


def statistics(values):
    mean = sum(values) / len(values)
    deviation = math.sqrt(sum((v - mean) ** 2 for v in values) / (len(values) - 1))
    return mean, deviation


class Runs(Workspace):
    def runs_ok(self, *arguments):
        return self.run_ok("--quiet", *SHORT, *arguments)

    def test_the_output_does_not_depend_on_the_threads(self):
        for extra in ((), ("--shuffle", "--optimizer", "adagrad", "--lr", 0.02)):
            with self.subTest(extra=extra):
                one = self.runs_ok("--runs", 4, "--seed", 3, *extra, "--jobs", 1).out
                for jobs in (2, 4, 0):
                    self.assertEqual(
                        self.runs_ok("--runs", 4, "--seed", 3, *extra, "--jobs", jobs).out, one)

    def test_each_run_is_the_single_run_of_its_seed_and_the_kept_one_trained_best(self):
        result = self.runs_ok("--runs", 3, "--seed", 11, "--jobs", 3)
        self.assertRegex(result.out, r"(?m)^training  .*, seeds 11 to 13$")
        runs, _, _, kept = parse_runs(result.out)
        self.assertEqual(sorted(runs), [11, 12, 13])
        for seed, figures in runs.items():
            single = self.runs_ok("--seed", seed)
            self.assertEqual(single.table()[NETWORK], figures, f"seed {seed}")
            if seed == kept:
                # The full table is that of the run kept, as a single run prints it.
                self.assertEqual(result.table(), single.table())
        # One target: the loss the runs are compared by orders them as their training RMSE.
        self.assertEqual(runs[kept][0], min(figures[0] for figures in runs.values()), result)
        self.assertEqual(len({tuple(figures) for figures in runs.values()}), 3, result)

    def test_mean_and_standard_deviation_are_those_of_the_lines(self):
        runs, mean, deviation, _ = parse_runs(self.runs_ok("--runs", 5).out)
        self.assertEqual(sorted(runs), [1, 2, 3, 4, 5])
        for column in range(4):
            own_mean, own_deviation = statistics([figures[column] for figures in runs.values()])
            # The lines are rounded to four digits.
            self.assert_close(mean[column], own_mean, 1e-3, f"mean, column {column + 1}")
            self.assert_close(deviation[column], own_deviation, 2e-2,
                              f"deviation, column {column + 1}")

    def test_the_run_kept_is_saved_and_plotted_and_plotting_changes_nothing(self):
        weights, plot = self.path("kept.json"), self.path("kept.svg")
        plain = self.runs_ok("--runs", 3, "--jobs", 2)
        saved = self.runs_ok("--runs", 3, "--jobs", 2, "--save", weights, "--plot", plot)
        self.assertTrue(saved.out.startswith(plain.out), saved)
        self.assertTrue(os.path.getsize(plot) > 0)
        _, _, _, kept = parse_runs(saved.out)
        # Loaded with its seed, the file gives the kept run's figures again, oscillator and all.
        loaded = self.run_ok("--quiet", "--load", weights, "--seed", kept).table()
        for shown, again in zip(saved.table()[NETWORK], loaded[NETWORK]):
            self.assert_close(again, shown, 1e-6, "loaded")

    def test_one_combined_progress_line_a_second_in_a_pipe(self):
        result = self.run_ok("--runs", 3, "--jobs", 2, *SHORT)
        lines = result.err.splitlines()
        pattern = re.compile(r"^runs (\d)/3 done, (\d+)% of the epochs  elapsed \S+  left \S+$")
        matches = [pattern.match(line) for line in lines]
        self.assertTrue(all(matches), result.err)
        self.assertLessEqual(len(lines), int(result.seconds) + 2)
        percents = [int(match.group(2)) for match in matches]
        self.assertEqual(percents, sorted(percents))
        self.assertEqual((matches[-1].group(1), percents[-1]), ("3", 100))
        # Not the single run's line per epoch.
        self.assertEqual(progress_lines(result.err), [])

    def test_a_single_run_prints_as_it_always_has(self):
        result = self.runs_ok("--runs", 1, "--jobs", 4)
        self.assertNotRegex(result.out, r"(?m)^runs |^kept ")
        self.assertRegex(result.out, r"(?m)^training  .*, seed 1$")

    def test_bad_values_are_refused(self):
        for arguments, fragment in ((("--jobs", -1), "--jobs"), (("--jobs", "x"), "--jobs"),
                                    (("--jobs", 1025), "--jobs"), (("--runs", 0), "--runs"),
                                    (("--runs", 100001), "--runs"), (("--runs", ""), "--runs"),
                                    (("--seed", 4294967295, "--runs", 2), "4294967295")):
            with self.subTest(arguments=arguments):
                self.assert_bad_input(run(*arguments), fragment)

    def test_a_failure_names_the_first_failing_seed_whatever_the_threads(self):
        rows = [(x / 10, 1e6 * x) for x in range(-20, 20)]
        data = self.write_csv("huge.csv", rows)
        messages = set()
        for jobs in (1, 3):
            result = run("--data", data, "--no-scale", "--lr", 10, "--epochs", 20, "--layers",
                         "4:none", "--runs", 3, "--seed", 5, "--jobs", jobs, "--quiet")
            self.assertEqual(result.status, 1, result)
            self.assertTrue(result.err.startswith("oscnet-train: seed 5: training diverged"),
                            result)
            self.assertNotIn("RMSE", result.out)
            messages.add(result.err)
        self.assertEqual(len(messages), 1, messages)


if __name__ == "__main__":
    unittest.main()
