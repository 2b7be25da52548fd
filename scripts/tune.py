#!/usr/bin/python3
"""How often `vimor fit` reaches the best value, and how long it takes.

    scripts/tune.py [--cli PATH] [--seeds N] [--first-seed S] [--only NAME] [-- FIT FLAGS...]

For every data set below it runs `vimor fit --json --seed S` with the given
fit flags (default: none, so the shared defaults of fit/defaults.json) for
S = 7, 1507, 3007, ... (N seeds, default 20; --first-seed 757 gives another
20 seeds, 757, 2257, ..., to check a setting chosen on the first ones),
reads the "objective", counts the fits that reach the data set's best value
(within 1e-9), and the restarts of all the fits that reach it (a finer
measure than the fits: with a share p of restarts reaching it, a fit of R
restarts misses it with probability about (1 - p)^R), and reports the mean
number of evaluations of a fit (the "evaluations" key; a cost that does not
depend on the machine) and the mean and largest wall time of one fit,
measured around the process. Prints a Markdown table. Standard library only.

Data sets:
  mroz       the command line's default model of the bundled data (753 x 8);
             best value known from long searches: 0.2609561752988046, 573 of
             753 classified correctly.
  separable  600 simulated observations, an intercept, three normal
             regressors and a normalized one; the response is exactly
             1[x.b >= 0] for a b inside the default box, so the best value
             classifies every observation correctly.
  line       40 simulated observations, one free coefficient and a
             normalized regressor: the objective is a step function of the
             free coefficient, so its best value over the default box is
             found by trying every step (the midpoint between consecutive
             sign changes of the indices).
"""
import argparse
import csv
import json
import math
import os
import random
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MROZ_BEST = 0.2609561752988046


def objective(y, columns, coef, fixed, quantile=0.5):
    """The library's objective, each double operation in the library's order."""
    n = len(y)
    weight = 1.0 / n
    shift = 1.0 - quantile
    score = 0.0
    for i in range(n):
        index = 0.0
        for j, c in enumerate(coef):
            index = columns[j][i] * c + index
        index = columns[-1][i] * fixed + index
        factor = 1.0 if index >= 0.0 else -1.0
        score = (weight * (y[i] - shift)) * factor + score
    return score


def population_sd(x):
    mean = sum(x) / len(x)
    return math.sqrt(sum((v - mean) ** 2 for v in x) / len(x))


def write_csv(path, names, rows):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(names)
        for row in rows:
            w.writerow([repr(v) for v in row])


def separable(folder):
    rng = random.Random(11)
    b = [0.3, 1.0, -0.5, 0.75, 1.0]  # intercept, x1, x2, x3, z (normalized)
    rows = []
    while len(rows) < 600:
        x = [rng.gauss(0, 1) for _ in range(4)]
        index = b[0] + sum(bj * xj for bj, xj in zip(b[1:], x))
        if abs(index) < 0.05:
            continue  # a margin, so the separating points form a region
        rows.append([1.0 if index >= 0 else 0.0] + x)
    path = os.path.join(folder, "separable.csv")
    write_csv(path, ["y", "x1", "x2", "x3", "z"], rows)
    y = [r[0] for r in rows]
    columns = [[1.0] * len(rows)] + [[r[j] for r in rows] for j in range(1, 5)]
    best = objective(y, columns, b[:4], b[4])  # every observation classified correctly
    return path, ["--y", "y", "--x", "x1,x2,x3,z", "--intercept", "--normalize", "z"], best


def line(folder):
    rng = random.Random(5)
    rows = []
    for _ in range(40):
        x = rng.gauss(0, 1)
        z = rng.gauss(0, 1)
        latent = 0.8 * x + z + rng.gauss(0, 1)
        rows.append([1.0 if latent >= 0 else 0.0, x, z])
    path = os.path.join(folder, "line.csv")
    write_csv(path, ["y", "x", "z"], rows)
    y = [r[0] for r in rows]
    x = [r[1] for r in rows]
    z = [r[2] for r in rows]
    half = (10.0 * 1.0) * population_sd(z) / population_sd(x)  # the default box
    cuts = sorted({-zi / xi for xi, zi in zip(x, z) if xi != 0.0 and -half < -zi / xi < half})
    edges = [-half] + cuts + [half]
    best = max(objective(y, [x, z], [0.5 * (a + b)], 1.0) for a, b in zip(edges, edges[1:]))
    return path, ["--y", "y", "--x", "x,z", "--normalize", "z"], best


def run(cli, data_args, seed, flags, best):
    start = time.monotonic()
    out = subprocess.run([cli, "fit", "--json", "--seed", str(seed)] + data_args + flags,
                         check=True, capture_output=True, text=True).stdout
    fit = json.loads(out)
    reaching = sum(r["objective"] >= best - 1e-9 for r in fit["restarts"])
    return (fit["objective"], reaching, len(fit["restarts"]), fit.get("evaluations", 0),
            time.monotonic() - start)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "hosts", "cli", "vimor"))
    parser.add_argument("--seeds", type=int, default=20)
    parser.add_argument("--first-seed", type=int, default=7)
    parser.add_argument("--only", choices=["mroz", "separable", "line"])
    parser.add_argument("flags", nargs="*", help="fit flags, after --")
    args = parser.parse_args()
    seeds = [args.first_seed + 1500 * k for k in range(args.seeds)]
    with tempfile.TemporaryDirectory() as folder:
        sets = {"mroz": ([], MROZ_BEST, "753 x 8")}
        for name, make in (("separable", separable), ("line", line)):
            path, data_args, best = make(folder)
            size = {"separable": "600 x 5", "line": "40 x 2"}[name]
            sets[name] = ([path] + data_args, best, size)
        print("| data | N x K | best value | fits reaching it | restarts reaching it "
              "| mean evaluations | mean wall s | largest wall s |")
        print("|:--|--:|--:|--:|--:|--:|--:|--:|")
        for name, (data_args, best, size) in sets.items():
            if args.only and name != args.only:
                continue
            hits, reaching, restarts, evaluations, walls = 0, 0, 0, 0, []
            for seed in seeds:
                value, good, tried, evals, wall = run(args.cli, data_args, seed, args.flags, best)
                hits += value >= best - 1e-9
                reaching += good
                restarts += tried
                evaluations += evals
                walls.append(wall)
            print("| %s | %s | %.10f | %d of %d | %s of %s | %s | %.2f | %.2f |"
                  % (name, size, best, hits, len(seeds), format(reaching, ","), format(restarts, ","),
                     format(evaluations // len(seeds), ","),
                     sum(walls) / len(walls), max(walls)))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
