"""Subsampling intervals and flat ranges: the generator, the quantile rule,
the subsample fits' settings, the flat ranges' ends, and bad input."""
import math
import random
import unittest

import vimor
from vimor import _inference


def heteroskedastic(n, seed):
    """y = 1[1 - x1 + x2 + e >= 0] with median-zero noise whose spread grows with |x1|."""
    rng = random.Random(seed)
    x1 = [rng.gauss(0.0, 1.0) for _ in range(n)]
    x2 = [rng.gauss(0.0, 1.0) for _ in range(n)]
    y = [1 if 1.0 - a + b + (0.5 + 0.5 * abs(a)) * rng.gauss(0.0, 1.0) >= 0.0 else 0
         for a, b in zip(x1, x2)]
    return {"x1": x1, "x2": x2}, y


SMALL = dict(normalize="x2", intercept=True, restarts=3, max_evals=20000)


class GeneratorTest(unittest.TestCase):
    def test_minimal_standard_sequence(self):
        # The published check of the multiplier-48271 generator: from state 1,
        # the 10000th value is 399268537 (as for C++'s std::minstd_rand).
        g = _inference.Minstd(0, 0)
        for _ in range(9999):
            g.next()
        self.assertEqual(g.next(), 399268537)

    def test_draws_are_distinct_sorted_rows(self):
        normalized = [float(i % 7) for i in range(150)]
        draws, redrawn = _inference.draw_subsamples(normalized, 150, 40, 30, 5, 6)
        self.assertEqual(redrawn, 0)
        for rows in draws:
            self.assertEqual(rows, sorted(set(rows)))
            self.assertEqual(len(rows), 40)
            self.assertTrue(0 <= rows[0] and rows[-1] < 150)
        self.assertEqual(len({tuple(r) for r in draws}), 30)

    def test_constant_normalized_draws_are_replaced_and_counted(self):
        # Nonzero in 2 rows of 100: most draws of 20 rows see only zeros.
        normalized = [0.0] * 100
        normalized[3] = normalized[70] = 1.0
        draws, redrawn = _inference.draw_subsamples(normalized, 100, 20, 10, 1, 2)
        self.assertEqual(len(draws), 10)
        self.assertGreater(redrawn, 0)
        for rows in draws:
            self.assertTrue(3 in rows or 70 in rows)

    def test_default_subsample_size(self):
        for n, b in ((90, 20), (250, 39), (753, 82), (1000, 100), (4000, 251), (10 ** 6, 10 ** 4)):
            self.assertEqual(_inference.default_subsample_size(n), b)


class RuleTest(unittest.TestCase):
    def test_order_statistics_at_95_percent(self):
        # 40 differences 1..40: the 2.5% and 97.5% points are the 1st and 39th
        # (0.025 * 40 is 1 only up to rounding); with r = (125/1000)^(1/3) = 1/2.
        draws = [10.0 + k for k in range(40, 0, -1)]
        lo, hi = _inference.interval(10.0, draws, 1000, 125, 0.95, False)
        self.assertEqual((lo, hi), (10.0 - 39 * 0.5, 10.0 - 1 * 0.5))
        lo, hi = _inference.interval(10.0, draws, 1000, 125, 0.95, True)
        self.assertEqual((lo, hi), (10.0 - 38 * 0.5, 10.0 + 38 * 0.5))

    def test_other_levels_and_skew(self):
        # Differences -5..14: the equal-tailed interval is not centred, the symmetric one is.
        draws = [3.0 + d for d in range(-5, 15)]
        lo, hi = _inference.interval(3.0, draws, 8000, 1000, 0.9, False)
        self.assertEqual((lo, hi), (3.0 - 13 * 0.5, 3.0 + 5 * 0.5))
        lo, hi = _inference.interval(3.0, draws, 8000, 1000, 0.5, True)
        self.assertEqual((lo, hi), (3.0 - 5 * 0.5, 3.0 + 5 * 0.5))


