"""Prints, as JSON, where vimor, its module and core were loaded from and a set of its
numbers in exact form (objective, one search, a multi-start fit with its
indices), so two installations can be compared bit for bit."""
import json
import random
import sys

import vimor

rng = random.Random(11)
rows = [[rng.gauss(0.0, 1.0) for _ in range(3)] for _ in range(150)]
y = [1 if r[0] - 0.5 * r[1] + 0.8 * r[2] + rng.gauss(0.0, 0.7) >= 0 else 0 for r in rows]

fit = vimor.MaxScore(intercept=True, restarts=3, max_evals=30000, subsamples=5,
                     level=0.5).fit(rows, y)
run = vimor.anneal(y, rows, quantile=0.3, max_evals=30000)
json.dump({
    "package": vimor.__file__,
    "module": vimor.load_library().path,
    "core": vimor.load_library().core_path,
    "objective": vimor.objective(y, rows, [0.25, -0.5], 0.4).hex(),
    "anneal": [v.hex() for v in run.best] + [run.value.hex(), run.n_evals],
    "coef": [float(v).hex() for v in fit.coef_],
    "fit_objective": fit.objective_.hex(),
    "intervals": [float(v).hex() for v in fit.conf_int(0.6).ravel()],
    "index": [float(v).hex() for v in fit.decision_function(rows)],
}, sys.stdout)
