#!/usr/bin/python3
"""Writes trial data sets of many shapes into a directory, for judging oscnet-train's defaults.

    /usr/bin/python3 scripts/make-trial-data.py DIRECTORY

Every set is drawn from a fixed seed, so the files are the same on every run. Three kinds:

- reg_*.csv: tables with numeric inputs and one numeric target, the last column. Noisy smooth
  functions, interactions, irrelevant and collinear columns, columns on very different scales.
- cls_*.csv: tables whose last column is a class label (text or numbers). Separable and
  overlapping classes, two or more, balanced or not, one file sorted by class.
- ser_*.csv: one series in time order, the value in the last column, sometimes after a date or
  year column. Chaotic maps and flows, and seasonal series with trend and noise.

A file manifest.csv lists each set with its kind and, for series, the lags and horizon to
forecast with.
"""

import csv
import os
import sys

import numpy as np


def write_csv(path, header, columns, formats):
    """Writes columns (equal-length sequences) under header, each cell through its format."""
    with open(path, "w", newline="") as handle:
        out = csv.writer(handle, lineterminator="\n")
        out.writerow(header)
        for row in zip(*columns):
            out.writerow(fmt.format(value) for fmt, value in zip(formats, row))


def table(directory, name, inputs, target, names=None, target_format="{:.6g}"):
    names = names or [f"x{i + 1}" for i in range(inputs.shape[1])]
    write_csv(
        os.path.join(directory, name + ".csv"),
        names + ["y"],
        [inputs[:, i] for i in range(inputs.shape[1])] + [target],
        ["{:.6g}"] * inputs.shape[1] + [target_format],
    )


def noisy(rng, signal, fraction):
    """signal plus normal noise whose deviation is `fraction` of the signal's."""
    return signal + rng.normal(0.0, fraction * signal.std(), signal.shape)


# --- regression tables ------------------------------------------------------------------


def regression_sets(rng, directory):
    sets = []

    # Friedman's first function: 5 relevant inputs of 10, uniform on [0, 1].
    x = rng.uniform(0.0, 1.0, (600, 10))
    y = (10 * np.sin(np.pi * x[:, 0] * x[:, 1]) + 20 * (x[:, 2] - 0.5) ** 2 + 10 * x[:, 3]
         + 5 * x[:, 4])
    table(directory, "reg_friedman", x, noisy(rng, y, 0.2))
    sets.append("reg_friedman")

    # A weak, mostly linear signal in 10 correlated inputs, as in medical tables.
    n = 442
    base = rng.normal(0.0, 1.0, (n, 4))
    mix = rng.normal(0.0, 1.0, (4, 10))
    x = base @ mix + 0.7 * rng.normal(0.0, 1.0, (n, 10))
    w = rng.normal(0.0, 1.0, 10)
    y = x @ w + 0.5 * np.maximum(x[:, 2], 0.0) ** 2
    table(directory, "reg_weak_linear", x, 150 + noisy(rng, y, 0.8) * 10)
    sets.append("reg_weak_linear")

    # Smooth nonlinear in 3 inputs, plus 5 irrelevant ones.
    x = rng.uniform(-2.0, 2.0, (800, 8))
    y = np.sin(1.5 * x[:, 0]) + np.exp(-x[:, 1] ** 2) * 2 + 0.3 * x[:, 2] ** 3
    table(directory, "reg_smooth_irrelevant", x, noisy(rng, y, 0.1))
    sets.append("reg_smooth_irrelevant")

    # Interactions only: no input helps alone.
    x = rng.normal(0.0, 1.0, (1000, 6))
    y = x[:, 0] * x[:, 1] + x[:, 2] * x[:, 3] - x[:, 4] * x[:, 5]
    table(directory, "reg_interactions", x, noisy(rng, y, 0.15))
    sets.append("reg_interactions")

    # Columns on very different scales: huge, tiny, offset; two exact copies scaled.
    n = 700
    z = rng.normal(0.0, 1.0, (n, 5))
    x = np.column_stack([
        1e6 * z[:, 0],              # huge
        1e-5 * z[:, 1],             # tiny
        1000.0 + 0.5 * z[:, 2],     # offset, small spread
        z[:, 3],
        3.0 * z[:, 0] + 0.01 * rng.normal(0.0, 1.0, n),  # collinear with the first
        rng.normal(0.0, 1.0, n),    # irrelevant
        2e-3 * z[:, 4],
    ])
    y = 2 * np.tanh(z[:, 0]) + z[:, 1] * z[:, 2] + 0.5 * z[:, 3] ** 2 - z[:, 4]
    table(directory, "reg_scales", x, 5e4 + 1e4 * noisy(rng, y, 0.15))
    sets.append("reg_scales")

    # Many inputs: 30 columns, a smooth function of a few directions in them.
    n = 2000
    x = rng.normal(0.0, 1.0, (n, 30))
    u = x @ rng.normal(0.0, 0.3, (30, 3))
    y = np.tanh(u[:, 0]) * 2 + np.sin(u[:, 1]) + 0.5 * u[:, 2] ** 2
    table(directory, "reg_wide", x, noisy(rng, y, 0.2))
    sets.append("reg_wide")

    # Two inputs, few rows: a bumpy surface.
    x = rng.uniform(-1.0, 1.0, (300, 2))
    y = np.sin(3 * x[:, 0]) * np.cos(2 * x[:, 1]) + 0.5 * x[:, 0]
    table(directory, "reg_small_2d", x, noisy(rng, y, 0.1))
    sets.append("reg_small_2d")

    return [(name, "table", "") for name in sets]