class SubsampleFitTest(unittest.TestCase):
    def test_each_subsample_fit_is_a_fit_with_the_full_samples_settings(self):
        X, y = heteroskedastic(200, 3)
        model = vimor.MaxScore(subsamples=4, subsample_restarts=2, seed=11, seed2=12,
                               **SMALL).fit(X, y)
        self.assertEqual(model.subsample_size_, 34)
        draws, _ = _inference.draw_subsamples(X["x2"], 200, 34, 4, 11, 12)
        lower, upper, tol = self._full_box(X, y)
        for k, rows in enumerate(draws):
            sub_x = {name: [X[name][i] for i in rows] for name in X}
            sub_y = [y[i] for i in rows]
            # The box and tolerance are the full sample's, given explicitly.
            refit = vimor.MaxScore(subsamples=0, restarts=2, seed=11, seed2=12 + 1 + k,
                                   lower=lower, upper=upper, tolerance=tol,
                                   normalize="x2", intercept=True, max_evals=20000)
            refit.fit(sub_x, sub_y)
            self.assertEqual([float(v).hex() for v in model.subsample_estimates_[k]],
                             [float(v).hex() for v in refit.coef_[:2]])

    def _full_box(self, X, y):
        from vimor._defaults import half_widths, tolerance
        ones = [1.0] * len(y)
        widths = half_widths([ones, X["x1"]], X["x2"], 1.0)
        return [-w for w in widths], widths, tolerance(0.5, len(y))

    def test_intervals_cover_the_estimate_and_other_levels_nest(self):
        X, y = heteroskedastic(300, 5)
        model = vimor.MaxScore(subsamples=40, subsample_restarts=2, **SMALL).fit(X, y)
        wide, narrow = model.conf_int(), model.conf_int(0.5)
        for (lo, hi), (lo2, hi2), est in zip(wide, narrow, model.coef_[:2]):
            self.assertLessEqual(lo, lo2)
            self.assertLessEqual(hi2, hi)
        self.assertEqual(len(model.subsample_estimates_), 40)
        self.assertIn("95% interval", model.summary())
        self.assertEqual(model.n_redrawn_, 0)

    def test_dataframe_in_dataframe_out(self):
        import pandas
        X, y = heteroskedastic(150, 9)
        model = vimor.MaxScore(subsamples=5, subsample_restarts=1, **SMALL).fit(
            pandas.DataFrame(X), y)
        ci = model.conf_int()
        self.assertEqual(list(ci.index), ["(Intercept)", "x1"])
        self.assertEqual(list(ci.columns), ["lower", "upper"])
        self.assertEqual(list(model.flat_.index), ["(Intercept)", "x1"])

    def test_no_intervals_without_subsamples(self):
        X, y = heteroskedastic(120, 2)
        model = vimor.MaxScore(**SMALL).fit(X, y)
        with self.assertRaisesRegex(RuntimeError, "subsamples"):
            model.conf_int()
        self.assertNotIn("interval", model.summary().split("flat range:")[0])


class FlatTest(unittest.TestCase):
    def test_ends_are_exact_for_the_library(self):
        for seed, quantile in ((1, 0.5), (4, 0.3), (6, 0.75)):
            X, y = heteroskedastic(150, seed)
            model = vimor.MaxScore(quantile=quantile, **SMALL).fit(X, y)
            rows = [[1.0, a, b] for a, b in zip(X["x1"], X["x2"])]
            coef = list(model.coef_[:2])

            def s(j, t):
                c = list(coef)
                c[j] = t
                return vimor.objective(y, rows, c, quantile=quantile)

            value = s(0, coef[0])
            rng = random.Random(seed)
            for j, (lo, hi) in enumerate(model.flat_):
                with self.subTest(seed=seed, coefficient=j):
                    self.assertTrue(lo <= coef[j] <= hi)
                    self.assertTrue(math.isfinite(lo) and math.isfinite(hi))
                    self.assertEqual(s(j, lo), value)
                    self.assertEqual(s(j, hi), value)
                    self.assertNotEqual(s(j, math.nextafter(lo, -math.inf)), value)
                    self.assertNotEqual(s(j, math.nextafter(hi, math.inf)), value)
                    for _ in range(50):  # no dip inside
                        self.assertEqual(s(j, rng.uniform(lo, hi)), value)

    def test_unbounded_when_the_coefficient_does_not_matter(self):
        # A column of zeros never moves an index: its range is the whole line.
        X, y = heteroskedastic(100, 8)
        X = {"x1": X["x1"], "z": [0.0] * 100, "x2": X["x2"]}
        model = vimor.MaxScore(normalize="x2", intercept=True, restarts=2, max_evals=20000,
                               lower=[-9.0, -9.0, -1.0], upper=[9.0, 9.0, 1.0]).fit(X, y)
        self.assertEqual([float(v) for v in model.flat_[2]], [-math.inf, math.inf])


class BadInputTest(unittest.TestCase):
    def test_checked_before_any_fit(self):
        X, y = heteroskedastic(120, 1)
        cases = [
            (dict(subsamples=-1), ValueError, "subsamples"),
            (dict(subsamples=1.5), TypeError, "subsamples"),
            (dict(subsamples=10, subsample_size=19), ValueError, "subsample_size"),
            (dict(subsamples=10, subsample_size=120), ValueError, "subsample_size"),
            (dict(subsamples=10, level=1.0), ValueError, "level"),
            (dict(subsamples=10, level=0.0), ValueError, "level"),
            (dict(subsamples=10, level="0.9"), TypeError, "level"),
            (dict(subsamples=10, executor=object()), TypeError, "executor"),
            (dict(subsamples=10, interval="wide"), ValueError, "interval"),
            (dict(subsamples=10, subsample_restarts=0), ValueError, "subsample_restarts"),
        ]
        for options, error, word in cases:
            with self.subTest(options=options):
                model = vimor.MaxScore(library="/nonexistent/libvimor.so", **SMALL, **options)
                # The bad library would fail the first fit: the check comes first.
                with self.assertRaisesRegex(error, word):
                    model.fit(X, y)

    def test_too_few_observations_for_the_default_size(self):
        X, y = heteroskedastic(80, 1)
        with self.assertRaisesRegex(ValueError, "at least 90 observations"):
            vimor.MaxScore(subsamples=10, **SMALL).fit(X, y)


if __name__ == "__main__":
    unittest.main()
