"""objective() and anneal() through the core hand the module what a direct
ctypes call of its exports does: the results agree bit for bit."""
import unittest

import numpy

import vimor
from support import Direct, probit_data, result_key


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
        # Indices 2 + 1 = 3 and -3 + 1.5 = -1.5, responses 1 and 0, alpha 1/4:
        # terms (1/2)(1 - 3/4)(+1) = 1/8 and (1/2)(0 - 3/4)(-1) = 3/8.
        self.assertEqual(vimor.objective([1, 0], [[2, 1], [-3, 1.5]], [1.0], 0.25), 0.5)


class AnnealTest(unittest.TestCase):
    settings = dict(quantile=0.4, fixed_coef=1.5, start=[0.1, -0.2], lower=[-3.0, -2.0],
                    upper=[3.0, 2.5], step=[0.7, 0.4], temperature=0.2, cooling=0.9,
                    tolerance=1e-4, sweeps=7, adjustments=3, history_len=3, max_evals=50000,
                    step_gain=[2.0, 1.5], maximize=True, seed1=4711, seed2=815)

    @classmethod
    def setUpClass(cls):
        cls.rows, cls.y = probit_data(n=150, k=3, seed=11)

    def direct(self, **s):
        return Direct().anneal(
            self.y, self.rows, start=s["start"], quantile=s["quantile"],
            maximize=int(s["maximize"]), cooling=s["cooling"], tolerance=s["tolerance"],
            sweeps=s["sweeps"], adjustments=s["adjustments"], history_len=s["history_len"],
            max_evals=s["max_evals"], lower=s["lower"], upper=s["upper"],
            step_gain=s["step_gain"], seed1=s["seed1"], seed2=s["seed2"],
            temperature=s["temperature"], step=s["step"], fixed=s["fixed_coef"])

    def test_runs_equal_direct_calls(self):
        for changes in ({}, {"maximize": False}, {"max_evals": 40}, {"seed1": 31328, "seed2": 0}):
            with self.subTest(**changes):
                s = dict(self.settings, **changes)
                got = vimor.anneal(self.y, self.rows, **s)
                want = self.direct(**s)
                self.assertEqual(result_key(got), result_key(want))
                self.assertEqual(got.converged, want["status"] == 0)
        self.assertEqual(vimor.anneal(self.y, self.rows, **dict(self.settings, max_evals=40))
                         .n_evals, 40)

    def test_one_step_and_gain_for_all(self):
        s = dict(self.settings, step=0.5, step_gain=1.5)
        want = self.direct(**dict(s, step=[0.5, 0.5], step_gain=[1.5, 1.5]))
        self.assertEqual(result_key(vimor.anneal(self.y, self.rows, **s)), result_key(want))

    def test_by_name_and_numpy_in_numpy_out(self):
        X = numpy.array(self.rows)
        s = dict(self.settings, lower={"x1": -3.0, "x2": -2.0})
        got = vimor.anneal(self.y, X, **s)
        self.assertIsInstance(got.best, numpy.ndarray)
        self.assertEqual(result_key(got), result_key(self.direct(**self.settings)))
        self.assertIs(type(vimor.anneal(self.y, self.rows, **self.settings).best), list)

    def test_seeds_outside_the_streams_are_refused(self):
        for name, bad, top in (("seed1", 31329, 31328), ("seed2", 30082, 30081),
                               ("seed1", -1, 31328)):
            with self.subTest(name=name, value=bad):
                with self.assertRaisesRegex(ValueError, rf"^{name}: {bad} is outside 0\.\.{top}$"):
                    vimor.anneal(self.y, self.rows, **{name: bad})


if __name__ == "__main__":
    unittest.main()
