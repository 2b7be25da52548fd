#!/usr/bin/env python3
"""Makes the tutorial's figures (docs/figures/*.png) from the default model on the
bundled data: the profiles of four coefficients around their 90% subsampling
intervals, and the scaled subsample estimates behind those intervals.

    PYTHONPATH=python /usr/bin/python3 docs/figures.py [--out docs/figures]

CI runs it into a temporary folder as a smoke test of the pictures."""
import argparse
import os

import matplotlib

matplotlib.use("Agg")
import pandas as pd  # noqa: E402

import vimor  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SHOWN = ["education", "experience", "age", "youngkids"]


def default_model_fit():
    d = pd.read_csv(os.path.join(HERE, "..", "data", "mroz_psid1976.csv"),
                    float_precision="round_trip")
    d["nonwife_income"] = (d.fincome - d.hours * d.wage) / 1000
    d["experience_sq"] = d.experience * d.experience
    X = d[["education", "experience", "experience_sq", "age", "youngkids", "oldkids",
           "nonwife_income"]]
    model = vimor.MaxScore(intercept=True, normalize="nonwife_income", fixed_coef=-1, n_jobs=2,
                           subsamples=100, subsample_restarts=8, level=0.9)
    return model.fit(X, d.participation)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", default=os.path.join(HERE, "figures"))
    out = ap.parse_args().out
    os.makedirs(out, exist_ok=True)
    fit = default_model_fit()
    # Each profile around its interval, half its width beyond either end.
    intervals = fit.conf_int()
    window = {}
    for n in SHOWN:
        lo, hi = intervals.loc[n, "lower"], intervals.loc[n, "upper"]
        window[n] = (lo - (hi - lo) / 2, hi + (hi - lo) / 2)
    figure = vimor.plot_profile(fit, SHOWN, window=window)
    figure.savefig(os.path.join(out, "profiles.png"), dpi=80)
    figure = vimor.plot_intervals(fit, SHOWN)
    figure.savefig(os.path.join(out, "intervals.png"), dpi=80)
    print(f"wrote profiles.png and intervals.png to {out}")


if __name__ == "__main__":
    main()
