#!/usr/bin/env python3
"""How well the bootstrap's search finds each draw's maximum, and what its misses cost the interval.

On data sets of the bootstrap study's designs with two free coefficients (small enough for the
certificate to prove each draw's maximum within seconds), every data set is fitted twice by the command line with
the same draws: as it ships, and with --certify, which proves each draw's maximum or moves the draw
to it. Per design the table gives the share of draws the search left below their maximum, the
ratio of the shipped symmetric interval's half-width to the certified one's (median and range over
data sets and coefficients: below 1 means misses shorten the interval), and the seconds per draw of
the shipped run on one thread.

    python3 validation/draws.py --cli build/hosts/cli/vimor
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bootstrap import write_data  # noqa: E402


def run(cli, data, design, draws, certify):
    x = "x1,d" if design == "binary" else "x1"
    command = [cli, "fit", data, "--y", "y", "--x", x, "--normalize", "x2", "--intercept",
               "--restarts", "4", "--threads", "1", "--bootstrap", str(draws), "--json"]
    if certify:
        command += ["--certify", "5"]
    p = subprocess.run(command, capture_output=True, text=True)
    if p.returncode != 0:
        raise SystemExit(f"vimor failed: {' '.join(command)}: {p.stderr.strip()}")
    result = json.loads(p.stdout)
    half = [(r["interval"][1] - r["interval"][0]) / 2 for r in result["regressors"][:-1]]
    return half, result["inference"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True, help="the vimor command line to measure")
    parser.add_argument("--designs", default="hetero,logistic,strong")
    parser.add_argument("--n", type=int, default=1000)
    parser.add_argument("--datasets", type=int, default=8)
    parser.add_argument("--draws", type=int, default=199)
    args = parser.parse_args()
    print("| design | draws missed | half-width, shipped / certified: median (range) | s per draw |")
    print("|---|--:|--:|--:|")
    for design in args.designs.split(","):
        missed = total = 0
        ratios, seconds = [], []
        for k in range(args.datasets):
            with tempfile.TemporaryDirectory() as folder:
                data = os.path.join(folder, "data.csv")
                write_data(data, design, args.n, 500009 + 101 * k)
                shipped, inference = run(args.cli, data, design, args.draws, False)
                proven, certified = run(args.cli, data, design, args.draws, True)
            counts = certified["certified"]
            if counts["bound"]:
                raise SystemExit(f"{design}: {counts['bound']} draws not proven within 5 s")
            missed += counts["improved"]
            total += args.draws
            ratios += [a / b for a, b in zip(shipped, proven)]
            seconds.append(inference["wall_seconds"] / args.draws)
        print(f"| {design} | {missed / total:.1%} | {statistics.median(ratios):.3f} "
              f"({min(ratios):.3f}–{max(ratios):.3f}) | {statistics.median(seconds):.4f} |",
              flush=True)


if __name__ == "__main__":
    main()
