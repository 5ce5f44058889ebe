"""Training on a CSV file: the split, the scaling, the baselines and the plot."""

import math
import os
import random
import unittest
import xml.etree.ElementTree as ElementTree

from cli_support import (MEAN, NETWORK, PERSISTENCE, TAIL_SPLIT, Workspace, mean, nrmse, progress_lines,
                         rmse, rows_split, sin_rows, split_at)

SVG = "{http://www.w3.org/2000/svg}"
# A small network that learns sin_rows in a few passes.
QUICK = ("--layers", "8:tanh", "--lr", 0.05, "--epochs", 20)


def trend_rows(count, seed=11):
    """A target that grows along the file, so that which rows are held out shows in the mean
    baseline's figures."""
    draw = random.Random(seed)
    return [(draw.uniform(-1, 1), i / 10 + draw.uniform(-0.5, 0.5)) for i in range(count)]


def population_deviation(values):
    centre = mean(values)
    return math.sqrt(sum((v - centre) ** 2 for v in values) / len(values))


class Learning(Workspace):
    def test_a_learnable_function_beats_the_mean_and_the_baseline_matches_its_definition(self):
        rows = sin_rows(300)
        data = self.write_csv("sin.csv", rows, header=["x1", "x2", "y"])
        result = self.run_ok("--data", data, "--quiet", *QUICK, *TAIL_SPLIT)
        self.assertEqual(rows_split(result.out), (240, 60))
        table = result.table()
        # No series here, so no "next value" line.
        self.assertEqual(set(table), {NETWORK, MEAN})

        training, test = split_at([row[2] for row in rows], 0.2)
        centre = mean(training)
        own = [rmse([centre] * len(training), training), nrmse([centre] * len(training), training),
               rmse([centre] * len(test), test), nrmse([centre] * len(test), test)]
        for column, (shown, expected) in enumerate(zip(table[MEAN], own)):
            self.assert_close(shown, expected, 1e-3, f"mean baseline, column {column + 1}")

        network = table[NETWORK]
        self.assertLess(network[3], 0.3, result)
        self.assertLess(network[2], 0.3 * table[MEAN][2], result)
        # RMSE / NRMSE is the spread of the truth: both figures come from the same errors, in
        # the data's units.
        self.assert_close(network[2] / network[3], population_deviation(test), 2e-3)
        self.assert_close(network[0] / network[1], population_deviation(training), 2e-3)

    def test_adagrad_and_more_steps_per_row_train_differently_and_still_learn(self):
        data = self.write_csv("sin.csv", sin_rows(300))
        base = ("--data", data, "--quiet", "--layers", "8:tanh", "--epochs", 20)
        plain = self.run_ok(*base, "--lr", 0.05).table()[NETWORK]
        adagrad = self.run_ok(*base, "--lr", 0.01, "--optimizer", "adagrad").table()
        repeated = self.run_ok(*base, "--lr", 0.05, "--iterations", 3).table()
        self.assertNotEqual(adagrad[NETWORK], plain)
        self.assertNotEqual(repeated[NETWORK], plain)
        for table in (adagrad, repeated):
            self.assertLess(table[NETWORK][2], 0.6 * table[MEAN][2], table)

    def test_with_several_steps_a_row_is_measured_before_its_first(self):
        # One input, two opposite targets: a thousand steps fit each row, so the other row is
        # always far off when its turn comes. Measured after the fitting, the loss would be 0.
        data = self.write_csv("opposite.csv", [(0.5, 1.0), (0.5, -1.0)])
        result = self.run_ok("--data", data, "--test-fraction", 0, "--layers", "4:tanh",
                             "--iterations", 1000, "--epochs", 3)
        progress = progress_lines(result.err)
        self.assertEqual(progress[-1][0], 3, result)
        losses = [loss for epoch, _, loss in progress if epoch > 1]
        self.assertTrue(losses, result)
        # Scaled to -1 and 1, the targets are 2 apart: the loss before a step is near 4.
        for loss in losses:
            self.assertGreater(loss, 2.0, losses)

    def test_untrained_network_reports_without_progress(self):
        data = self.write_csv("sin.csv", sin_rows(50))
        result = self.run_ok("--data", data, "--epochs", 0)
        self.assertEqual(progress_lines(result.err), [])
        self.assertTrue(all(math.isfinite(v) for v in result.table()[NETWORK]))