# --- classification tables ------------------------------------------------------------


def gaussian_classes(rng, counts, centres, spread):
    x = np.vstack([rng.normal(c, spread, (k, len(c))) for k, c in zip(counts, centres)])
    y = np.concatenate([np.full(k, i) for i, k in enumerate(counts)])
    return x, y


def shuffled(rng, x, y):
    order = rng.permutation(len(y))
    return x[order], y[order]


def class_table(directory, name, x, labels):
    names = [f"x{i + 1}" for i in range(x.shape[1])]
    write_csv(
        os.path.join(directory, name + ".csv"),
        names + ["label"],
        [x[:, i] for i in range(x.shape[1])] + [labels],
        ["{:.6g}"] * x.shape[1] + ["{}"],
    )


def classification_sets(rng, directory):
    sets = []

    # Two classes, 30 inputs on different scales, nearly separable, 62/38.
    centres = [np.zeros(30), np.full(30, 0.6)]
    x, y = gaussian_classes(rng, [357, 212], centres, 1.0)
    mixing = np.eye(30) + 0.3 * rng.normal(0.0, 1.0, (30, 30))
    x = x @ mixing * np.logspace(-2, 3, 30) + np.linspace(0, 500, 30)
    x, y = shuffled(rng, x, y)
    class_table(directory, "cls_two_wide", x, np.array(["benign", "malignant"])[y])
    sets.append("cls_two_wide")

    # Three overlapping classes in 4 inputs, sorted by class, numbers as labels.
    centres = [np.array([5.0, 3.4, 1.5, 0.2]), np.array([5.9, 2.8, 4.3, 1.3]),
               np.array([6.6, 3.0, 5.5, 2.0])]
    x, y = gaussian_classes(rng, [100, 100, 100], centres, np.array([0.4, 0.3, 0.5, 0.25]))
    class_table(directory, "cls_three_sorted", x, y)
    sets.append("cls_three_sorted")

    # Four classes on rings and quadrants in 2 inputs: not linearly separable.
    n = 800
    x = rng.uniform(-1.0, 1.0, (n, 2))
    radius = np.hypot(x[:, 0], x[:, 1])
    y = (radius > 0.6).astype(int) * 2 + (x[:, 0] * x[:, 1] > 0).astype(int)
    x = x + rng.normal(0.0, 0.05, x.shape)
    class_table(directory, "cls_rings", x, np.array(["inner_a", "inner_b", "outer_a",
                                                     "outer_b"])[y])
    sets.append("cls_rings")

    # Imbalanced two classes, 90/10, 8 inputs, overlapping; labels 1 and 2.
    centres = [np.zeros(8), np.concatenate([np.full(3, 1.2), np.zeros(5)])]
    x, y = gaussian_classes(rng, [900, 100], centres, 1.0)
    x, y = shuffled(rng, x, y)
    class_table(directory, "cls_imbalanced", x, y + 1)
    sets.append("cls_imbalanced")

    # Five classes, 12 inputs, moderate overlap, text labels.
    centres = [rng.normal(0.0, 1.2, 12) for _ in range(5)]
    x, y = gaussian_classes(rng, [300, 250, 200, 150, 100], centres, 1.0)
    x, y = shuffled(rng, x, y)
    class_table(directory, "cls_five", x, np.array(["ash", "birch", "cedar", "elm", "fir"])[y])
    sets.append("cls_five")

    return [(name, "classes", "") for name in sets]


# --- series ----------------------------------------------------------------------------


def series_file(directory, name, values, when=None, when_name="date"):
    columns = [values]
    header = ["value"]
    formats = ["{:.6g}"]
    if when is not None:
        columns.insert(0, when)
        header.insert(0, when_name)
        formats.insert(0, "{}")
    write_csv(os.path.join(directory, name + ".csv"), header, columns, formats)


