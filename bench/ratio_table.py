#!/usr/bin/env python3
"""Prints oscnet's benchmark medians next to FANN's and the fused floor's, with the ratios; then
network handles against the default network, networks trained on one and two threads, and many
rows predicted at once against one row per call.

Reads the JSON of `oscnet_bench --benchmark_format=json --benchmark_repetitions=N` on standard
input (or from the file named as the only argument). Times are per training step for train, per
row for the row benchmarks and per call for Predict and build_net.
"""
import json
import sys

SIZES = ["tiny", "small", "medium", "large", "small_lee"]


def medians(report):
    """Maps 'train/tiny/fann' and the like to the median seconds per step or call."""
    found = {}
    for bench in report["benchmarks"]:
        if bench.get("aggregate_name", "median") != "median":
            continue
        name = bench.get("run_name", bench["name"]).removesuffix("_median")
        name = name.removesuffix("/real_time")
        if "step" in bench:
            found[name] = bench["step"]  # the step counter is already seconds per step
        elif "row" in bench:
            found[name] = bench["row"]  # seconds per row
        elif "steps_per_second" in bench:
            found[name] = bench["steps_per_second"]  # a rate, not a time
            found[name + "/cpu"] = bench["thread_cpu_per_step"]
        else:
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[bench["time_unit"]]
            found[name] = bench["cpu_time"] * scale
    return found


def show(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def ratio(a, b):
    return "-" if a is None or b is None else f"{a / b:.2f}"


def load(name):
    """The report in the file `name`, or on standard input for None."""
    if name is None:
        return json.load(sys.stdin)
    with open(name) as source:
        return json.load(source)


def main():
    report = load(sys.argv[1] if len(sys.argv) > 1 else None)
    m = medians(report)
    rows = [
        ("train, gradient descent", "train/{}/oscnet_gd", "train/{}/fann", "train/{}/floor_gd"),
        ("train, Adagrad", "train/{}/oscnet_adagrad", None, "train/{}/floor_adagrad"),
        ("train, one step per call", "train/{}/oscnet_gd_one_per_call", "train/{}/fann", None),
        ("Predict", "predict/{}/oscnet", "predict/{}/fann", "predict/{}/floor"),
    ]
    print(f"{report['context'].get('host_name', '')}: {report['context']['num_cpus']} CPUs at "
          f"{report['context']['mhz_per_cpu']} MHz, medians of "
          f"{report['benchmarks'][0].get('repetitions', 1)} repetitions\n")
    print("| what | network | oscnet | FANN | floor | oscnet/FANN | oscnet/floor |")
    print("|---|---|---|---|---|---|---|")
    for label, ours, fann, floor in rows:
        for size in SIZES:
            o = m.get(ours.format(size))
            f = m.get(fann.format(size)) if fann else None
            fl = m.get(floor.format(size)) if floor else None
            if o is None:
                continue
            print(f"| {label} | {size} | {show(o)} | {show(f)} | {show(fl)} | {ratio(o, f)} | "
                  f"{ratio(o, fl)} |")
    print("\n| build_net | " + " | ".join(SIZES) + " |")
    print("|---|" + "---|" * len(SIZES))
    print("| oscnet | " + " | ".join(show(m.get(f"build/{s}/oscnet")) for s in SIZES) + " |")
    print_handles(m)


def print_handles(m):
    rows = [
        ("train, gradient descent", "train/{}/oscnet_gd", "train/{}/handle_gd"),
        ("train, Adagrad", "train/{}/oscnet_adagrad", "train/{}/handle_adagrad"),
        ("train, one step per call", "train/{}/oscnet_gd_one_per_call",
         "train/{}/handle_gd_one_per_call"),
        ("predict one row", "predict/{}/oscnet", "predict/{}/handle"),
    ]
    print("\n| what | network | default network | handle | handle/default |")
    print("|---|---|---|---|---|")
    for label, default, handle in rows:
        for size in SIZES:
            d, h = m.get(default.format(size)), m.get(handle.format(size))
            if d is None and h is None:
                continue
            print(f"| {label} | {size} | {show(d)} | {show(h)} | {ratio(h, d)} |")

    threads = [s for s in SIZES if f"threads/{s}/train_1" in m]
    if threads:
        print("\n| training, gradient descent | network | one network on one thread | two "
              "networks on two threads | ratio |")
        print("|---|---|---|---|---|")
        for size in threads:
            one, two = m.get(f"threads/{size}/train_1"), m.get(f"threads/{size}/train_2")
            print(f"| steps per second | {size} | {one:.3g} | "
                  f"{'-' if two is None else f'{two:.3g}'} | {ratio(two, one)} |")
            one, two = m.get(f"threads/{size}/train_1/cpu"), m.get(f"threads/{size}/train_2/cpu")
            print(f"| processor time per step on its thread | {size} | {show(one)} | {show(two)} "
                  f"| {ratio(two, one)} |")

    batched = [s for s in SIZES if f"rows/{s}/at_once" in m]
    if batched:
        print("\n| predict 1000 rows, per row | network | one row per call | all rows in one call "
              "| ratio |")
        print("|---|---|---|---|---|")
        for size in batched:
            single, block = m.get(f"rows/{size}/one_by_one"), m.get(f"rows/{size}/at_once")
            print(f"| oscnet_predict_rows | {size} | {show(single)} | {show(block)} | "
                  f"{ratio(single, block)} |")


if __name__ == "__main__":
    main()
