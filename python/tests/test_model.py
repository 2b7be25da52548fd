"""MaxScore: the core's restarts and results as the fit reports them."""
import random
import unittest
import warnings

import vimor
from support import probit_data, result_key

OPTIONS = dict(restarts=5, seed=31327, max_evals=20000)  # seeds wrap past 31328


def quiet(model, X, y):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", vimor.FitWarning)
        return model.fit(X, y)


def separable(n=60, quantile=0.5, sign=1.0, seed=4):
    """A regressor z that separates the responses perfectly: y = 1 exactly when
    sign * (z - 0.37) >= 0, with a noise regressor beside it."""
    rng = random.Random(seed)
    z = [round(rng.uniform(-2.0, 2.0), 4) for _ in range(n)]
    noise = [round(rng.gauss(0.0, 1.0), 4) for _ in range(n)]
    y = [1 if sign * (v - 0.37) >= 0 else 0 for v in z]
    return {"noise": noise, "z": z}, y


class RestartTest(unittest.TestCase):
    def test_restarts_are_seeded_runs_and_the_best_wins(self):
        rows, y = probit_data(n=90, k=3, seed=8)
        model = quiet(vimor.MaxScore(quantile=0.4, **OPTIONS), rows, y)
        seed2 = vimor.DEFAULTS["seed2"]
        runs = [vimor.anneal(y, rows, quantile=0.4, max_evals=20000,
                             seed1=(31327 + r) % 31329, seed2=seed2) for r in range(5)]
        self.assertEqual([result_key(r) for r in model.results_], [result_key(r) for r in runs])
        values = [r.value for r in runs]
        best = values.index(max(values))  # index() finds the earliest of equals
        self.assertEqual(model.best_restart_, best)
        self.assertEqual(model.objective_, values[best])
        self.assertEqual(model.n_best_, values.count(values[best]))
        self.assertEqual(list(model.coef_), list(runs[best].best) + [1.0])
        self.assertEqual(model.seeds_[2], (0, seed2))

    def test_minimizing_keeps_the_smallest(self):
        rows, y = probit_data(n=90, k=3, seed=8)
        model = quiet(vimor.MaxScore(maximize=False, **OPTIONS), rows, y)
        self.assertEqual(model.objective_, min(r.value for r in model.results_))

    def test_threads_do_not_change_the_result(self):
        rows, y = probit_data(n=150, k=4, seed=9)
        fits = [quiet(vimor.MaxScore(n_jobs=jobs, **OPTIONS), rows, y) for jobs in (1, 2, -1)]
        keys = [[result_key(r) for r in f.results_] for f in fits]
        self.assertEqual(keys[0], keys[1])
        self.assertEqual(keys[0], keys[2])
        self.assertEqual(list(fits[0].coef_), list(fits[1].coef_))


class BoxScaleTest(unittest.TestCase):
    def test_scales_the_default_box(self):
        # Spreads that are exact: the intercept, x alternating +-1 (sd 1), the
        # normalized z alternating 3 and 1 (mean 2, sd 1). Half-widths at box
        # scale s: s (|2| + 1) / 1 for the intercept, s * 1 / 1 for x.
        n = 40
        X = {"x": [(-1.0) ** i for i in range(n)], "z": [3.0 if i % 2 else 1.0 for i in range(n)]}
        y = [1 if (i * 7) % 5 < 2 else 0 for i in range(n)]
        options = dict(intercept=True, restarts=3, max_evals=20000)
        for scale in (None, 2.5):
            s = 10.0 if scale is None else scale
            got = quiet(vimor.MaxScore(box_scale=scale, **options), X, y)
            want = quiet(vimor.MaxScore(lower=[-3 * s, -s], upper=[3 * s, s], **options), X, y)
            self.assertEqual([result_key(r) for r in got.results_],
                             [result_key(r) for r in want.results_])
        with self.assertRaisesRegex(ValueError, r"^box_scale: must be positive"):
            vimor.MaxScore(box_scale=0.0).fit(X, y)


class SeparationTest(unittest.TestCase):
    def check(self, quantile, sign):
        X, y = separable(quantile=quantile, sign=sign)
        model = quiet(vimor.MaxScore(quantile=quantile, normalize="z", fixed_coef=sign,
                                     intercept=True, restarts=3), X, y)
        n1 = sum(y)
        n0 = len(y) - n1
        largest = (n1 * quantile + n0 * (1 - quantile)) / len(y)
        self.assertAlmostEqual(model.objective_, largest, delta=1e-12)
        self.assertEqual(model.max_objective_, largest)
        # The same objective at the separating point itself, bit for bit.
        perfect = vimor.objective(y, list(zip([1.0] * len(y), X["noise"], X["z"])),
                                  [-0.37 * sign, 0.0], quantile, sign)
        self.assertEqual(model.objective_.hex(), perfect.hex())
        self.assertEqual(model.score(X, y), 1.0)
        self.assertEqual(model.predict(X).tolist(), y)

    def test_median(self):
        self.check(0.5, 1.0)

    def test_low_quantile_negative_scale(self):
        self.check(0.25, -1.0)


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rows, cls.y = probit_data(n=120, k=4, seed=12)
        cls.X = {"one": [r[0] for r in rows], "age": [r[1] for r in rows],
                 "kids": [r[2] for r in rows], "income": [r[3] for r in rows]}
        cls.model = quiet(vimor.MaxScore(normalize="age", **OPTIONS), cls.X, cls.y)

    def test_normalized_column_goes_last_to_the_library(self):
        reordered = [[self.X[c][i] for c in ("one", "kids", "income", "age")]
                     for i in range(len(self.y))]
        run = vimor.anneal(self.y, reordered, max_evals=20000,
                           seed1=self.model.seeds_[self.model.best_restart_][0],
                           seed2=self.model.seeds_[0][1])
        self.assertEqual(result_key(run), result_key(self.model.results_[self.model.best_restart_]))
        self.assertEqual(self.model.names_, ["one", "age", "kids", "income"])
        b = run.best
        self.assertEqual(list(self.model.coef_), [b[0], 1.0, b[1], b[2]])

    def test_score_matches_the_objective(self):
        # At the median, S = (right - wrong) / (2N), so the share right is S + 1/2.
        self.assertAlmostEqual(self.model.score(self.X, self.y), self.model.objective_ + 0.5,
                               delta=1e-12)
        self.assertEqual(self.model.accuracy_, self.model.score(self.X, self.y))

    def test_predict_by_name_and_by_position(self):
        shuffled = {c: self.X[c] for c in ("income", "kids", "age", "one")}
        rows = [[self.X[c][i] for c in self.X] for i in range(len(self.y))]
        self.assertEqual(self.model.predict(shuffled).tolist(), self.model.predict(rows).tolist())
        with self.assertRaisesRegex(ValueError, r"^X: has no column 'kids'"):
            self.model.predict({"income": [1.0], "kid": [1.0], "age": [1.0], "one": [1.0]})

    def test_summary(self):
        text = self.model.summary()
        self.assertIn("age", text)
        self.assertRegex(text, r"age\s+1  \(normalized\)")
        self.assertIn(f"{self.model.objective_:.10g}", text)
        self.assertIn("120 observations", text)
        self.assertIn(f"({round(self.model.accuracy_ * 120)} of 120 with 1[x.b >= 0]", text)


if __name__ == "__main__":
    unittest.main()
