"""--scale: every column to [-1, 1], to mean 0 and deviation 1, or not at all; saved weights
work on the data's own units whichever it was."""

import unittest

from cli_support import MEAN, NETWORK, Workspace, run, sin_rows

QUICK = ("--layers", "8:tanh", "--lr", 0.05, "--epochs", 20, "--quiet")


class Scale(Workspace):
    def setUp(self):
        super().setUp()
        # Units far from [-1, 1], so that a scaling left out shows.
        rows = [(10 * a + 50, b - 3, 100 * y + 7) for a, b, y in sin_rows(120, seed=6)]
        self.data = self.write_csv("sin.csv", rows)

    def test_each_scaling_is_named_and_standard_learns(self):
        names = {"minmax": "every column to [-1, 1] on the training rows",
                 "standard": "every column to mean 0 and deviation 1 on the training rows",
                 "none": "none (--scale none)"}
        for choice, line in names.items():
            with self.subTest(choice=choice):
                result = self.run_ok("--data", self.data, *QUICK, "--scale", choice)
                self.assertIn(f"\nscaling   {line}\n", result.out)
        standard = self.run_ok("--data", self.data, *QUICK, "--scale", "standard").table()
        self.assertLess(standard[NETWORK][2], 0.5 * standard[MEAN][2], standard)

    def test_minmax_is_the_default_and_no_scale_is_none(self):
        default = self.run_ok("--data", self.data, *QUICK).out
        self.assertEqual(self.run_ok("--data", self.data, *QUICK, "--scale", "minmax").out,
                         default)
        self.assertEqual(self.run_ok("--data", self.data, *QUICK, "--lr", 1e-6, "--no-scale").out,
                         self.run_ok("--data", self.data, *QUICK, "--lr", 1e-6, "--scale",
                                     "none").out)

    def test_weights_saved_under_standard_scaling_work_under_any_other(self):
        weights = self.path("standard.json")
        saved = self.run_ok("--data", self.data, *QUICK, "--scale", "standard", "--save",
                            weights).table()[NETWORK]
        for choice in ("standard", "minmax", "none"):
            with self.subTest(choice=choice):
                loaded = self.run_ok("--data", self.data, "--quiet", "--load", weights,
                                     "--scale", choice).table()[NETWORK]
                for shown, again in zip(saved, loaded):
                    self.assert_close(again, shown, 1e-6, choice)

    def test_unknown_scalings_are_refused(self):
        for arguments in (("--scale", "log"), ("--scale", "Standard"),
                          ("--no-scale", "--scale", "standard")):
            with self.subTest(arguments=arguments):
                self.assert_bad_input(run("--data", self.data, *arguments), "--")


if __name__ == "__main__":
    unittest.main()
