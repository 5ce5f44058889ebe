#!/usr/bin/python3
"""Runs oscnet-train on every trial set and compares it with simple baselines on the test rows.

    /usr/bin/python3 scripts/make-trial-data.py /tmp/trial
    /usr/bin/python3 scripts/evaluate-defaults.py build/trainer/oscnet-train /tmp/trial

Each set is trained with oscnet-train's defaults (plus any options after --, for trying other
settings, and --table/--series/--classes options for one kind of set only). The baselines see
exactly the rows oscnet-train trains and tests on:

- tables are shuffled here, with a fixed seed, and held out from the end (--split tail), which
  is a random split whose test rows this script knows;
- series are given to --lags and --horizon, or, with --lag-columns, turned into lag columns
  here;
- classes are given to --classify and read back from --output, or, with --one-hot, given as
  one target column per class and predicted from the --save'd weights through the Python
  package (set OSCNET_LIBRARY to the library).

Baselines: the training mean, "next value = current value" for series, least-squares linear
regression, softmax regression for classes, the majority class, and a small multilayer
perceptron written here (the hidden units of oscnet's default, tanh, Adam, early stopping on a
tenth of the training rows). The table gives test NRMSE (RMSE over the deviation of the test
targets) or accuracy, and whether oscnet beats the naive baselines and comes within 10% of the
perceptron's RMSE (tables, series) or 3 points of the better of the two classifiers.
"""

import argparse
import concurrent.futures
import csv
import json
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

TEST_FRACTION = 0.2
SHUFFLE_SEED = 7
MLP_HIDDEN = (16, 8)


def read_table(path):
    with open(path, newline="") as handle:
        rows = list(csv.reader(handle))
    return rows[0], rows[1:]


def write_rows(path, header, rows):
    with open(path, "w", newline="") as handle:
        out = csv.writer(handle, lineterminator="\n")
        out.writerow(header)
        out.writerows(rows)


def test_count(rows):
    return int(np.floor(TEST_FRACTION * rows + 0.5))


# --- baselines ---------------------------------------------------------------------------


def standardise(train, *others):
    mean = train.mean(axis=0)
    deviation = train.std(axis=0)
    deviation[deviation == 0] = 1.0
    return [(a - mean) / deviation for a in (train,) + others]


def linear_fit(x_train, y_train, x_test):
    xs_train, xs_test = standardise(x_train, x_test)
    a = np.column_stack([xs_train, np.ones(len(xs_train))])
    coef, *_ = np.linalg.lstsq(a, y_train, rcond=None)
    return np.column_stack([xs_test, np.ones(len(xs_test))]) @ coef


def softmax(z):
    z = z - z.max(axis=1, keepdims=True)
    e = np.exp(z)
    return e / e.sum(axis=1, keepdims=True)


def softmax_regression(x_train, labels, classes, x_test, steps=3000, l2=1e-4):
    xs_train, xs_test = standardise(x_train, x_test)
    a = np.column_stack([xs_train, np.ones(len(xs_train))])
    onehot = np.eye(classes)[labels]
    w = np.zeros((a.shape[1], classes))
    m = np.zeros_like(w)
    v = np.zeros_like(w)
    for t in range(1, steps + 1):
        grad = a.T @ (softmax(a @ w) - onehot) / len(a) + l2 * w
        m = 0.9 * m + 0.1 * grad
        v = 0.999 * v + 0.001 * grad ** 2
        w -= 0.05 * (m / (1 - 0.9 ** t)) / (np.sqrt(v / (1 - 0.999 ** t)) + 1e-8)
    return np.column_stack([xs_test, np.ones(len(xs_test))]) @ w


