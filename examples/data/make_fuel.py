#!/usr/bin/env python3
"""Writes fuel.csv: made-up fuel consumption of 300 used cars, for trying oscnet-train on a table.

One row per car, in no particular order. Columns: the car's model year, its mass (kg), engine
size (litres), power (kW), whether it is an estate (1) or not (0), the share of its test drive
spent in town (%), the paint's lightness (0 to 100, which has nothing to do with the fuel used)
and the target, litres per 100 km:

    l_per_100km = 2.2 + 0.0032 mass + 0.9 engine^0.8 + 0.012 power + 0.3 estate
                  + 0.025 town - 0.06 (year - 2000) + noise (deviation 0.35)

Power grows with the engine size, so the two columns say much the same thing. Only
Random.random() is used, whose sequence for a given seed Python keeps from version to version,
so the file is reproducible:

    python3 examples/data/make_fuel.py > examples/data/fuel.csv
"""

import math
import random

SEED = 1977
CARS = 300


def normal(rng):
    """A standard normal draw (Box-Muller), from random() alone."""
    return math.sqrt(-2.0 * math.log(1.0 - rng.random())) * math.cos(2.0 * math.pi * rng.random())


def main():
    rng = random.Random(SEED)
    print("year,mass_kg,engine_l,power_kw,estate,town_pct,paint_lightness,l_per_100km")
    for _ in range(CARS):
        year = 1995 + int(rng.random() * 29)
        engine = round(1.0 + 2.5 * rng.random() ** 1.5, 1)
        mass = round(900 + 280 * engine + 120 * normal(rng))
        power = round(30 + 38 * engine + 12 * normal(rng) + 0.8 * (year - 1995))
        estate = 1 if rng.random() < 0.3 else 0
        town = round(100 * rng.random())
        paint = round(100 * rng.random())
        fuel = (2.2 + 0.0032 * mass + 0.9 * engine**0.8 + 0.012 * power + 0.3 * estate
                + 0.025 * town - 0.06 * (year - 2000) + 0.35 * normal(rng))
        print(f"{year},{mass},{engine},{power},{estate},{town},{paint},{fuel:.2f}")


if __name__ == "__main__":
    main()
