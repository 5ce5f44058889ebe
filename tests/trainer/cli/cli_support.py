"""Running oscnet-train as a user does, and reading what it prints.

CTest sets OSCNET_TRAIN (the program), OSCNET_LIBRARY and PYTHONPATH (for the Python package)
and OSCNET_PYTHON_LOADS_LIBRARY (0 where python cannot load this build's library, as under
the sanitizers). OSCNET_TRAIN_EMULATOR, when set, is the command that runs the program
(qemu-i386 for a 32-bit build on a kernel that cannot run 32-bit programs), its words separated
by spaces.
"""

import csv
import math
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

# Generous: the sanitizer build is many times slower than a release build, and under an
# emulator (qemu-i386 on a kernel without 32-bit support) a program runs ten times slower still.
TIMEOUT = 900 if os.environ.get("OSCNET_TRAIN_EMULATOR") else 300

REPOSITORY = os.path.normpath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir,
                                           os.pardir))

NETWORK = "network"
MEAN = "mean of the training targets"
PERSISTENCE = "next value = current value"
BASELINES = (MEAN, PERSISTENCE)
# The split that tests reasoning about which rows train and which test ask for: the test rows
# the last ones, in order, and no validation rows, so that every other row trains the network.
TAIL_SPLIT = ("--split", "tail", "--validation-fraction", 0)


def program():
    path = os.environ.get("OSCNET_TRAIN")
    if not path:
        raise RuntimeError("OSCNET_TRAIN is not set: run these tests through ctest, or set it "
                           "to the oscnet-train program")
    return path


def command(*arguments):
    """The command line that runs the program with `arguments`, through the emulator if any."""
    emulator = os.environ.get("OSCNET_TRAIN_EMULATOR", "").split()
    return [*emulator, program(), *map(str, arguments)]


def python_loads_library():
    return os.environ.get("OSCNET_PYTHON_LOADS_LIBRARY") == "1"


def needs_python_package(test):
    """Skips `test` where the Python package cannot load the library under test."""
    return unittest.skipUnless(
        python_loads_library(),
        "python cannot load this build's liboscnet (sanitized, or another pointer width)",
    )(test)


class Result:
    def __init__(self, completed, seconds=None):
        self.status = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr
        self.seconds = seconds  # the run's wall-clock time, as long as progress may take

    def __repr__(self):
        return f"exit {self.status}\n--- stdout\n{self.out}\n--- stderr\n{self.err[-3000:]}"

    def table(self):
        return parse_table(self.out)


def run(*arguments, cwd=None, timeout=TIMEOUT):
    """Runs the program with stderr a pipe (so progress comes as plain lines)."""
    start = time.monotonic()
    completed = subprocess.run(
        command(*arguments),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        cwd=cwd,
        timeout=timeout,
        text=True,
        errors="replace",
    )
    return Result(completed, time.monotonic() - start)


def figures(words):
    return [math.nan if cell == "n/a" else float(cell) for cell in words]


def parse_table(out):
    """The error table as {row name: [train RMSE, train NRMSE, test RMSE, test NRMSE]} (two
    figures a row when there are no test rows); "n/a" reads as nan. With several runs, the table
    of the run kept: the last one printed."""
    lines = out.splitlines()
    start = next((i for i in reversed(range(len(lines)))
                  if lines[i].split()[:2] == ["RMSE", "NRMSE"]), None)
    if start is None:
        raise AssertionError(f"no error table in the output:\n{out}")
    table = {}
    parent = None
    for line in lines[start + 1:]:
        if not line.strip():
            break
        if line.startswith("  ") and parent is not None:
            # One target's figures under its predictor: "parent/target name".
            *words, a, b, c, d = line.split()
            table[f"{parent}/{' '.join(words)}"] = [
                math.nan if cell == "n/a" else float(cell) for cell in (a, b, c, d)]
            continue
        for name in (NETWORK, *BASELINES):
            if line.startswith(name + " "):
                table[name] = [math.nan if cell == "n/a" else float(cell)
                               for cell in line[len(name):].split()]
                parent = name
                break
        else:
            raise AssertionError(f"unexpected row in the error table: {line!r}")
    return table


def parse_runs(out):
    """The table of several runs: ({seed: figures}, mean figures, standard deviations, the seed
    kept), figures as parse_table gives them."""
    lines = out.splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith("runs ")), None)
    if start is None:
        raise AssertionError(f"no table of runs in the output:\n{out}")
    runs, mean, deviation = {}, None, None
    for line in lines[start + 2:]:
        if not line.strip():
            break
        words = line.split()
        if words[0] == "seed":
            runs[int(words[1])] = figures(words[2:])
        elif words[0] == "mean":
            mean = figures(words[1:])
        elif words[:2] == ["standard", "deviation"]:
            deviation = figures(words[2:])
        else:
            raise AssertionError(f"unexpected row in the table of runs: {line!r}")
    kept = re.search(r"^kept +seed (\d+): the lowest loss on the (?:training|validation) rows, "
                     r"(\S+)$", out, re.M)
    if kept is None:
        raise AssertionError(f"no run kept in the output:\n{out}")
    return runs, mean, deviation, int(kept.group(1))


