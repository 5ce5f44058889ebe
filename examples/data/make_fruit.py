#!/usr/bin/env python3
"""Writes fruit.csv: made-up measurements of 240 pieces of fruit, for trying oscnet-train on
classes.

One row per piece, in no particular order. Columns: mass (g), length and width (cm), the skin's
hue (degrees on the colour wheel: red near 0, yellow near 60, green near 110), sugar (degrees
Brix), and the label: apple, lemon, orange or pear. Each kind's measurements are drawn around
its own typical values below; apples and oranges overlap, so no rule sorts every piece right.
Only Random.random() is used, whose sequence for a given seed Python keeps from version to
version, so the file is reproducible:

    python3 examples/data/make_fruit.py > examples/data/fruit.csv
"""

import math
import random

SEED = 4
PIECES = 240

# mean and deviation of mass, length, width, hue, sugar
KINDS = {
    "apple": ((170, 25), (7.2, 0.6), (7.6, 0.6), (30, 28), (13.0, 1.5)),
    "lemon": ((110, 18), (8.4, 0.7), (5.9, 0.5), (58, 6), (3.0, 1.0)),
    "orange": ((200, 30), (7.6, 0.6), (7.7, 0.6), (32, 5), (11.0, 1.3)),
    "pear": ((180, 30), (10.0, 1.0), (6.9, 0.6), (85, 20), (12.0, 1.5)),
}
SHARES = {"apple": 0.35, "lemon": 0.15, "orange": 0.25, "pear": 0.25}


def normal(rng):
    """A standard normal draw (Box-Muller), from random() alone."""
    return math.sqrt(-2.0 * math.log(1.0 - rng.random())) * math.cos(2.0 * math.pi * rng.random())


def pick(rng):
    draw = rng.random()
    for kind, share in SHARES.items():
        if draw < share:
            return kind
        draw -= share
    return kind


def main():
    rng = random.Random(SEED)
    print("mass_g,length_cm,width_cm,hue_deg,sugar_brix,fruit")
    for _ in range(PIECES):
        kind = pick(rng)
        mass, length, width, hue, sugar = (m + d * normal(rng) for m, d in KINDS[kind])
        print(f"{round(mass)},{length:.1f},{width:.1f},{max(0, round(hue))},{sugar:.1f},{kind}")


if __name__ == "__main__":
    main()
