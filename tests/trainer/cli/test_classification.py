"""--classify: accuracy against the majority class, and the confusion matrix, in the report
and in the plot."""

import csv
import random
import re
import unittest
from xml.etree import ElementTree

from cli_support import Workspace, rows_split

SVG = "{http://www.w3.org/2000/svg}"
LONG_NAME = "a class with a long name"
ACCURACY = r"(\d\.\d{4}) \((\d+)/(\d+)\)"


def clusters(seed=3):
    """Three well-separated classes in two inputs, half the rows of class "big", in a random
    order; a column of text the network does not use."""
    draw = random.Random(seed)
    centres = {"big": (0.0, 0.0), "small": (4.0, 0.0), LONG_NAME: (0.0, 4.0)}
    labels = ["big"] * 30 + ["small"] * 15 + [LONG_NAME] * 15
    draw.shuffle(labels)
    rows = []
    for label in labels:
        x, y = centres[label]
        rows.append([repr(x + draw.gauss(0, 0.5)), repr(y + draw.gauss(0, 0.5)), label])
    return rows


class Classification(Workspace):
    def write_table(self, name, rows):
        path = self.path(name)
        with open(path, "w", encoding="utf-8", newline="") as stream:
            writer = csv.writer(stream)
            writer.writerow(["x", "y", "kind"])
            writer.writerows(rows)
        return path

    def report(self, out):
        """{"network" or the majority class's name: ((correct, rows) training, test)} and the
        confusion matrix as ([column names], [(row name, [counts])])."""
        lines = out.splitlines()
        accuracy = {}
        for line in lines:
            match = re.match(rf"^(network|majority class \((.*)\)) +{ACCURACY} +{ACCURACY}$",
                             line)
            if match:
                name = "network" if match.group(1) == "network" else match.group(2)
                figures = [int(n) for n in match.group(4, 5, 7, 8)]
                self.assertAlmostEqual(float(match.group(3)), figures[0] / figures[1], 4)
                self.assertAlmostEqual(float(match.group(6)), figures[2] / figures[3], 4)
                accuracy[name] = ((figures[0], figures[1]), (figures[2], figures[3]))
        self.assertEqual(len(accuracy), 2, out)
        start = next(i for i, line in enumerate(lines)
                     if line.startswith("Confusion matrix of the test rows"))
        header = lines[start + 2]
        matrix = []
        for line in lines[start + 3:]:
            if not line.strip():
                break
            # The class names, shortened, contain no run of two spaces.
            name, counts = re.match(r"^(\S+(?: \S+)*?) {2,}([\d ]+)$", line).groups()
            matrix.append((name, [int(n) for n in counts.split()]))
        columns = re.split(r" {2,}", header.strip())
        return accuracy, (columns, matrix)

    def test_accuracy_majority_class_and_confusion_matrix_agree(self):
        data = self.write_table("clusters.csv", clusters())
        plot = self.path("clusters.svg")
        result = self.run_ok("--data", data, "--classify", "kind", "--epochs", 200, "--lr", 0.01,
                             "--plot", plot)
        self.assertNotIn("RMSE", result.out)
        training_rows, test_rows = rows_split(result.out)
        accuracy, (columns, matrix) = self.report(result.out)
        self.assertIn("big", accuracy, result.out)
        network, majority = accuracy["network"], accuracy["big"]
        self.assertEqual(network[0][1], training_rows)
        self.assertEqual(network[1][1], test_rows)
        self.assertEqual(majority[1][1], test_rows)

        # The matrix counts the test rows: every row once, the diagonal the network's right
        # ones, the majority class's row the rows always predicting it gets right.
        names = [name for name, _ in matrix]
        self.assertEqual(len(names), 3, result.out)
        self.assertEqual(columns, names)
        self.assertIn("a class w...", names)
        self.assertEqual(sum(sum(counts) for _, counts in matrix), test_rows)
        self.assertEqual(sum(counts[i] for i, (_, counts) in enumerate(matrix)), network[1][0])
        self.assertEqual(sum(dict(matrix)["big"]), majority[1][0])
        # Clusters this far apart are learned.
        self.assertGreater(network[1][0], majority[1][0], result.out)
        self.assertGreaterEqual(network[1][0] / test_rows, 0.8, result.out)

        # The plot shows the same matrix, cell by cell.
        root = ElementTree.parse(plot).getroot()
        counts = [int(text.text) for text in root.iter(SVG + "text")
                  if text.get("class") == "count"]
        self.assertEqual(counts, [n for _, row in matrix for n in row])
        self.assertEqual([element for element in root.iter(SVG + "polyline")
                          if len(element.get("points").split()) == test_rows], [])


if __name__ == "__main__":
    unittest.main()