def rows_split(out, validation=False):
    """(training rows, test rows) as the program says it split them; with `validation`,
    (training rows, validation rows, test rows)."""
    match = re.search(r"^rows\s+(\d+) for training, (?:(\d+) for validation, )?"
                      r"(\d+|none held out|none) for testing", out, re.M)
    if not match:
        raise AssertionError(f"no row counts in the output:\n{out}")
    training = int(match.group(1))
    held = int(match.group(2) or 0)
    test = 0 if match.group(3).startswith("none") else int(match.group(3))
    return (training, held, test) if validation else (training, test)


PROGRESS_LINE = re.compile(r"^epoch (\d+)/(\d+)\s+loss (\S+)")


def assert_paced_progress(test, result, epochs):
    """Plain progress lines at most one a second, the first epoch's first and the last's last."""
    shown = [epoch for epoch, _, _ in progress_lines(result.err)]
    test.assertTrue(shown, result)
    test.assertEqual(shown[0], 1, result)
    test.assertEqual(shown[-1], epochs, result)
    test.assertEqual(shown, sorted(set(shown)), result)
    # A line when training starts, then one a second at most, and the last.
    test.assertLessEqual(len(shown), int(result.seconds) + 2, result)


def progress_lines(err):
    """(epoch, epochs, loss) for each plain progress line."""
    found = []
    for line in err.splitlines():
        match = PROGRESS_LINE.match(line)
        if match:
            found.append((int(match.group(1)), int(match.group(2)), float(match.group(3))))
    return found


class Workspace(unittest.TestCase):
    """A test case with a fresh temporary directory, `self.dir`."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="oscnet-train-cli-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_text(self, name, text):
        path = self.path(name)
        with open(path, "w", encoding="utf-8", newline="") as stream:
            stream.write(text)
        return path

    def write_csv(self, name, rows, header=None):
        path = self.path(name)
        with open(path, "w", encoding="utf-8", newline="") as stream:
            writer = csv.writer(stream)
            if header:
                writer.writerow(header)
            for row in rows:
                writer.writerow([repr(float(value)) for value in row])
        return path

    def run_ok(self, *arguments, **options):
        result = run(*arguments, **options)
        self.assertEqual(result.status, 0, result)
        return result

    def assert_bad_input(self, result, *fragments):
        """Exit 2 with a one-line reason on stderr that holds every fragment, and no report."""
        self.assertEqual(result.status, 2, result)
        self.assertTrue(result.err.startswith("oscnet-train: "), result)
        for fragment in fragments:
            self.assertIn(fragment, result.err, result)
        self.assertNotIn("RMSE", result.out, result)
        self.assertEqual(progress_lines(result.err), [], result)

    def assert_close(self, actual, expected, relative, what=""):
        self.assertTrue(math.isfinite(actual), f"{what}: {actual}")
        self.assertLessEqual(abs(actual - expected), relative * abs(expected),
                             f"{what}: {actual} against {expected}")


# -- figures computed here, independently of the program ----------------------------------------

def rmse(predicted, truth):
    return math.sqrt(sum((p - t) ** 2 for p, t in zip(predicted, truth)) / len(truth))


def nrmse(predicted, truth):
    mean = sum(truth) / len(truth)
    spread = sum((t - mean) ** 2 for t in truth)
    return math.sqrt(sum((p - t) ** 2 for p, t in zip(predicted, truth)) / spread)


def mean(values):
    return sum(values) / len(values)


def split_at(rows, test_fraction):
    """The program's split: the last round(fraction * rows) rows are held out, in order."""
    test = int(math.floor(test_fraction * len(rows) + 0.5))
    return rows[:len(rows) - test], rows[len(rows) - test:]


def sin_rows(count, seed=3):
    """y = sin(x1) + 0.5 x2: smooth enough for a small network to learn in a few epochs."""
    import random
    draw = random.Random(seed)
    rows = []
    for _ in range(count):
        x1 = draw.uniform(-3.0, 3.0)
        x2 = draw.uniform(-1.0, 1.0)
        rows.append((x1, x2, math.sin(x1) + 0.5 * x2))
    return rows


def mackey_glass(last_t):
    """x(0..last_t) of dx/dt = 0.2 x(t-17) / (1 + x(t-17)^10) - 0.1 x(t), x(0) = 1.2 and 0
    before, by RK4 with step 0.1. The delay is 170 steps, so the delayed value sits on the grid
    at both ends of a step; the half-step stages take their mean. Delayed times up to 0 lie in
    the history, so the step whose delayed end is t = 0 still sees 0 there."""
    step, per_unit, delay = 0.1, 10, 170
    steps = last_t * per_unit
    x = [0.0] * (steps + 1)
    x[0] = 1.2

    def slope(now, delayed):
        return 0.2 * delayed / (1.0 + delayed ** 10) - 0.1 * now

    for i in range(steps):
        start = x[i - delay] if i >= delay else 0.0
        end = x[i - delay + 1] if i >= delay else 0.0
        middle = 0.5 * (start + end)
        now = x[i]
        k1 = slope(now, start)
        k2 = slope(now + 0.5 * step * k1, middle)
        k3 = slope(now + 0.5 * step * k2, middle)
        k4 = slope(now + step * k3, end)
        x[i + 1] = now + step / 6.0 * (k1 + 2.0 * k2 + 2.0 * k3 + k4)
    return [x[t * per_unit] for t in range(last_t + 1)]


def mackey_glass_rows():
    """([x(t-18), x(t-12), x(t-6), x(t)], x(t+6)) for t = 118..1117."""
    x = mackey_glass(1123)
    return [([x[t - 18], x[t - 12], x[t - 6], x[t]], x[t + 6]) for t in range(118, 1118)]
