#!/usr/bin/env python3
"""Prints two builds' benchmark medians side by side: before, after, their ratio, and each side's
ratios to FANN and to the fused floor.

    compare_table.py --before A1.json [A2.json ...] --after B1.json [B2.json ...]

Each file is the JSON of one `oscnet_bench --benchmark_format=json` run. With several runs per
side, a side's figure is the median of its runs' medians, and its ratios are the medians of the
ratios within each run, so that a load that came and went between runs does not skew them.
"""
import statistics
import sys

import ratio_table

ROWS = [
    ("train, gradient descent", "train/{}/oscnet_gd", "train/{}/fann", "train/{}/floor_gd"),
    ("train, Adagrad", "train/{}/oscnet_adagrad", None, "train/{}/floor_adagrad"),
    ("train, one step per call", "train/{}/oscnet_gd_one_per_call", "train/{}/fann", None),
    ("handle, one step per call", "train/{}/handle_gd_one_per_call", "train/{}/fann", None),
    ("Predict", "predict/{}/oscnet", "predict/{}/fann", "predict/{}/floor"),
    ("predict 1000 rows at once, per row", "rows/{}/at_once", None, None),
]


def side(runs, ours, other):
    """The median of ours over the runs, and the median over the runs of ours / other."""
    mine = [m[ours] for m in runs if ours in m]
    if not mine:
        return None, None
    ratios = [m[ours] / m[other] for m in runs if ours in m and other and other in m]
    return statistics.median(mine), statistics.median(ratios) if ratios else None


def ratio_text(value):
    return "-" if value is None else f"{value:.2f}"


def parse(arguments):
    files = {"--before": [], "--after": []}
    current = None
    for argument in arguments:
        if argument in files:
            current = argument
        elif current is None:
            sys.exit(__doc__)
        else:
            files[current].append(argument)
    if not files["--before"] or not files["--after"]:
        sys.exit(__doc__)
    return files["--before"], files["--after"]


def main():
    before_files, after_files = parse(sys.argv[1:])
    load = lambda names: [ratio_table.medians(ratio_table.load(name)) for name in names]
    before, after = load(before_files), load(after_files)
    print(f"{len(before)} run(s) before, {len(after)} after\n")
    print("| what | network | before | after | after/before | before: /FANN, /floor | "
          "after: /FANN, /floor |")
    print("|---|---|---|---|---|---|---|")
    for label, ours, fann, floor in ROWS:
        for size in ratio_table.SIZES:
            name = ours.format(size)
            fann_name = fann.format(size) if fann else None
            floor_name = floor.format(size) if floor else None
            b, b_fann = side(before, name, fann_name)
            a, a_fann = side(after, name, fann_name)
            if a is None and b is None:
                continue
            _, b_floor = side(before, name, floor_name)
            _, a_floor = side(after, name, floor_name)
            change = None if a is None or b is None else a / b
            print(f"| {label} | {size} | {ratio_table.show(b)} | {ratio_table.show(a)} | "
                  f"{ratio_text(change)} | {ratio_text(b_fann)}, {ratio_text(b_floor)} | "
                  f"{ratio_text(a_fann)}, {ratio_text(a_floor)} |")


if __name__ == "__main__":
    main()
