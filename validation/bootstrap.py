#!/usr/bin/env python3
"""Coverage of the reshaped bootstrap's intervals beside subsampling's, by simulation.

Five designs, each y = 1[b0 + b1 x1 (+ b3 d) + x2 + e >= 0] with the coefficient of x2 held at +1
and median-zero noise, so the estimand at quantile 0.5 is known:
    hetero     the coverage study's: e = (0.5 + 0.5 |x1|) z                 (b0, b1) = (1, -1)
    logistic   homoskedastic logistic e                                      (1, -1)
    strong     e = (1 + 2 s^2 + s^4) z / 4, s = x1 + x2                       (1, -1)
    binary     e = z, a binary d ~ Bernoulli(0.4) with coefficient 0.5      (1, -1, 0.5)
    flat0      e = +-2 + 0.5 z (equal halves): little density at zero       (1, -1)
x1, x2, z standard normal. Each data set is fitted by the built command line twice, with
--bootstrap B and with --subsamples B; the draws' estimates it writes give the symmetric and
equal-tailed intervals at 95% by the rule every host uses (the command line's own symmetric one is
checked against it), recorded with the bootstrap's diagnostics (V floored or not, edge hits).

One JSON line per replication and method goes to the results file, so a stopped study keeps what
it has and a rerun with the same options goes on (validation/results/ holds the runs the README
reports); --table prints the summary: per design, N, method and coefficient, the coverage, both
one-sided miss rates and the median length. --hessian and --bandwidth choose the bootstrap's
curvature (the command line's default: crossfit, c = 0.5).

    python3 validation/bootstrap.py --cli build/hosts/cli/vimor --out validation/bootstrap.jsonl
    python3 validation/bootstrap.py --table --out validation/bootstrap.jsonl
"""
import argparse
import csv
import json
import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from coverage import interval  # noqa: E402  the quantile rule every host uses

DESIGNS = {
    "hetero": {"(Intercept)": 1.0, "x1": -1.0},
    "logistic": {"(Intercept)": 1.0, "x1": -1.0},
    "strong": {"(Intercept)": 1.0, "x1": -1.0},
    "binary": {"(Intercept)": 1.0, "x1": -1.0, "d": 0.5},
    "flat0": {"(Intercept)": 1.0, "x1": -1.0},
}
LEVEL = 0.95


def simulate(design, n, seed):
    rng = random.Random(seed)
    rows = []
    for _ in range(n):
        x1, x2, z = rng.gauss(0.0, 1.0), rng.gauss(0.0, 1.0), rng.gauss(0.0, 1.0)
        d = 1.0 if rng.random() < 0.4 else 0.0
        if design == "hetero":
            e = (0.5 + 0.5 * abs(x1)) * z
        elif design == "logistic":
            u = rng.random()
            e = math.log(u / (1.0 - u))
        elif design == "strong":
            s = x1 + x2
            e = (1.0 + 2.0 * s * s + s ** 4) * z / 4.0
        elif design == "binary":
            e = z
        else:
            e = (2.0 if rng.random() < 0.5 else -2.0) + 0.5 * z
        index = 1.0 - x1 + x2 + (0.5 * d if design == "binary" else 0.0) + e
        rows.append((1 if index >= 0.0 else 0, x1, x2, d))
    return rows


def write_data(path, design, n, seed):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["y", "x1", "x2", "d"])
        for row in simulate(design, n, seed):
            w.writerow([row[0]] + [repr(v) for v in row[1:]])


def fit(args, folder, data, design, method):
    """The fit's JSON, its draws' estimates (rows), and its time."""
    x = "x1,d" if design == "binary" else "x1"
    draws_file = os.path.join(folder, "draws.csv")
    command = [args.cli, "fit", data, "--y", "y", "--x", x, "--normalize", "x2", "--intercept",
               "--restarts", str(args.restarts), "--threads", "1", "--level", str(LEVEL),
               "--json", "--subsample-estimates", draws_file]
    if args.certify > 0:
        command += ["--certify", str(args.certify)]
    if method == "bootstrap":
        command += ["--bootstrap", str(args.draws), "--bootstrap-restarts",
                    str(args.draw_restarts), "--bandwidth", str(args.bandwidth),
                    "--hessian", args.hessian]
    else:
        command += ["--subsamples", str(args.draws), "--subsample-restarts",
                    str(args.draw_restarts)]
    began = time.perf_counter()
    p = subprocess.run(command, capture_output=True, text=True)
    seconds = time.perf_counter() - began
    if p.returncode != 0:
        raise SystemExit(f"vimor failed: {' '.join(command)}: {p.stderr.strip()}")
    with open(draws_file, newline="") as f:
        rows = [[float(v) for v in row] for row in list(csv.reader(f))[1:]]
    return json.loads(p.stdout), rows, seconds


def replicate(args, design, n, rep):
    seed = 1000003 * n + 7919 * list(DESIGNS).index(design) + rep
    out = []
    with tempfile.TemporaryDirectory() as folder:
        data = os.path.join(folder, "data.csv")
        write_data(data, design, n, seed)
        for method in args.methods.split(","):
            result, draws, seconds = fit(args, folder, data, design, method)
            # A bootstrap draw has N rows: the subsampling rule with b = N.
            b = n if method == "bootstrap" else result["inference"]["subsample_size"]
            if method == "bootstrap":
                method = f"bootstrap {args.hessian}"
            if method.startswith("bootstrap") and args.bandwidth != 0.5:
                method += f" c={args.bandwidth:g}"
            if args.certify > 0:
                method += " certified"
            record = {"design": design, "n": n, "rep": rep, "method": method,
                      "seconds": seconds, "inference": result["inference"], "coef": {}}
            for j, row in enumerate(result["regressors"][:-1]):
                column = [d[j] for d in draws]
                est = row["coefficient"]
                ends = {kind: list(interval(est, column, n, b, LEVEL, kind == "symmetric"))
                        for kind in ("symmetric", "equal-tailed")}
                if ends["symmetric"] != row["interval"]:
                    raise SystemExit(f"{design} N={n} rep={rep} {method}: the command line's "
                                     f"interval differs from the rule's")
                record["coef"][row["name"]] = dict(estimate=est, **ends)
            out.append(record)
    return out


