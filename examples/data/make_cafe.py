#!/usr/bin/env python3
"""Writes cafe.csv: a year of made-up daily sales at a small cafe, for trying oscnet-train.

One row per day of 2023, in order. Inputs: the day's high temperature (degrees C), rain (mm),
whether it is a Saturday or Sunday, and whether a promotion ran. Targets: hot and cold drinks
sold. The sales follow the formulas below plus noise, so a network can learn most but not all
of them:

    hot  = 190 - 5.5 temp + 2 rain + 45 weekend + 25 promotion + noise (deviation 10)
    cold =  12 + 0.22 temp^2 - 1.5 rain + 30 weekend + 15 promotion + noise (deviation 8)

Both are rounded to whole drinks and never below 0. Only Random.random() is used, whose
sequence for a given seed Python keeps from version to version, so the file is reproducible:

    python3 examples/data/make_cafe.py > examples/data/cafe.csv
"""

import math
import random

SEED = 2023
DAYS = 365
FIRST_WEEKDAY = 6  # 1 January 2023 was a Sunday (Monday is 0)


def normal(rng):
    """A standard normal draw (Box-Muller), from random() alone."""
    return math.sqrt(-2.0 * math.log(1.0 - rng.random())) * math.cos(2.0 * math.pi * rng.random())


def main():
    rng = random.Random(SEED)
    print("temperature_c,rain_mm,weekend,promotion,hot_drinks,cold_drinks")
    for day in range(DAYS):
        season = math.cos(2.0 * math.pi * (day - 200) / DAYS)  # warmest in mid-July
        temperature = round(13.0 + 9.0 * season + 3.0 * normal(rng), 1)
        rain = round(-6.0 * math.log(1.0 - rng.random()), 1) if rng.random() < 0.35 else 0.0
        weekend = 1 if (FIRST_WEEKDAY + day) % 7 >= 5 else 0
        promotion = 1 if rng.random() < 0.1 else 0
        hot = 190 - 5.5 * temperature + 2 * rain + 45 * weekend + 25 * promotion + 10 * normal(rng)
        cold = (12 + 0.22 * temperature**2 - 1.5 * rain + 30 * weekend + 15 * promotion
                + 8 * normal(rng))
        print(f"{temperature},{rain},{weekend},{promotion},{max(0, round(hot))},{max(0, round(cold))}")


if __name__ == "__main__":
    main()
