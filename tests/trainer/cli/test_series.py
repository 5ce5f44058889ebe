"""Series from raw columns: --lags, --horizon, --time, and the naive forecasts."""

import csv
import math
import unittest

from cli_support import MEAN, PERSISTENCE, Workspace, mackey_glass, rmse, run, split_at


def data_line(out):
    return next(line for line in out.splitlines() if line.startswith("data "))


class Lags(Workspace):
    def write_series(self, name, values, first_year=1900):
        lines = ["date,year,value"]
        for i, value in enumerate(values):
            lines.append(f"{first_year + i}-01-01,{first_year + i},{value!r}")
        return self.write_text(name, "\n".join(lines) + "\n")

    def test_the_built_in_series_from_a_csv_column_gives_the_built_in_figures(self):
        # x(100) .. x(1123): the lags and the horizon leave t = 118 .. 1117, as built in.
        series = self.write_series("mackey.csv", mackey_glass(1123)[100:])
        common = ("--epochs", 0, "--test-fraction", 0.5, "--validation-fraction", 0)
        built_in = self.run_ok(*common)
        lagged = self.run_ok("--data", series, "--lags", "18,12,6,0", "--horizon", 6, "--target",
                             "value", "--time", "date", *common)
        self.assertEqual(lagged.table(), built_in.table())
        self.assertIn("skipped: year", data_line(lagged.out))
        self.assertIn("4 inputs", lagged.out)

    def test_the_current_value_is_a_baseline_even_without_lag_zero(self):
        values = [math.sin(i / 4) + 0.01 * (i % 7) for i in range(120)]
        series = self.write_series("wave.csv", values)
        result = self.run_ok("--data", series, "--lags", "2,1", "--horizon", 3, "--quiet",
                             "--epochs", 2, "--layers", "4:tanh", "--test-fraction", 0.25,
                             "--validation-fraction", 0)
        self.assertIn("2 inputs", result.out)
        # Rows for t = 2 .. 116; the target is value(t + 3), the naive forecast value(t).
        rows = [(values[t], values[t + 3]) for t in range(2, 117)]
        training, test = split_at(rows, 0.25)
        table = result.table()
        self.assertAlmostEqual(table[PERSISTENCE][0],
                               rmse([c for c, _ in training], [n for _, n in training]), 4)
        self.assertAlmostEqual(table[PERSISTENCE][2],
                               rmse([c for c, _ in test], [n for _, n in test]), 4)
        self.assertIn(MEAN, table)

    def test_output_holds_the_time_the_series_and_the_forecast(self):
        values = [float(i % 10) for i in range(40)]
        series = self.write_series("saw.csv", values, first_year=2000)
        out = self.path("forecast.csv")
        self.run_ok("--data", series, "--lags", "1,0", "--horizon", 2, "--time", "date",
                    "--quiet", "--epochs", 1, "--layers", "3:tanh", "--test-fraction", 0.25,
                    "--output", out)
        with open(out, encoding="utf-8") as stream:
            written = list(csv.reader(stream))
        self.assertEqual(written[0], ["date", "value", "value(t+2) (true)", "value(t+2)"])
        # 37 rows (t = 1 .. 37), the last 9 tested.
        self.assertEqual(len(written) - 1, 9)
        for date, value, truth, predicted in written[1:]:
            t = int(date[:4]) - 2000
            self.assertEqual(float(value), values[t])
            self.assertEqual(float(truth), values[t + 2])
            self.assertTrue(math.isfinite(float(predicted)))

    def test_several_series_and_other_inputs(self):
        lines = ["a,b,c"] + [f"{i},{i * i % 7},{i % 3}" for i in range(30)]
        data = self.write_text("three.csv", "\n".join(lines) + "\n")
        result = self.run_ok("--data", data, "--lags", "1,0", "--target", "a,b", "--inputs",
                             "c", "--quiet", "--epochs", 1, "--layers", "3:tanh")
        self.assertIn("6 inputs", result.out)
        self.assertIn("2 outputs", result.out)
        self.assertIn(f"{PERSISTENCE}/b(t+1)", result.table())

    def test_bad_series_are_refused(self):
        short = self.write_series("short.csv", [1.0, 2.0, 3.0])
        self.assert_bad_input(run("--data", short, "--lags", "2,0", "--target", "value"),
                              "short.csv has 3 rows; lags up to 2 and a horizon of 1 need at "
                              "least 4")
        gap = self.write_text("gap.csv", "t,value\n1,1.5\n2,\n3,2.5\n4,3\n5,3.5\n")
        self.assert_bad_input(run("--data", gap, "--lags", "1,0"),
                              "gap.csv, line 3, column 2 (value): the cell is empty")
        self.assert_bad_input(run("--data", short, "--lags", "1,1"), "--lags: 1 appears twice")


if __name__ == "__main__":
    unittest.main()
