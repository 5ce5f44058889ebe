#!/usr/bin/env python3
"""Writes lake.csv: a made-up yearly series, the mean summer level of a lake (cm above a gauge's
zero) from 1801 to 2020, for trying oscnet-train on a series with --lags.

One row per year, in order: the year, then the level. The level follows a wet-and-dry cycle of
about 11 years whose height drifts slowly, plus weather noise, and each year keeps a little of
the last year's surplus:

    level(t) = 120 + height(t) sin(2 pi t / 11) + 0.4 (level(t-1) - 120) + noise (deviation 6)

The year is for reading the plot: give it with --time; the inputs are the lagged levels.
Only Random.random() is used, whose sequence for a given seed Python keeps from version to
version, so the file is reproducible:

    python3 examples/data/make_lake.py > examples/data/lake.csv
"""

import math
import random

SEED = 1801
FIRST_YEAR = 1801
YEARS = 220


def normal(rng):
    """A standard normal draw (Box-Muller), from random() alone."""
    return math.sqrt(-2.0 * math.log(1.0 - rng.random())) * math.cos(2.0 * math.pi * rng.random())


def main():
    rng = random.Random(SEED)
    print("year,level_cm")
    level = 120.0
    for t in range(YEARS):
        height = 25 + 10 * math.sin(2 * math.pi * t / 97)
        level = (120 + height * math.sin(2 * math.pi * t / 11) + 0.4 * (level - 120)
                 + 6 * normal(rng))
        print(f"{FIRST_YEAR + t},{level:.1f}")


if __name__ == "__main__":
    main()