class Perceptron:
    """Two tanh hidden layers, a linear output (softmax cross-entropy for classes), trained
    with Adam on mini-batches; keeps the weights of the best validation loss."""

    def __init__(self, inputs, outputs, rng, classify):
        widths = (inputs,) + MLP_HIDDEN + (outputs,)
        self.weights = [rng.normal(0.0, np.sqrt(1.0 / a), (a, b)) for a, b in
                        zip(widths[:-1], widths[1:])]
        self.biases = [np.zeros(b) for b in widths[1:]]
        self.classify = classify

    def forward(self, x):
        activations = [x]
        for i, (w, b) in enumerate(zip(self.weights, self.biases)):
            z = activations[-1] @ w + b
            activations.append(z if i == len(self.weights) - 1 else np.tanh(z))
        return activations

    def loss(self, x, y):
        out = self.forward(x)[-1]
        if self.classify:
            return -np.mean(np.log(softmax(out)[np.arange(len(y)), y] + 1e-12))
        return np.mean((out - y) ** 2)

    def gradients(self, x, y):
        activations = self.forward(x)
        out = activations[-1]
        if self.classify:
            delta = (softmax(out) - np.eye(out.shape[1])[y]) / len(x)
        else:
            delta = 2 * (out - y) / len(x)
        grads = []
        for i in reversed(range(len(self.weights))):
            grads.append((activations[i].T @ delta, delta.sum(axis=0)))
            if i > 0:
                delta = (delta @ self.weights[i].T) * (1 - activations[i] ** 2)
        return list(reversed(grads))

    def fit(self, x, y, x_valid, y_valid, rng, lr=1e-3, batch=32, epochs=1000, patience=30,
            l2=1e-4):
        params = self.weights + self.biases
        m = [np.zeros_like(p) for p in params]
        v = [np.zeros_like(p) for p in params]
        best = (np.inf, None)
        waited = 0
        t = 0
        for _ in range(epochs):
            order = rng.permutation(len(x))
            for start in range(0, len(x), batch):
                rows = order[start:start + batch]
                grads = self.gradients(x[rows], y[rows])
                flat = [g for g, _ in grads] + [g for _, g in grads]
                t += 1
                for k, (p, g) in enumerate(zip(params, flat)):
                    g = g + l2 * p if k < len(self.weights) else g
                    m[k] = 0.9 * m[k] + 0.1 * g
                    v[k] = 0.999 * v[k] + 0.001 * g * g
                    p -= lr * (m[k] / (1 - 0.9 ** t)) / (np.sqrt(v[k] / (1 - 0.999 ** t)) + 1e-8)
            loss = self.loss(x_valid, y_valid)
            if loss < best[0] - 1e-9:
                best = (loss, [p.copy() for p in params])
                waited = 0
            else:
                waited += 1
                if waited > patience:
                    break
        for p, kept in zip(params, best[1]):
            p[...] = kept
        return self