class Splitting(Workspace):
    def test_the_held_out_rows_are_the_tail_in_order(self):
        rows = trend_rows(100)
        data = self.write_csv("trend.csv", rows)
        for extra in ((), ("--shuffle", "--seed", 3)):
            result = self.run_ok("--data", data, *TAIL_SPLIT, "--test-fraction", 0.3, "--epochs", 2,
                                 "--quiet", *extra)
            self.assertEqual(rows_split(result.out), (70, 30))
            targets = [row[1] for row in rows]
            training, test = targets[:70], targets[70:]
            centre = mean(training)
            table = result.table()
            self.assert_close(table[MEAN][0], rmse([centre] * 70, training), 1e-3)
            self.assert_close(table[MEAN][2], rmse([centre] * 30, test), 1e-3)
            self.assert_close(table[MEAN][3], nrmse([centre] * 30, test), 1e-3)

    def test_no_test_rows_reports_the_training_rows_only(self):
        rows = trend_rows(40)
        data = self.write_csv("trend.csv", rows)
        result = self.run_ok("--data", data, "--test-fraction", 0, "--epochs", 2, "--quiet",
                             "--validation-fraction", 0)
        self.assertEqual(rows_split(result.out), (40, 0))
        table = result.table()
        targets = [row[1] for row in rows]
        self.assertEqual(len(table[MEAN]), 2)
        self.assertEqual(len(table[NETWORK]), 2)
        self.assert_close(table[MEAN][0], rmse([mean(targets)] * 40, targets), 1e-3)

    def test_the_series_default_split_can_be_changed(self):
        result = self.run_ok("--test-fraction", 0.25, "--epochs", 1, "--quiet")
        self.assertEqual(rows_split(result.out), (750, 250))
        self.assertIn(PERSISTENCE, result.table())

    def test_several_targets_are_the_last_columns(self):
        draw = random.Random(4)
        rows = []
        for _ in range(80):
            a, b, c = (draw.uniform(-1, 1) for _ in range(3))
            rows.append((a, b, c, a + b, 10 * (b - c)))
        data = self.write_csv("two.csv", rows, header=["a", "b", "c", "sum", "difference"])
        plot = self.path("two.svg")
        result = self.run_ok("--data", data, *TAIL_SPLIT, "--targets", 2, "--epochs", 3, "--quiet",
                             "--plot",
                             plot)
        self.assertRegex(result.out, r"3 inputs -> .* -> 2 outputs")
        # Truth and network for each target over the 16 held-out rows.
        root = ElementTree.parse(plot).getroot()
        drawn = [len(line.get("points").split()) for line in root.iter(SVG + "polyline")]
        self.assertEqual(drawn.count(16), 4, drawn)
        training, test = split_at(rows, 0.2)
        centres = [mean([row[k] for row in training]) for k in (3, 4)]

        def overall_rmse(part):
            errors = [(row[k] - centres[i]) ** 2 for row in part for i, k in enumerate((3, 4))]
            return math.sqrt(sum(errors) / len(errors))

        table = result.table()
        self.assert_close(table[MEAN][0], overall_rmse(training), 1e-3)
        self.assert_close(table[MEAN][2], overall_rmse(test), 1e-3)
        # Each target against its own mean: exactly 1 however the columns are combined.
        self.assert_close(table[MEAN][1], 1.0, 1e-3)
        # Their RMSE mixes units: the summary compares NRMSE.
        self.assertIn("The network's NRMSE on the test rows is", result.out)
        # And a line per target, in that target's own units.
        for i, (k, name) in enumerate(((3, "sum"), (4, "difference"))):
            for part, column in ((training, 0), (test, 2)):
                errors = [(row[k] - centres[i]) ** 2 for row in part]
                self.assert_close(table[f"{MEAN}/{name}"][column],
                                  math.sqrt(sum(errors) / len(errors)), 1e-3)