def spread(design, reps):
    """How much of the symmetric interval's shortfall is its length varying with V's noise:
    the coverage had every interval the median length, and V's smaller eigenvalue."""
    def covers(r, name):
        lo, hi = r["coef"][name]["symmetric"]
        return lo <= DESIGNS[design][name] <= hi

    cells = []
    for name, truth in DESIGNS[design].items():
        halves = [(hi - lo) / 2 for lo, hi in (r["coef"][name]["symmetric"] for r in reps)]
        half = statistics.median(halves)
        hits = sum(1 for r in reps if abs(r["coef"][name]["estimate"] - truth) <= half)
        cells.append(f"{name} {hits / len(reps):.3f}")
    smallest = [min(r["inference"]["curvature_eigenvalues"]) for r in reps]
    missed = [v for v, r in zip(smallest, reps)
              if not all(covers(r, name) for name in DESIGNS[design])]
    deciles = statistics.quantiles(smallest, n=10)
    return (f"symmetric coverage had every interval the median length: {', '.join(cells)}; "
            f"V's smaller eigenvalue, 10th/50th/90th percentiles: {deciles[0]:.4f}, "
            f"{statistics.median(smallest):.4f}, {deciles[-1]:.4f}"
            + (f"; its median where an interval missed: {statistics.median(missed):.4f}"
               if missed else ""))


def table(path):
    groups = {}
    with open(path) as f:
        for line in f:
            r = json.loads(line)
            groups.setdefault((r["design"], r["n"], r["method"]), []).append(r)
    lines = ["| design | N | method | coefficient | reps | symmetric coverage (below, above) "
             "| median length | equal-tailed coverage (below, above) | median length |",
             "|---|---|---|---|---|---|---|---|---|"]
    notes = []
    for (design, n, method), reps in sorted(groups.items()):
        for name, truth in DESIGNS[design].items():
            cells = []
            for kind in ("symmetric", "equal-tailed"):
                ivs = [r["coef"][name][kind] for r in reps]
                below = sum(1 for lo, hi in ivs if truth < lo) / len(ivs)
                above = sum(1 for lo, hi in ivs if truth > hi) / len(ivs)
                cells.append(f"{1 - below - above:.3f} ({below:.3f}, {above:.3f})")
                cells.append(f"{statistics.median(hi - lo for lo, hi in ivs):.3f}")
            lines.append(f"| {design} | {n} | {method} | {name} | {len(reps)} | "
                         + " | ".join(cells) + " |")
        secs = statistics.median(r["seconds"] for r in reps)
        if method.startswith("bootstrap"):
            floored = sum(r["inference"]["curvature_floored"] for r in reps)
            fell = sum(r["inference"].get("curvature_fell_back", False) for r in reps)
            edges = sum(r["inference"]["edge_hits"] for r in reps)
            draws = sum(r["inference"]["draws"] for r in reps)
            notes.append(f"{design}, N = {n}: V not positive definite in {floored} of "
                         f"{len(reps)}" + (f" (the cross-fitted V fell back to the estimate's "
                                           f"in {fell})" if fell else "") +
                         f"; {edges} of {draws} draws hit the box's edge; median "
                         f"{secs:.1f} s per fit (one thread)")
            if len(reps) > 1:
                notes.append("  " + spread(design, reps))
        else:
            notes.append(f"{design}, N = {n}, subsampling: median {secs:.1f} s per fit")
    return "\n".join(lines + [""] + notes)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cli", default="build/hosts/cli/vimor")
    ap.add_argument("--out", default="validation/bootstrap.jsonl")
    ap.add_argument("--designs", default=",".join(DESIGNS))
    ap.add_argument("--sizes", default="250,1000,4000")
    ap.add_argument("--replications", type=int, default=300)
    ap.add_argument("--draws", type=int, default=199)
    ap.add_argument("--restarts", type=int, default=4)
    ap.add_argument("--draw-restarts", type=int, default=4)
    ap.add_argument("--bandwidth", type=float, default=0.5)
    ap.add_argument("--hessian", default="crossfit", choices=("crossfit", "kernel", "numerical"))
    ap.add_argument("--methods", default="bootstrap,subsampling")
    ap.add_argument("--certify", type=float, default=0.0,
                    help="seconds of certificate per fit, shared by its draws (0: none)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--table", action="store_true", help="print the summary of --out and stop")
    args = ap.parse_args()
    if args.table:
        print(table(args.out))
        return
    done = set()
    if os.path.exists(args.out):
        with open(args.out) as f:
            done = {(r["design"], r["n"], r["rep"]) for r in map(json.loads, f)}
    todo = [(d, n, rep) for rep in range(args.replications) for n in map(int, args.sizes.split(","))
            for d in args.designs.split(",") if (d, n, rep) not in done]
    with open(args.out, "a") as out, ThreadPoolExecutor(args.jobs) as pool:
        for records in pool.map(lambda t: replicate(args, *t), todo):
            for record in records:
                out.write(json.dumps(record) + "\n")
            out.flush()
            print(f"{records[0]['design']} N={records[0]['n']} rep={records[0]['rep']}",
                  file=sys.stderr, flush=True)
    print(table(args.out))


if __name__ == "__main__":
    main()
