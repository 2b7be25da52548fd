"""The package hands the library exactly what a direct ctypes call does: results
agree bit for bit, and missing settings follow the shared rules."""
import random
import unittest

import vimor
from support import Direct, probit_data, result_key, shared_defaults


class ObjectiveTest(unittest.TestCase):
    def test_equals_direct_call(self):
        rows, y = probit_data(n=97, k=4, seed=3)
        direct = Direct()
        for coef, quantile, fixed in [([0.5, -0.3, 0.1], 0.5, 1.0),
                                      ([-1.25, 2.0, 0.0], 0.3, -2.0),
                                      ([1e-3, 7.5, -0.75], 0.9, 0.25)]:
            got = vimor.objective(y, rows, coef, quantile, fixed)
            self.assertIsInstance(got, float)
            self.assertEqual(got.hex(), direct.objective(y, rows, coef, quantile, fixed).hex())

    def test_worked_example(self):
        # Rows (1, 1) and (-1, 1), beta = (1, 0), responses (1, 0): terms 0.25 and 0.25.
        self.assertEqual(vimor.objective([1, 0], [[1, 1], [-1, 1]], [1.0], 0.5, 0.0), 0.5)


class AnnealTest(unittest.TestCase):
    settings = dict(quantile=0.4, fixed_coef=1.5, start=[0.1, -0.2], lower=[-3.0, -2.0],
                    upper=[3.0, 2.5], step=[0.7, 0.4], temperature=0.2, cooling=0.9,
                    tolerance=1e-4, sweeps=7, adjustments=3, history_len=3, max_evals=50000,
                    step_gain=[2.0, 1.5], maximize=True, seed1=4711, seed2=815)

    def direct(self, y, rows, **s):
        return Direct().anneal(
            y, rows, start=s["start"], quantile=s["quantile"], maximize=int(s["maximize"]),
            cooling=s["cooling"], tolerance=s["tolerance"], sweeps=s["sweeps"],
            adjustments=s["adjustments"], history_len=s["history_len"],
            max_evals=s["max_evals"], lower=s["lower"], upper=s["upper"],
            step_gain=s["step_gain"], seed1=s["seed1"], seed2=s["seed2"],
            temperature=s["temperature"], step=s["step"], fixed=s["fixed_coef"])

    def check(self, **changes):
        rows, y = probit_data(n=150, k=3, seed=11)
        s = dict(self.settings, **changes)
        got = vimor.anneal(y, rows, **s)
        want = self.direct(y, rows, **s)
        self.assertEqual(result_key(got), result_key(want))
        self.assertEqual(got.converged, want["status"] == 0)
        return got

    def test_converging_run(self):
        self.assertTrue(self.check().converged)

    def test_minimizing_run(self):
        got = self.check(maximize=False)
        self.assertLess(got.value, 0.0)

    def test_evaluation_limit(self):
        got = self.check(max_evals=40)
        self.assertEqual((got.status, got.converged, got.n_evals), (1, False, 40))

    def test_scalar_step_and_gain_are_repeated(self):
        rows, y = probit_data(n=150, k=3, seed=11)
        s = dict(self.settings, step=0.5, step_gain=1.5)
        want = self.direct(y, rows, **dict(s, step=[0.5, 0.5], step_gain=[1.5, 1.5]))
        self.assertEqual(result_key(vimor.anneal(y, rows, **s)), result_key(want))

    def test_defaults_follow_the_shared_rules(self):
        # Data whose spreads are exact: column 1 constant 2, column 2 alternating
        # +-1 (sd 1), the normalized column alternating 3 and 1 (mean 2, sd 1).
        n = 40
        rows = [[2.0, (-1.0) ** i, 3.0 if i % 2 else 1.0] for i in range(n)]
        y = [1 if (i * 7) % 5 < 2 else 0 for i in range(n)]
        quantile, fixed = 0.3, -0.5
        d = shared_defaults()
        scale = d["box_scale"] * abs(fixed)
        width = [scale * (2.0 + 1.0) / 2.0, scale * 1.0 / 1.0]
        want = Direct().anneal(
            y, rows, start=[0.0, 0.0], quantile=quantile, maximize=int(d["maximize"]),
            cooling=d["cooling"], tolerance=d["tolerance_fraction"] * min(quantile, 1 - quantile) / n,
            sweeps=d["sweeps"], adjustments=d["adjustments"], history_len=d["history_len"],
            max_evals=d["max_evals"], lower=[-w for w in width], upper=width,
            step_gain=[d["step_gain"]] * 2, seed1=d["seed"] % 31329, seed2=d["seed2"] % 30082,
            temperature=d["temperature"], step=[d["step_fraction"] * 2 * w for w in width],
            fixed=fixed)
        got = vimor.anneal(y, rows, quantile=quantile, fixed_coef=fixed)
        self.assertEqual(result_key(got), result_key(want))


class DefaultBoxSumsTest(unittest.TestCase):
    def test_numpy_columns_are_summed_in_observation_order(self):
        # The box of a numpy column is summed in blocks; it must give the bits
        # of the one-value-at-a-time sum, across block edges too. Mixed
        # magnitudes make the order of the additions show in the result.
        import numpy
        from vimor import _defaults
        rng = random.Random(29)
        block = _defaults.BLOCK
        for n in (1, 7, block - 1, block, block + 1, 2 * block + 3):
            values = [rng.choice((1e8, 1.0, 1e-8)) * rng.gauss(0.0, 1.0) + 3.0 for _ in range(n)]
            with self.subTest(n=n):
                got = _defaults.mean_sd(numpy.array(values))
                want = _defaults.mean_sd(values)
                self.assertEqual([v.hex() for v in got], [v.hex() for v in want])
        # numpy's own (pairwise) sum of the last column rounds differently.
        total = 0.0
        for v in values:
            total = total + v
        self.assertNotEqual(float(numpy.sum(values)), total)


if __name__ == "__main__":
    unittest.main()