class Scaling(Workspace):
    def big_units(self):
        draw = random.Random(5)
        rows = []
        for _ in range(200):
            hours, load = draw.uniform(0, 100), draw.uniform(-1, 1)
            rows.append((hours, load, 1000 + 300 * math.sin(hours / 20) + 50 * load))
        return rows

    def test_errors_are_in_the_data_units_with_and_without_scaling(self):
        rows = self.big_units()
        data = self.write_csv("big.csv", rows, header=["hours", "load", "power"])
        scaled = self.run_ok("--data", data, "--quiet", *QUICK, *TAIL_SPLIT).table()
        unscaled = self.run_ok("--data", data, *TAIL_SPLIT, "--quiet", "--no-scale", "--layers", "8:tanh",
                               "--lr", 1e-5, "--epochs", 5).table()
        training, test = split_at([row[2] for row in rows], 0.2)
        centre = mean(training)
        for table in (scaled, unscaled):
            self.assert_close(table[MEAN][2], rmse([centre] * len(test), test), 1e-3)
            network = table[NETWORK]
            self.assert_close(network[2] / network[3], population_deviation(test), 2e-3)
            self.assert_close(network[0] / network[1], population_deviation(training), 2e-3)
        self.assertEqual(scaled[MEAN], unscaled[MEAN])
        # Scaled, the network learns the power curve to within a few percent of its spread.
        self.assertLess(scaled[NETWORK][3], 0.2, scaled)

    def test_scaling_maps_the_training_rows_to_the_unit_range(self):
        # The held-out rows reach beyond the training rows' range, so scaling on all rows
        # would differ. Training on the raw file must equal training, unscaled, on the file
        # scaled here by the training rows' extremes: same seed, same steps, same network.
        rows = [(hours, load, 3 * y) for hours, load, y in self.big_units()]
        rows[-1] = (500.0, 7.0, 9000.0)
        training, _ = split_at(rows, 0.2)
        lows = [min(row[c] for row in training) for c in range(3)]
        highs = [max(row[c] for row in training) for c in range(3)]
        prescaled = [[2 * (row[c] - lows[c]) / (highs[c] - lows[c]) - 1 for c in range(3)]
                     for row in rows]
        raw = self.write_csv("raw.csv", rows)
        ready = self.write_csv("ready.csv", prescaled)
        arguments = ("--quiet", "--layers", "6:tanh", "--lr", 0.05, "--epochs", 5, "--seed", 3,
                     *TAIL_SPLIT)
        on_raw = self.run_ok("--data", raw, *arguments).table()[NETWORK]
        on_ready = self.run_ok("--data", ready, "--no-scale", *arguments).table()[NETWORK]
        # The same errors, the raw ones in the raw units.
        factor = (highs[2] - lows[2]) / 2
        for column in (0, 2):
            self.assert_close(on_raw[column], on_ready[column] * factor, 2e-3, f"RMSE {column}")
            self.assert_close(on_raw[column + 1], on_ready[column + 1], 2e-3, f"NRMSE {column}")


