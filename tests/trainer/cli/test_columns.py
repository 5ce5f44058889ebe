"""Choosing columns: by name or number, text columns skipped, a time column, classes."""

import csv
import io
import random
import unittest

from cli_support import MEAN, NETWORK, TAIL_SPLIT, Workspace, run, sin_rows

QUICK = ("--quiet", "--layers", "6:tanh", "--lr", 0.05, "--epochs", 5)


def network_line(out):
    return next(line for line in out.splitlines() if line.startswith("network "))


def data_line(out):
    return next(line for line in out.splitlines() if line.startswith("data "))


class ByNameOrNumber(Workspace):
    def setUp(self):
        super().setUp()
        lines = ["date,x1,note,x2,y"]
        for i, (x1, x2, y) in enumerate(sin_rows(60)):
            lines.append(f"2024-03-{i:02d},{x1!r},\"say, {i}\",{x2!r},{y!r}")
        self.data = self.write_text("dated.csv", "\n".join(lines) + "\n")

    def test_unused_text_columns_are_skipped_and_said_so(self):
        result = self.run_ok("--data", self.data, *QUICK)
        self.assertIn("skipped: date, note", data_line(result.out))
        self.assertIn("2 inputs", network_line(result.out))
        self.assertEqual(set(result.table()), {NETWORK, MEAN})

    def test_target_and_inputs_by_name_or_number(self):
        by_name = self.run_ok("--data", self.data, "--target", "y", "--inputs", "x2,x1", *QUICK)
        by_number = self.run_ok("--data", self.data, "--target", 5, "--inputs", "4,2", *QUICK)
        self.assertEqual(by_name.table(), by_number.table())
        self.assertIn("2 inputs", network_line(by_name.out))
        # x1 as the target: the mean baseline is that of x1, not of y.
        other = self.run_ok("--data", self.data, "--target", "x1", "--inputs", "x2", *QUICK)
        self.assertNotEqual(other.table()[MEAN], by_name.table()[MEAN])
        self.assertIn("skipped: date, note, y", data_line(other.out))

    def test_unknown_columns_are_refused_listing_those_there_are(self):
        self.assert_bad_input(run("--data", self.data, "--target", "z"),
                              "--target: ", "dated.csv has no column 'z'",
                              "its columns are date, x1, note, x2, y")
        self.assert_bad_input(run("--data", self.data, "--inputs", "x1,9"),
                              "--inputs: ", "no column '9'")

    def test_a_text_column_named_as_input_is_refused_at_its_first_cell(self):
        self.assert_bad_input(run("--data", self.data, "--inputs", "x1,note"),
                              "dated.csv, line 2, column 3 (note): 'say, 0' is not a number")

    def test_a_column_used_twice_or_options_that_contradict_are_refused(self):
        self.assert_bad_input(run("--data", self.data, "--target", "y", "--inputs", "x1,y"),
                              "column 5 (y) is already a target")
        self.assert_bad_input(run("--data", self.data, "--time", "date", "--inputs", "date"),
                              "is already the --time column")
        self.assert_bad_input(run("--data", self.data, "--target", "y", "--targets", 2),
                              "--targets")
        self.assert_bad_input(run("--data", self.data, "--horizon", 2), "--horizon goes with --lags")
        self.assert_bad_input(run("--target", "x"), "--data files")

    def test_a_bad_cell_in_a_numeric_column_names_file_line_and_column(self):
        text = "a,b,y\n1,2,3\n4,n/a,6\n7,8,9\n"
        data = self.write_text("holes.csv", text)
        self.assert_bad_input(run("--data", data),
                              "holes.csv, line 3, column 2 (b): 'n/a' is not a number")
        # Not used, it is no fault.
        self.run_ok("--data", data, "--inputs", "a", "--test-fraction", 0.34, *QUICK)


def classes_rows(count, seed=5):
    """Two inputs; the class is the quadrant's half, named."""
    draw = random.Random(seed)
    rows = []
    for _ in range(count):
        a, b = draw.uniform(-1, 1), draw.uniform(-1, 1)
        rows.append((a, b, "left" if a < -0.3 else "middle" if a < 0.3 else "right"))
    return rows


class Classes(Workspace):
    def write_classes(self, name, rows):
        buffer = io.StringIO()
        writer = csv.writer(buffer, lineterminator="\n")
        writer.writerow(["a", "b", "side"])
        writer.writerows(rows)
        return self.write_text(name, buffer.getvalue())

    def test_one_output_per_class_in_order_and_one_hot_targets(self):
        data = self.write_classes("sides.csv", classes_rows(60))
        result = self.run_ok("--data", data, "--classify", "side", *QUICK, *TAIL_SPLIT,
                             "--output", self.path("out.csv"))
        self.assertIn("2 inputs", network_line(result.out))
        self.assertIn("3 outputs", network_line(result.out))
        # The classes in order, as the confusion matrix lists them.
        self.assertRegex(result.out, r"(?m)^ +left +middle +right *$")
        with open(self.path("out.csv"), encoding="utf-8") as stream:
            written = list(csv.reader(stream))
        self.assertEqual(written[0], ["a", "b", "side (true)", "side"])
        expected = classes_rows(60)[48:]
        self.assertEqual([row[2] for row in written[1:]], [row[2] for row in expected])
        self.assertTrue(all(row[3] in ("left", "middle", "right") for row in written[1:]))

    def test_number_labels_are_classes_in_numeric_order(self):
        rows = [(a, b, {"left": 10, "middle": 9, "right": -1}[side])
                for a, b, side in classes_rows(40)]
        data = self.write_classes("numbers.csv", rows)
        result = self.run_ok("--data", data, "--classify", 3, *QUICK)
        self.assertRegex(result.out, r"(?m)^ +-1 +9 +10 *$")

    def test_classifications_that_cannot_be_are_refused(self):
        one = self.write_classes("one.csv", [(1, 2, "same"), (3, 4, "same")])
        self.assert_bad_input(run("--data", one, "--classify", "side"), "one.csv",
                              "single class 'same'")
        empty = self.write_classes("empty.csv", [(1, 2, "x"), (3, 4, ""), (5, 6, "y")])
        self.assert_bad_input(run("--data", empty, "--classify", "side"),
                              "empty.csv, line 3, column 3 (side): the label is empty")
        data = self.write_classes("sides.csv", classes_rows(20))
        self.assert_bad_input(run("--data", data, "--classify", "side", "--target", "a"),
                              "--classify", "without --target")
        self.assert_bad_input(run("--data", data, "--classify", "side", "--lags", "1"),
                              "--classify does not go with --lags")
        self.assert_bad_input(run("--data", data, "--classify", "kind"), "no column 'kind'")


if __name__ == "__main__":
    unittest.main()