def logistic_map(rng, n):
    x = np.empty(n)
    x[0] = 0.2
    for t in range(1, n):
        x[t] = 3.9 * x[t - 1] * (1 - x[t - 1])
    return x + rng.normal(0.0, 0.01, n)


def henon(n):
    x, y = 0.1, 0.1
    out = np.empty(n + 100)
    for t in range(n + 100):
        x, y = 1 - 1.4 * x * x + y, 0.3 * x
        out[t] = x
    return out[100:]


def lorenz_x(n, dt=0.01, every=5):
    s = np.array([1.0, 1.0, 1.0])

    def f(s):
        return np.array([10 * (s[1] - s[0]), s[0] * (28 - s[2]) - s[1],
                         s[0] * s[1] - 8.0 / 3.0 * s[2]])

    out = []
    for step in range((n + 200) * every):
        k1 = f(s)
        k2 = f(s + dt / 2 * k1)
        k3 = f(s + dt / 2 * k2)
        k4 = f(s + dt * k3)
        s = s + dt / 6 * (k1 + 2 * k2 + 2 * k3 + k4)
        if step % every == 0:
            out.append(s[0])
    return np.array(out[200:200 + n])


def mackey_glass(n, tau, step=0.1, sample=1.0):
    history = int(round(tau / step))
    per_sample = int(round(sample / step))
    x = [1.2] * (history + 1)
    out = []
    for i in range((n + 300) * per_sample):
        lagged = x[-history - 1]
        x.append(x[-1] + step * (0.2 * lagged / (1 + lagged ** 10) - 0.1 * x[-1]))
        if i % per_sample == 0:
            out.append(x[-1])
    return np.array(out[300:300 + n])


def series_sets(rng, directory):
    sets = []

    series_file(directory, "ser_logistic", logistic_map(rng, 800))
    sets.append(("ser_logistic", "series", "2,1,0;1"))

    series_file(directory, "ser_henon", henon(800) + rng.normal(0.0, 0.01, 800))
    sets.append(("ser_henon", "series", "3,2,1,0;1"))

    series_file(directory, "ser_lorenz", lorenz_x(1200))
    sets.append(("ser_lorenz", "series", "6,4,2,0;2"))

    series_file(directory, "ser_mackey30", mackey_glass(1200, 30.0))
    sets.append(("ser_mackey30", "series", "18,12,6,0;6"))

    # Monthly: trend, a yearly season, noise; 20 years.
    months = 240
    t = np.arange(months)
    values = (100 + 0.25 * t + 12 * np.sin(2 * np.pi * t / 12) + 5 * np.cos(2 * np.pi * t / 6)
              + rng.normal(0.0, 3.0, months))
    dates = [f"{2001 + m // 12}-{m % 12 + 1:02d}" for m in t]
    series_file(directory, "ser_monthly", values, dates, "month")
    sets.append(("ser_monthly", "series", "12,11,1,0;1"))

    # Yearly, ~11-year cycles of changing height, never below 0: 280 years.
    years = np.arange(1720, 2000)
    phase = 2 * np.pi * (years - 1720) / 11.1
    height = 80 + 40 * np.sin(2 * np.pi * (years - 1720) / 90) + rng.normal(0.0, 10.0, len(years))
    values = np.maximum(0.0, height * np.sin(phase / 2) ** 2 + rng.normal(0.0, 8.0, len(years)))
    series_file(directory, "ser_yearly_cycles", np.round(values, 1), years, "year")
    sets.append(("ser_yearly_cycles", "series", "8,4,2,1,0;1"))

    # Yearly, short: 120 values of a noisy predator cycle of about 10 years, in logs.
    years = np.arange(1850, 1970)
    cycle = np.sin(2 * np.pi * (years - 1850) / 9.6)
    values = np.exp(7 + 1.5 * cycle + 0.4 * cycle ** 3 + rng.normal(0.0, 0.3, len(years)))
    series_file(directory, "ser_yearly_short", np.round(values), years, "year")
    sets.append(("ser_yearly_short", "series", "4,2,1,0;2"))

    return sets


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-trial-data.py DIRECTORY")
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    rng = np.random.default_rng(20261209)
    sets = regression_sets(rng, directory) + classification_sets(rng, directory)
    sets += series_sets(rng, directory)
    with open(os.path.join(directory, "manifest.csv"), "w", newline="") as handle:
        out = csv.writer(handle, lineterminator="\n")
        out.writerow(["name", "kind", "lags;horizon"])
        out.writerows(sets)
    print(f"wrote {len(sets)} sets to {directory}")


if __name__ == "__main__":
    main()