class Plot(Workspace):
    def polylines(self, path):
        problem = None
        try:
            root = ElementTree.parse(path).getroot()
        except ElementTree.ParseError as error:
            problem = f"{path} is not well-formed XML: {error}"
        if problem:
            self.fail(problem)
        self.assertEqual(root.tag, SVG + "svg")
        lines = []
        for polyline in root.iter(SVG + "polyline"):
            points = [tuple(map(float, point.split(","))) for point in
                      polyline.get("points").split()]
            lines.append(points)
        return root, lines

    def tick_panels(self, root):
        """Each panel's y ticks as (height, value) pairs: a panel's ticks go up the page as
        their values rise; the next panel's start further down."""
        ticks = [(float(text.get("y")), float(text.text)) for text in root.iter(SVG + "text")
                 if text.get("class") == "y-tick"]
        panels = []
        for height, value in ticks:
            if panels and height < panels[-1][-1][0]:
                self.assertGreater(value, panels[-1][-1][1], ticks)
                panels[-1].append((height, value))
            else:
                panels.append([(height, value)])
        return panels

    def loss_scale(self, root):
        """From a height on the loss panel to the loss, through its lowest and highest tick:
        round values, evenly spaced in their logarithm."""
        title = [text.text for text in root.iter(SVG + "text")][1]
        self.assertEqual(title, "Loss per epoch (logarithmic)")
        ticks = self.tick_panels(root)[0]
        self.assertGreaterEqual(len(ticks), 2, ticks)
        for _, value in ticks:
            mantissa = value / 10 ** math.floor(math.log10(value) + 1e-9)
            self.assertTrue(any(abs(mantissa - m) < 1e-6 for m in (1, 2, 5, 10)), ticks)
        # The labels sit 4 pixels below their heights.
        (bottom, low), (top, high) = ticks[0], ticks[-1]
        low, high = math.log(low), math.log(high)
        return lambda y: math.exp(low + (bottom - 4 - y) / (bottom - top) * (high - low))

    def affine_fit(self, values, pixels, tolerance):
        """(whether pixel = a + b value to within `tolerance` pixels for every point, a, b, n)."""
        n = len(values)
        mv, mp = mean(values), mean(pixels)
        spread = sum((v - mv) ** 2 for v in values)
        slope = sum((v - mv) * (p - mp) for v, p in zip(values, pixels)) / spread
        worst = max(abs(mp + slope * (v - mv) - p) for v, p in zip(values, pixels))
        return worst <= tolerance, mp - slope * mv, slope, n

    def test_the_plot_draws_the_loss_per_pass_and_the_test_rows(self):
        rows = sin_rows(300)
        data = self.write_csv("sin.csv", rows, header=["x1", "x2", "y"])
        plot = self.path("run.svg")
        epochs = 12
        result = self.run_ok("--data", data, *TAIL_SPLIT, "--plot", plot, "--layers", "8:tanh", "--lr",
                             0.05, "--epochs", epochs)
        root, lines = self.polylines(plot)
        # Self-contained: nothing fetched from elsewhere.
        for element in root.iter():
            for name, value in element.attrib.items():
                self.assertFalse(name.endswith("href"), (element.tag, name, value))
            self.assertNotIn(element.tag, (SVG + "image", SVG + "script", SVG + "use"))
        for points in lines:
            self.assertTrue(all(math.isfinite(x) and math.isfinite(y) for x, y in points))

        # The training loss, one point per pass, on a logarithmic scale read from its ticks:
        # at the epochs stderr shows, the curve is at the losses printed there.
        progress = progress_lines(result.err)
        self.assertEqual(progress[-1][0], epochs, result)
        per_pass = [points for points in lines if len(points) == epochs]
        self.assertGreaterEqual(len(per_pass), 1, lines)
        to_loss = self.loss_scale(root)
        for epoch, _, loss in progress:
            drawn = [to_loss(points[epoch - 1][1]) for points in per_pass]
            self.assertTrue(any(abs(value / loss - 1) < 0.01 for value in drawn),
                            (epoch, loss, drawn))
        for points in per_pass:
            xs = [x for x, _ in points]
            self.assertEqual(xs, sorted(xs))

        # Truth and network over the 60 test rows: one curve's heights follow the held-out
        # targets exactly; reading the other through the same scale gives the test RMSE.
        _, test = split_at([row[2] for row in rows], 0.2)
        per_row = [points for points in lines if len(points) == len(test)]
        self.assertEqual(len(per_row), 2, [len(points) for points in lines])
        fitted = [self.affine_fit(test, [y for _, y in points], 0.1) for points in per_row]
        truth = [i for i, fit in enumerate(fitted) if fit[0]]
        self.assertEqual(len(truth), 1, "exactly one test-row curve should be the truth")
        _, offset, slope, _ = fitted[truth[0]]
        drawn = [(y - offset) / slope for _, y in per_row[1 - truth[0]]]
        shown = result.table()[NETWORK][2]
        # Heights are drawn to 0.1 pixel, a few thousandths of the targets' range.
        self.assertLess(abs(rmse(drawn, test) - shown), 0.05 * shown + 0.005)

    def test_the_plot_of_the_series_is_well_formed(self):
        plot = self.path("series.svg")
        self.run_ok("--epochs", 2, "--quiet", "--plot", plot)
        _, lines = self.polylines(plot)
        self.assertEqual(sorted(len(points) for points in lines).count(500), 2, lines)

    def test_column_names_with_markup_characters_keep_the_svg_well_formed(self):
        rows = sin_rows(40)
        data = self.write_csv("odd.csv", rows, header=["a<b", "x & y", 'say "y"'])
        plot = self.path("odd.svg")
        self.run_ok("--data", data, "--epochs", 2, "--quiet", "--plot", plot)
        root, _ = self.polylines(plot)
        texts = " ".join(element.text or "" for element in root.iter(SVG + "text"))
        self.assertIn('say "y"', texts)

    def test_a_header_not_in_utf8_keeps_the_svg_well_formed(self):
        # A spreadsheet's Latin-1 export: the SVG declares UTF-8, so such bytes must not be
        # copied into it as they are.
        rows = sin_rows(40)
        path = self.path("latin1.csv")
        with open(path, "wb") as stream:
            stream.write("x1,x2,caf\xe9\n".encode("latin-1"))
            for row in rows:
                stream.write((",".join(repr(v) for v in row) + "\n").encode())
        plot = self.path("latin1.svg")
        self.run_ok("--data", path, "--epochs", 2, "--quiet", "--plot", plot)
        self.polylines(plot)

    def test_tick_labels_tell_close_values_apart(self):
        # Values close together far from zero need more than three digits.
        data = self.write_csv("near.csv", [(i / 50, 1000 + 0.001 * (i % 7)) for i in range(50)])
        plot = self.path("near.svg")
        self.run_ok("--data", data, "--epochs", 2, "--layers", "2:tanh", "--quiet", "--plot", plot)
        root = ElementTree.parse(plot).getroot()
        panels = self.tick_panels(root)
        self.assertEqual(len(panels), 2, panels)
        for ticks in panels:
            self.assertGreaterEqual(len(ticks), 3, ticks)
            labels = [text for text in root.iter(SVG + "text") if text.get("class") == "y-tick"]
            self.assertEqual(len({text.text for text in labels}), len(labels))

    def test_no_test_rows_plots_the_training_rows(self):
        rows = sin_rows(30)
        data = self.write_csv("sin.csv", rows)
        plot = self.path("train.svg")
        self.run_ok("--data", data, *TAIL_SPLIT, "--epochs", 3, "--quiet", "--test-fraction", 0, "--plot",
                    plot)
        _, lines = self.polylines(plot)
        self.assertEqual(sorted(len(points) for points in lines).count(30), 2, lines)
        self.assertTrue(os.path.getsize(plot) > 0)


if __name__ == "__main__":
    unittest.main()
