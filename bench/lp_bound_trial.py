#!/usr/bin/python3
"""Would linear-programming bounds let the certificate's branch and bound reach 7 coefficients?

A trial, not the certificate: plain floating point, no allowance for the module's rounding. On a
random subsample of the default model (82 rows, as the subsampling draws; 7 free coefficients;
the full sample's default box), the same best-first branch and bound over boxes (split along the
coordinate whose width moves the open indices most) runs twice for the same time from the same
best value: once with the certificate's bound (the open rows all counted in their favour), once
with the linear-programming relaxation of the mixed-integer formulation on each box (a row's
indicator z tied to its index by the box's own range of that index: index >= L (1 - z) for a row
with y = 1, index <= U z for one with y = 0; SciPy's HiGHS). It prints the bound left on the
count of rows correct minus rows wrong. The best value is found first by 10 s of the box bound's
search.

    /usr/bin/python3 bench/lp_bound_trial.py --seed 1 --seconds 60
"""
import argparse
import csv
import heapq
import json
import os
import random
import subprocess
import time

import numpy as np
from scipy.optimize import linprog

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAMES = ["education", "experience", "experience_sq", "age", "youngkids", "oldkids"]


def column(row, name):
    if name == "experience_sq":
        return float(row["experience"]) ** 2
    if name == "nonwife_income":
        return (float(row["fincome"]) - float(row["hours"]) * float(row["wage"])) / 1000
    return float(row[name])


class Problem:
    def __init__(self, rows, lower, upper):
        self.x = np.array([[1.0] + [column(r, c) for c in NAMES] for r in rows])
        self.fixed = -np.array([column(r, "nonwife_income") for r in rows])  # coefficient -1
        self.gain = 2 * np.array([float(r["participation"]) for r in rows]) - 1
        self.lower, self.upper = lower, upper

    def ranges(self, lo, hi):
        a, b = self.x * lo, self.x * hi
        return self.fixed + np.minimum(a, b).sum(1), self.fixed + np.maximum(a, b).sum(1)

    def value(self, b):
        return self.gain[self.x @ b + self.fixed >= 0].sum()

    def bound(self, lo, hi, lp, best):
        low, high = self.ranges(lo, hi)
        open_rows = np.where((low < 0) & (high >= 0))[0]
        known = self.gain[low >= 0].sum()
        box = known + self.gain[open_rows].clip(0).sum()
        if not lp or box <= best or len(open_rows) == 0:
            return box
        m, k = self.x.shape[1], len(open_rows)
        a = np.zeros((k, m + k))
        rhs = np.zeros(k)
        for t, i in enumerate(open_rows):
            sign = -1.0 if self.gain[i] > 0 else 1.0
            a[t, :m] = sign * self.x[i]
            a[t, m + t] = -low[i] if self.gain[i] > 0 else -high[i]
            rhs[t] = self.fixed[i] - low[i] if self.gain[i] > 0 else -self.fixed[i]
        cost = np.concatenate([np.zeros(m), -self.gain[open_rows]])
        bounds = list(zip(lo, hi)) + [(0, 1)] * k
        r = linprog(cost, A_ub=a, b_ub=rhs, bounds=bounds, method="highs")
        return known - r.fun if r.status == 0 else box


def search(p, lp, best, seconds):
    began, boxes, tick = time.time(), 0, 1
    heap = [(-p.bound(p.lower, p.upper, lp, best), 0, p.lower, p.upper)]
    while heap and time.time() - began < seconds:
        top, _, lo, hi = heapq.heappop(heap)
        if -top <= best:
            continue
        low, high = p.ranges(lo, hi)
        open_rows = (low < 0) & (high >= 0)
        j = int(np.argmax(np.abs(p.x[open_rows]).sum(0) * (hi - lo)))
        mid = 0.5 * (lo[j] + hi[j])
        for a, b in ((lo[j], mid), (mid, hi[j])):
            l2, h2 = lo.copy(), hi.copy()
            l2[j], h2[j] = a, b
            boxes += 1
            best = max(best, p.value(0.5 * (l2 + h2)))
            bound = p.bound(l2, h2, lp, best)
            if bound > best:
                heapq.heappush(heap, (-bound, tick, l2, h2))
                tick += 1
    left = max(-heap[0][0], best) if heap else best
    return best, left, boxes


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", default=os.path.join(ROOT, "build/hosts/cli/vimor"))
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--rows", type=int, default=82)
    ap.add_argument("--seconds", type=float, default=60)
    args = ap.parse_args()
    fit = json.loads(subprocess.run([args.cli, "fit", "--json", "--restarts", "20"],
                                    capture_output=True, text=True, check=True).stdout)
    lower, upper = np.array(fit["settings"]["lower"]), np.array(fit["settings"]["upper"])
    with open(os.path.join(ROOT, "data/mroz_psid1976.csv"), newline="") as f:
        rows = random.Random(args.seed).sample(list(csv.DictReader(f)), args.rows)
    p = Problem(rows, lower, upper)
    estimate = np.array([r["coefficient"] for r in fit["regressors"][:-1]])
    best, _, _ = search(p, False, p.value(estimate), 10)
    print(f"subsample {args.seed}, {args.rows} rows: best found {best:g} "
          f"(the root's bound {p.bound(lower, upper, False, best):g})")
    for lp in (False, True):
        found, left, boxes = search(p, lp, best, args.seconds)
        print(f"  {'linear programming' if lp else 'box'} bound: {left:g} left after "
              f"{args.seconds:g} s, {boxes} boxes (best {found:g})", flush=True)


if __name__ == "__main__":
    main()
