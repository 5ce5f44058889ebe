"""Bad input ends with a reason and exit status 2; training that fails, or a file that cannot
be written, with exit status 1 and nothing saved."""

import os
import signal
import subprocess
import unittest

from cli_support import TIMEOUT, Workspace, command, run, sin_rows


class BadData(Workspace):
    def test_a_missing_file(self):
        missing = self.path("nowhere.csv")
        self.assert_bad_input(run("--data", missing), missing)

    def test_a_directory_given_as_data(self):
        self.assert_bad_input(run("--data", self.dir), self.dir)

    def test_a_ragged_row_is_reported_at_its_line(self):
        # Line 1 header, 2 blank, 3 data, 4 blank (spaces), 5 ragged.
        data = self.write_text("ragged.csv", "x1,x2,y\n\n1,2,3\n  \n4,5\n7,8,9\n")
        self.assert_bad_input(run("--data", data), "ragged.csv", "line 5")

        longer = self.write_text("longer.csv", "1,2,3\n4,5,6\n7,8,9,10\n")
        self.assert_bad_input(run("--data", longer), "longer.csv", "line 3")

    def test_a_cell_that_is_not_a_number_is_reported_at_its_line(self):
        data = self.write_text("words.csv", "x1,x2,y\n1,2,3\n\n\n4,abc,6\n")
        self.assert_bad_input(run("--data", data), "words.csv", "line 5", "abc")

        # Windows line ends count the same.
        crlf = self.write_text("crlf.csv", "a,b\r\n1,2\r\n\r\n3,x7\r\n")
        self.assert_bad_input(run("--data", crlf), "crlf.csv", "line 4", "x7")

    def test_empty_and_non_finite_cells_are_refused(self):
        for name, text, line in (("empty.csv", "1,2\n3,\n5,6\n", "line 2"),
                                 ("nan.csv", "1,2\n3,4\n5,nan\n", "line 3"),
                                 ("inf.csv", "a,b\n1,2\ninf,4\n", "line 3"),
                                 ("huge.csv", "1,2\n3,1e999\n", "line 2")):
            with self.subTest(name):
                data = self.write_text(name, text)
                self.assert_bad_input(run("--data", data), name, line)

    def test_too_few_rows(self):
        header_only = self.write_text("header.csv", "x,y\n")
        self.assert_bad_input(run("--data", header_only), "header.csv")
        empty = self.write_text("empty.csv", "")
        self.assert_bad_input(run("--data", empty), "empty.csv")
        # One row cannot be both trained on and held out.
        single = self.write_text("single.csv", "x,y\n1,2\n")
        self.assert_bad_input(run("--data", single), "single.csv", "rows")

    def test_targets_must_leave_an_input_column(self):
        data = self.write_csv("two.csv", [(1, 2), (3, 4), (5, 6), (7, 8), (9, 10)])
        self.assert_bad_input(run("--data", data, "--targets", 2), "--targets")
        # The series has one target.
        self.assert_bad_input(run("--targets", 2), "--targets")


class BadOptions(Workspace):
    def test_unknown_activation(self):
        self.assert_bad_input(run("--layers", "16:tanh,8:swish"), "swish")

    def test_malformed_layers(self):
        for layers in ("16", "0:tanh", "abc:relu", "16:tanh,", ":tanh", "-4:relu"):
            with self.subTest(layers):
                self.assert_bad_input(run("--layers", layers), "--layers")

    def test_unknown_option_and_stray_argument(self):
        self.assert_bad_input(run("--epoch", 5), "--epoch")
        self.assert_bad_input(run("--epochs", 1, "--verbose"), "--verbose")
        data = self.write_csv("data.csv", sin_rows(20))
        self.assert_bad_input(run(data), "data.csv")

    def test_option_without_its_value(self):
        self.assert_bad_input(run("--epochs"), "--epochs")
        self.assert_bad_input(run("--lr="), "--lr")

    def test_values_out_of_range(self):
        for option, value in (("--epochs", "-1"), ("--epochs", "2.5"), ("--epochs", "many"),
                              ("--lr", "0"), ("--lr", "-0.1"), ("--lr", "fast"), ("--lr", "nan"),
                              ("--lr", "inf"), ("--iterations", "0"),
                              ("--test-fraction", "1"), ("--test-fraction", "-0.1"),
                              ("--test-fraction", "half"), ("--optimizer", "sgd"),
                              ("--seed", "-1"), ("--seed", "4294967296"), ("--targets", "0")):
            with self.subTest(option=option, value=value):
                self.assert_bad_input(run(f"{option}={value}"), option)
                self.assert_bad_input(run(option, value), option)


class UnwritableOutput(Workspace):
    """Checked before any training: a long run must not be wasted on a path that fails."""

    LONG = ("--epochs", 100000)

    def assert_refused_at_once(self, option, path):
        before = sorted(os.listdir(self.dir))
        result = run(*self.LONG, option, path, timeout=60)
        self.assert_bad_input(result, option, path)
        self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_a_missing_directory(self):
        for option in ("--save", "--plot"):
            with self.subTest(option):
                self.assert_refused_at_once(option, self.path(os.path.join("none", "out.file")))

    def test_a_directory_in_place_of_the_file(self):
        os.mkdir(self.path("taken"))
        for option in ("--save", "--plot"):
            with self.subTest(option):
                self.assert_refused_at_once(option, self.path("taken"))

    def test_a_file_in_place_of_the_directory(self):
        self.write_text("plain", "not a directory\n")
        for option in ("--save", "--plot"):
            with self.subTest(option):
                self.assert_refused_at_once(option, self.path(os.path.join("plain", "out")))