def perceptron(x_train, y_train, x_test, classify, classes=0, time_ordered=False, seed=1):
    """Test outputs of the perceptron: predictions in the target's units, or class scores."""
    rng = np.random.default_rng(seed)
    xs_train, xs_test = standardise(x_train, x_test)
    valid = max(1, len(x_train) // 10)
    order = np.arange(len(x_train)) if time_ordered else rng.permutation(len(x_train))
    fit_rows, valid_rows = order[:-valid], order[-valid:]
    if classify:
        net = Perceptron(x_train.shape[1], classes, rng, True)
        net.fit(xs_train[fit_rows], y_train[fit_rows], xs_train[valid_rows], y_train[valid_rows],
                rng)
        return net.forward(xs_test)[-1]
    mean, deviation = y_train.mean(), y_train.std() or 1.0
    ys = ((y_train - mean) / deviation)[:, None]
    net = Perceptron(x_train.shape[1], 1, rng, False)
    net.fit(xs_train[fit_rows], ys[fit_rows], xs_train[valid_rows], ys[valid_rows], rng)
    return net.forward(xs_test)[-1][:, 0] * deviation + mean


def nrmse(predicted, truth):
    return float(np.sqrt(np.mean((predicted - truth) ** 2)) / truth.std())


# --- running oscnet-train --------------------------------------------------------------


def run_trainer(trainer, arguments, timeout=3600):
    done = subprocess.run([trainer] + arguments + ["--quiet"], capture_output=True, text=True,
                          timeout=timeout)
    if done.returncode != 0:
        return None, (done.stderr.strip().splitlines() or ["exit %d" % done.returncode])[-1]
    return done.stdout, None


def network_test_nrmse(report):
    for line in report.splitlines():
        fields = line.split()
        # The figures' line: "network", then RMSE and NRMSE on the training and test rows.
        if len(fields) == 5 and fields[0] == "network":
            return float(fields[-1]) if fields[-1] != "n/a" else float("nan")
    raise ValueError("no network line in the report:\n" + report)


def best_epoch(report):
    found = re.search(r"best validation loss \S+ at epoch (\d+)", report)
    return int(found.group(1)) if found else None


def evaluate_table(trainer, path, work, extra):
    header, rows = read_table(path)
    cells = np.array(rows, dtype=float)
    order = np.random.default_rng(SHUFFLE_SEED).permutation(len(cells))
    cells = cells[order]
    shuffled = os.path.join(work, "data.csv")
    write_rows(shuffled, header, [rows[i] for i in order])
    n_test = test_count(len(cells))
    x, y = cells[:, :-1], cells[:, -1]
    x_train, y_train, x_test, y_test = x[:-n_test], y[:-n_test], x[-n_test:], y[-n_test:]
    report, error = run_trainer(trainer, ["--data", shuffled, "--split", "tail"] + extra)
    result = {
        "shape": f"{len(cells)}x{x.shape[1]}",
        "oscnet": network_test_nrmse(report) if report else None,
        "error": error,
        "epoch": best_epoch(report) if report else None,
        "mean": nrmse(np.full(n_test, y_train.mean()), y_test),
        "linear": nrmse(linear_fit(x_train, y_train, x_test), y_test),
        "mlp": nrmse(perceptron(x_train, y_train, x_test, False), y_test),
    }
    return result


def lagged(values, lags, horizon):
    first = max(lags)
    count = len(values) - first - horizon
    x = np.column_stack([values[first - lag:first - lag + count] for lag in lags])
    y = values[first + horizon:first + horizon + count]
    return x, y


def evaluate_series(trainer, path, work, extra, lags, horizon, lag_columns):
    header, rows = read_table(path)
    values = np.array([float(r[-1]) for r in rows])
    x, y = lagged(values, lags, horizon)
    n_test = test_count(len(y))
    if lag_columns:
        data = os.path.join(work, "lagged.csv")
        write_rows(data, [f"lag{lag}" for lag in lags] + ["target"],
                   [list(map(repr, a)) + [repr(b)] for a, b in zip(x, y)])
        arguments = ["--data", data, "--split", "tail"]
    else:
        arguments = ["--data", path, "--target", header[-1], "--lags",
                     ",".join(map(str, lags)), "--horizon", str(horizon)]
    report, error = run_trainer(trainer, arguments + extra)
    x_train, y_train, x_test, y_test = x[:-n_test], y[:-n_test], x[-n_test:], y[-n_test:]
    current = lags.index(0) if 0 in lags else None
    result = {
        "shape": f"{len(values)} ({len(lags)} lags, h {horizon})",
        "oscnet": network_test_nrmse(report) if report else None,
        "error": error,
        "epoch": best_epoch(report) if report else None,
        "mean": nrmse(np.full(n_test, y_train.mean()), y_test),
        "naive": nrmse(x_test[:, current], y_test) if current is not None else None,
        "linear": nrmse(linear_fit(x_train, y_train, x_test), y_test),
        "mlp": nrmse(perceptron(x_train, y_train, x_test, False, time_ordered=True), y_test),
    }
    return result


def predicted_by_weights(weights, x_test):
    import oscnet  # the package under python/, on PYTHONPATH

    with oscnet.Network.load(weights, seed=1) as network:
        return np.array(network.predict_rows(x_test.tolist()), dtype=float)


def evaluate_classes(trainer, path, work, extra, one_hot):
    header, rows = read_table(path)
    order = np.random.default_rng(SHUFFLE_SEED).permutation(len(rows))
    rows = [rows[i] for i in order]
    labels = [r[-1] for r in rows]
    names = sorted(set(labels))
    y = np.array([names.index(label) for label in labels])
    x = np.array([r[:-1] for r in rows], dtype=float)
    n_test = test_count(len(rows))
    x_train, y_train, x_test, y_test = x[:-n_test], y[:-n_test], x[-n_test:], y[-n_test:]
    if one_hot:
        data = os.path.join(work, "onehot.csv")
        write_rows(data, header[:-1] + [f"is_{name}" for name in names],
                   [r[:-1] + ["1" if r[-1] == name else "0" for name in names] for r in rows])
        weights = os.path.join(work, "weights.json")
        report, error = run_trainer(trainer, ["--data", data, "--targets", str(len(names)),
                                              "--split", "tail", "--save", weights] + extra)
        accuracy = None
        if report:
            accuracy = float(np.mean(predicted_by_weights(weights, x_test).argmax(axis=1)
                                     == y_test))
    else:
        data = os.path.join(work, "shuffled.csv")
        write_rows(data, header, rows)
        output = os.path.join(work, "predicted.csv")
        report, error = run_trainer(trainer, ["--data", data, "--classify", header[-1],
                                              "--split", "tail", "--output", output] + extra)
        accuracy = None
        if report:
            # The test rows' true label, then the predicted one, end each line.
            _, predicted = read_table(output)
            if len(predicted) != n_test:
                raise RuntimeError(f"{path}: {len(predicted)} test rows predicted, not {n_test}")
            accuracy = float(np.mean([r[-1] == r[-2] for r in predicted]))
    majority = np.bincount(y_train).argmax()
    result = {
        "shape": f"{len(rows)}x{x.shape[1]}, {len(names)} classes",
        "oscnet": accuracy,
        "error": error,
        "epoch": best_epoch(report) if report else None,
        "majority": float(np.mean(y_test == majority)),
        "linear": float(np.mean(softmax_regression(x_train, y_train, len(names), x_test)
                                .argmax(axis=1) == y_test)),
        "mlp": float(np.mean(perceptron(x_train, y_train, x_test, True, len(names))
                             .argmax(axis=1) == y_test)),
    }
    return result


# --- the table ---------------------------------------------------------------------------


def verdict(kind, r):
    if r["oscnet"] is None or np.isnan(r["oscnet"]):
        return "FAILED"
    if kind == "classes":
        beats = r["oscnet"] > r["majority"]
        close = r["oscnet"] >= max(r["linear"], r["mlp"]) - 0.03
        return ("beats naive" if beats else "NOT above majority") + (
            ", close" if close else ", BEHIND")
    naive = [r["mean"]] + ([r["naive"]] if r.get("naive") is not None else [])
    beats = r["oscnet"] < min(naive)
    close = r["oscnet"] <= 1.1 * r["mlp"]
    return ("beats naive" if beats else "NOT below naive") + (", close" if close else ", BEHIND")


def show(value, classes):
    if value is None:
        return "-"
    return f"{value:.3f}" if classes else f"{value:.4f}"


def print_table(results):
    print(f"{'set':<22} {'shape':<28} {'oscnet':>7} {'epoch':>6} {'mean/maj':>8} {'naive':>7} "
          f"{'linear':>7} {'mlp':>7}  verdict")
    for name, kind, r in results:
        classes = kind == "classes"
        print(f"{name:<22} {r['shape']:<28} {show(r['oscnet'], classes):>7} "
              f"{r['epoch'] if r['epoch'] else '-':>6} "
              f"{show(r.get('majority', r.get('mean')), classes):>8} "
              f"{show(r.get('naive'), classes):>7} {show(r['linear'], classes):>7} "
              f"{show(r['mlp'], classes):>7}  {verdict(kind, r)}"
              + (f"  ({r['error']})" if r["error"] else ""))
    print("(tables and series: test NRMSE, lower is better; classes: test accuracy)")
    regression = [r for _, kind, r in results if kind != "classes" and r["oscnet"] is not None]
    if regression:
        ratios = [r["oscnet"] / r["mlp"] for r in regression]
        print(f"oscnet/mlp NRMSE: geometric mean {np.exp(np.mean(np.log(ratios))):.3f}, "
              f"worst {max(ratios):.3f}")
    classes = [r for _, kind, r in results if kind == "classes" and r["oscnet"] is not None]
    if classes:
        gaps = [max(r["linear"], r["mlp"]) - r["oscnet"] for r in classes]
        print(f"accuracy behind the better classifier: mean {np.mean(gaps):.3f}, "
              f"worst {max(gaps):.3f}")


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="Options after -- are given to every oscnet-train run.")
    parser.add_argument("trainer", help="the oscnet-train program")
    parser.add_argument("data", help="the directory make-trial-data.py wrote")
    parser.add_argument("--only", help="a regular expression: the sets to run")
    parser.add_argument("--jobs", type=int, default=2, help="sets run at once (default 2)")
    parser.add_argument("--lag-columns", action="store_true",
                        help="build lag columns here instead of using --lags")
    parser.add_argument("--one-hot", action="store_true",
                        help="one target column per class instead of --classify")
    parser.add_argument("--table", default="", help="extra options for tables only")
    parser.add_argument("--series", default="", help="extra options for series only")
    parser.add_argument("--classes", default="", help="extra options for classes only")
    parser.add_argument("--json", help="also write the results to this file")
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    args = parser.parse_args(argv[:argv.index("--")] if "--" in argv else argv)
    args.extra = extra

    with open(os.path.join(args.data, "manifest.csv"), newline="") as handle:
        sets = list(csv.DictReader(handle))
    if args.only:
        sets = [s for s in sets if re.search(args.only, s["name"])]

    def one(s):
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(args.data, s["name"] + ".csv")
            kind = s["kind"]
            if kind == "table":
                return evaluate_table(args.trainer, path, work, args.extra + args.table.split())
            if kind == "classes":
                return evaluate_classes(args.trainer, path, work,
                                        args.extra + args.classes.split(), args.one_hot)
            lags, horizon = s["lags;horizon"].split(";")
            return evaluate_series(args.trainer, path, work, args.extra + args.series.split(),
                                   [int(v) for v in lags.split(",")], int(horizon),
                                   args.lag_columns)

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        found = list(pool.map(one, sets))
    results = [(s["name"], s["kind"], r) for s, r in zip(sets, found)]
    print("options:", " ".join(args.extra) or "(defaults)",
          *(f"| {k} {v}" for k, v in (("tables", args.table), ("series", args.series),
                                       ("classes", args.classes)) if v))
    print_table(results)
    if args.json:
        with open(args.json, "w") as handle:
            json.dump(results, handle, indent=1)


if __name__ == "__main__":
    main()
