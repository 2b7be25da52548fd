#!/usr/bin/env python3
"""Is the bootstrap's curvature estimate V biased? On a design of bootstrap.py
(y = 1[1 - x1 + x2 + e >= 0], x1, x2 standard normal; the intercept and x1 free,
x2 normalized; e logistic by default, or --design hetero or strong), the true V
at (1, -1) is minus the Hessian of the population objective
E[(F(1 - x1 + x2 | x) - 1/2) sgn(t0 + t1 x1 + x2)], F the distribution of -e given x,
here by quadrature and second differences. Over R samples of N rows it compares
the eigenvalues of the kernel estimate (bandwidth c = 0.5)
    at the fit's own estimate (hessian "kernel"),
    at the true coefficients (not available in practice: the estimate's bias alone),
    cross-fitted: each half of the rows at the other half's estimate ("crossfit"),
    and cross-fitted with the other bandwidths of --bandwidths (noise against bias);
and second differences of the objective (hessian "numerical") at the estimate and at the truth.

    PYTHONPATH=python /usr/bin/python3 validation/curvature.py [--n 4000] [--samples 30] [--design D]
        [--bandwidths 0.5,0.7,1.0]
"""
import argparse
import math
import warnings

import numpy

import vimor

GRID = numpy.linspace(-8.0, 8.0, 2001)


def noise_scale(design, x1, x2):
    """e = scale z, z standard normal (hetero, strong)."""
    if design == "hetero":
        return 0.5 + 0.5 * numpy.abs(x1)
    s = x1 + x2
    return (1.0 + 2.0 * s * s + s ** 4) / 4.0


def minus_hessian(objective, t, steps):
    """-Hessian of objective at t by second differences, steps[j] along coefficient j."""
    out = numpy.zeros((2, 2))
    for j in range(2):
        for k in range(2):
            def at(a, b):
                u = numpy.array(t, dtype=float)
                u[j] += a
                u[k] += b
                return objective(u)
            a, b = steps[j], steps[k]
            out[j, k] = -(at(a, b) - at(a, -b) - at(-a, b) + at(-a, -b)) / (4 * a * b)
    return out


def population_v(design):
    w = numpy.exp(-GRID ** 2 / 2)
    w = numpy.outer(w / w.sum(), w / w.sum())
    x1, x2 = GRID[:, None], GRID[None, :]
    if design == "logistic":
        gain = 1.0 / (1.0 + numpy.exp(-(1.0 - x1 + x2))) - 0.5
    else:
        gain = 0.5 * numpy.vectorize(math.erf)((1.0 - x1 + x2) / noise_scale(design, x1, x2)
                                              / math.sqrt(2.0))

    def objective(t):
        return (w * gain * numpy.sign(t[0] + t[1] * x1 + x2)).sum()

    return minus_hessian(objective, [1.0, -1.0], [0.02, 0.02])


def kernel_v(y, x1, x2, t, c=0.5):
    """The kernel estimate as the core computes it (unweighted, quantile 0.5)."""
    v = t[0] + t[1] * x1 + x2
    h = c * v.std() * len(y) ** (-1 / 7)
    u = v / h
    g = (2 * y - 1) * u * numpy.exp(-u * u / 2) / math.sqrt(2 * math.pi)
    w = numpy.stack([numpy.ones(len(y)), x1])
    return (w * g) @ w.T / (len(y) * h * h)


def numerical_v(y, x1, x2, t):
    """Second differences of the objective with the core's steps, N^(-1/7) sd(v) / sd(w)."""
    spread = (t[0] + t[1] * x1 + x2).std() * len(y) ** (-1 / 7)
    return minus_hessian(lambda u: ((2 * y - 1) * (u[0] + u[1] * x1 + x2 >= 0)).mean(), t,
                         [spread, spread / x1.std()])


def crossfit_name(c):
    return "cross-fitted (crossfit)" if c == 0.5 else f"cross-fitted, c = {c:g}"


def estimate(x1, x2, y, seed):
    fit = vimor.MaxScore(intercept=True, restarts=4, seed=seed)
    return numpy.array(fit.fit(numpy.column_stack([x1, x2]), y).coef_[:2])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--n", type=int, default=4000)
    ap.add_argument("--samples", type=int, default=30)
    ap.add_argument("--design", choices=("logistic", "hetero", "strong"), default="logistic")
    ap.add_argument("--bandwidths", default="0.5", help="c of the cross-fitted rows, comma-separated")
    args = ap.parse_args()
    bandwidths = [0.5] + [float(c) for c in args.bandwidths.split(",") if float(c) != 0.5]
    warnings.simplefilter("ignore", vimor.FitWarning)
    rng = numpy.random.default_rng(5)
    found = {"at the estimate (kernel)": [], "at the truth": []}
    found.update({crossfit_name(c): [] for c in bandwidths})
    found.update({"second differences at the estimate (numerical)": [],
                  "second differences at the truth": []})
    for s in range(args.samples):
        x1, x2 = rng.standard_normal(args.n), rng.standard_normal(args.n)
        if args.design == "logistic":
            u = rng.random(args.n)
            e = numpy.log(u / (1 - u))
        else:
            e = noise_scale(args.design, x1, x2) * rng.standard_normal(args.n)
        y = (1 - x1 + x2 + e >= 0).astype(float)
        fitted = estimate(x1, x2, y, s)
        found["at the estimate (kernel)"].append(kernel_v(y, x1, x2, fitted))
        found["second differences at the estimate (numerical)"].append(numerical_v(y, x1, x2, fitted))
        found["second differences at the truth"].append(numerical_v(y, x1, x2, [1.0, -1.0]))
        found["at the truth"].append(kernel_v(y, x1, x2, numpy.array([1.0, -1.0])))
        halves = [numpy.arange(args.n) % 2 == k for k in (0, 1)]
        theta = [estimate(x1[h], x2[h], y[h], s) for h in halves]
        for c in bandwidths:
            found[crossfit_name(c)].append(sum(kernel_v(y[h], x1[h], x2[h], theta[1 - k], c)
                                               for k, h in enumerate(halves)) / 2)
    truth = numpy.linalg.eigvalsh(population_v(args.design))
    print(f"{args.design}, N = {args.n}, {args.samples} samples; eigenvalues of V (smaller, larger)\n")
    print("| V | mean | standard deviation |")
    print("|---|---|---|")
    print(f"| the population's | {truth[0]:.4f}, {truth[1]:.4f} | |")
    for name, vs in found.items():
        e = numpy.array([numpy.linalg.eigvalsh(v) for v in vs])
        print(f"| {name} | {e[:, 0].mean():.4f}, {e[:, 1].mean():.4f} | "
              f"{e[:, 0].std():.4f}, {e[:, 1].std():.4f} |")


if __name__ == "__main__":
    main()