class OutputOverInput(Workspace):
    """An output path that names an input, or the other output, would destroy it."""

    def test_saving_or_plotting_over_the_data_is_refused(self):
        data = self.write_csv("data.csv", [(i, 2 * i) for i in range(10)])
        with open(data, encoding="utf-8") as stream:
            before = stream.read()
        for option in ("--save", "--plot"):
            with self.subTest(option):
                self.assert_bad_input(run("--data", data, option, data), option, "--data")
                # The same file by another name.
                other = os.path.join(self.dir, ".", "data.csv")
                self.assert_bad_input(run("--data", data, option, other), option)
        with open(data, encoding="utf-8") as stream:
            self.assertEqual(stream.read(), before)

    def test_the_plot_and_the_weights_need_two_files(self):
        both = self.path("out")
        self.assert_bad_input(run("--epochs", 1, "--save", both, "--plot", both), "--plot")
        self.assertFalse(os.path.exists(both))
        # A file that does not exist yet, named relative to the working directory and in full.
        result = run("--epochs", 1, "--save", "./new.json", "--plot", "new.json", cwd=self.dir)
        self.assert_bad_input(result, "--plot")
        self.assertEqual(os.listdir(self.dir), [])

    def test_the_checks_leave_other_files_alone(self):
        # Files beside an output, whatever their names, are neither truncated nor removed.
        data = self.write_csv("out.json.tmp-oscnet", [(i, 2 * i) for i in range(10)])
        with open(data, encoding="utf-8") as stream:
            before = stream.read()
        self.run_ok("--data", data, "--save", self.path("out.json"), "--epochs", 1, "--quiet")
        with open(data, encoding="utf-8") as stream:
            self.assertEqual(stream.read(), before)
        self.assertEqual(sorted(os.listdir(self.dir)), ["out.json", "out.json.tmp-oscnet"])

    def test_saving_through_a_symbolic_link_updates_the_file_it_names(self):
        os.mkdir(self.path("keep"))
        real = self.path(os.path.join("keep", "real.json"))
        link = self.path("current.json")
        self.run_ok("--epochs", 1, "--layers", "4:tanh", "--quiet", "--save", real)
        os.symlink(os.path.join("keep", "real.json"), link)
        with open(real, encoding="utf-8") as stream:
            first = stream.read()
        self.run_ok("--epochs", 1, "--quiet", "--load", link, "--save", link)
        self.assertTrue(os.path.islink(link))
        with open(real, encoding="utf-8") as stream:
            self.assertNotEqual(stream.read(), first)

    def test_outputs_that_are_not_regular_files_are_refused(self):
        pipe = self.path("pipe")
        os.mkfifo(pipe)
        self.assert_bad_input(run("--epochs", 1, "--save", pipe), "--save", "regular")


class TrainingFailure(Workspace):
    def test_divergence_exits_1_and_saves_nothing(self):
        rows = [(x / 10, 1e6 * x) for x in range(-20, 20)]
        data = self.write_csv("huge.csv", rows)
        weights = self.path("weights.json")
        result = run("--data", data, "--no-scale", "--lr", 10, "--epochs", 20, "--layers",
                     "4:none", "--save", weights)
        self.assertEqual(result.status, 1, result)
        self.assertIn("diverge", result.err)
        self.assertNotIn("RMSE", result.out)
        self.assertEqual(os.listdir(self.dir), ["huge.csv"])

    def last_step_blows_up(self, learning_rate):
        """Two rows: the first barely moves the weights; the second's step, taken after its
        loss was measured, sends the network's outputs (or, faster, the weights themselves)
        beyond the range of doubles."""
        data = self.write_text("blow.csv", "0,0\n1e156,0\n")
        weights = self.path("weights.json")
        result = run("--data", data, "--test-fraction", 0, "--no-scale", "--lr", learning_rate,
                     "--epochs", 1, "--layers", "2:none", "--save", weights)
        return result, weights

    def test_weights_overflowing_in_the_last_step_count_as_divergence_not_bad_input(self):
        result, weights = self.last_step_blows_up(1000)
        self.assertEqual(result.status, 1, result)
        self.assertFalse(os.path.exists(weights))

    def test_a_network_left_with_non_finite_outputs_is_not_saved(self):
        result, weights = self.last_step_blows_up(1)
        self.assertEqual(result.status, 1, result)
        self.assertFalse(os.path.exists(weights))

    def test_a_file_that_cannot_be_written_at_the_end_exits_1(self):
        # The directory is there when the paths are checked and gone once training runs: the
        # run is stopped after its first epoch while the directory is removed.
        data = self.write_csv("sin.csv", sin_rows(10))
        out_dir = self.path("out")
        os.mkdir(out_dir)
        for option in ("--save", "--plot"):
            with self.subTest(option):
                os.makedirs(out_dir, exist_ok=True)
                target = os.path.join(out_dir, "result.file")
                process = subprocess.Popen(
                    command("--data", data, "--layers", "2:tanh", "--epochs", "5000",
                            "--validation-fraction", 0, option, target),
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                    text=True)
                first = process.stderr.readline()
                # Held still while the directory goes: progress no longer fills the pipe.
                os.kill(process.pid, signal.SIGSTOP)
                os.rmdir(out_dir)
                os.kill(process.pid, signal.SIGCONT)
                out, err = process.communicate(timeout=TIMEOUT)
                self.assertTrue(first.startswith("epoch 1/5000"), first + err)
                self.assertEqual(process.returncode, 1, out + err)
                self.assertIn("result.file", err)
                self.assertFalse(os.path.exists(target))


if __name__ == "__main__":
    unittest.main()
