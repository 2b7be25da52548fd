"""Subsampling intervals, flat ranges and executors as the host reports them:
levels from the same fits, pickles, the flat ends against the objective, and
any concurrent.futures executor giving the thread path's bits."""
import math
import pickle
import random
import unittest
import warnings
from concurrent.futures import Executor, Future, ProcessPoolExecutor, ThreadPoolExecutor

import pandas

import vimor


def heteroskedastic(n, seed):
    """y = 1[1 - x1 + x2 + e >= 0] with median-zero noise whose spread grows with |x1|."""
    rng = random.Random(seed)
    x1 = [rng.gauss(0.0, 1.0) for _ in range(n)]
    x2 = [rng.gauss(0.0, 1.0) for _ in range(n)]
    y = [1 if 1.0 - a + b + (0.5 + 0.5 * abs(a)) * rng.gauss(0.0, 1.0) >= 0.0 else 0
         for a, b in zip(x1, x2)]
    return {"x1": x1, "x2": x2}, y


SMALL = dict(normalize="x2", intercept=True, restarts=3, max_evals=20000)


def fit(X, y, **options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", vimor.FitWarning)
        return vimor.MaxScore(**dict(SMALL, **options)).fit(X, y)


def bits(model):
    hexes = lambda rows: [[float(v).hex() for v in row] for row in rows]  # noqa: E731
    return ([float(v).hex() for v in model.coef_], hexes(model.subsample_estimates_),
            hexes(model.conf_int()), hexes(model.conf_int(0.8)), hexes(model.flat_),
            [(r.value.hex(), r.n_evals, r.status) for r in model.results_], model.seeds_,
            model.n_best_, model.n_multiple_best_, model.n_redrawn_, model.n_limit_hit_)


class IntervalTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.X, cls.y = heteroskedastic(300, 5)
        cls.model = fit(cls.X, cls.y, subsamples=40, subsample_restarts=2)

    def test_levels_from_the_same_fits(self):
        wide, narrow = self.model.conf_int(), self.model.conf_int(0.5)
        for (lo, hi), (lo2, hi2), est in zip(wide, narrow, self.model.coef_[:2]):
            self.assertTrue(lo <= lo2 <= est <= hi2 <= hi)
        self.assertEqual(self.model.conf_int(0.95).tobytes(), wide.tobytes())
        self.assertEqual(self.model.subsample_estimates_.shape, (40, 2))
        self.assertEqual((self.model.subsample_size_, self.model.level_), (44, 0.95))
        self.assertIn("95% interval", self.model.summary())
        with self.assertRaisesRegex(ValueError, r"^level: 1.5 is outside \(0, 1\)$"):
            self.model.conf_int(1.5)
        with self.assertRaisesRegex(TypeError, r"^level: expected a number"):
            self.model.conf_int("0.9")

    def test_pickle_keeps_every_level(self):
        again = pickle.loads(pickle.dumps(self.model))
        for name in ("coef_", "subsample_estimates_", "flat_"):
            self.assertEqual(getattr(again, name).tobytes(), getattr(self.model, name).tobytes())
        for level in (None, 0.5, 0.9):
            self.assertEqual(again.conf_int(level).tobytes(), self.model.conf_int(level).tobytes())

    def test_dataframe_in_dataframe_out(self):
        model = fit(pandas.DataFrame(self.X), self.y, subsamples=5, subsample_restarts=1,
                    level=0.5)
        for table in (model.conf_int(), model.flat_):
            self.assertEqual(list(table.index), ["(Intercept)", "x1"])
            self.assertEqual(list(table.columns), ["lower", "upper"])
        self.assertEqual(list(model.subsample_estimates_.columns), ["(Intercept)", "x1"])

    def test_no_intervals_without_subsamples(self):
        model = fit(self.X, self.y)
        with self.assertRaisesRegex(RuntimeError, "subsamples"):
            model.conf_int()
        self.assertNotIn("interval", model.summary().split("flat range:")[0])
        with self.assertRaisesRegex(ValueError, "at least 90 observations"):
            fit(*heteroskedastic(80, 1), subsamples=10)


class FlatTest(unittest.TestCase):
    def test_ends_are_exact_for_the_module(self):
        X, y = heteroskedastic(150, 4)
        model = fit(X, y, quantile=0.3)
        rows = [[1.0, a, b] for a, b in zip(X["x1"], X["x2"])]
        coef = list(model.coef_[:2])

        def s(j, t):
            return vimor.objective(y, rows, coef[:j] + [t] + coef[j + 1:], quantile=0.3)

        value, rng = model.objective_, random.Random(4)
        for j, (lo, hi) in enumerate(model.flat_):
            with self.subTest(coefficient=j):
                self.assertTrue(lo <= coef[j] <= hi)
                self.assertEqual((s(j, lo), s(j, hi)), (value, value))
                self.assertNotEqual(s(j, math.nextafter(lo, -math.inf)), value)
                self.assertNotEqual(s(j, math.nextafter(hi, math.inf)), value)
                for _ in range(20):  # no dip inside
                    self.assertEqual(s(j, rng.uniform(lo, hi)), value)


class Interrupted(Future):
    def result(self, timeout=None):
        raise KeyboardInterrupt


class NeverRuns(Executor):
    """Futures that never run; waiting for the first is ended by Ctrl-C."""

    def __init__(self):
        self.futures = []

    def submit(self, fn, *args, **kwargs):
        self.futures.append(Future() if self.futures else Interrupted())
        return self.futures[-1]


class ExecutorTest(unittest.TestCase):
    def test_same_bits_as_threads(self):
        X, y = heteroskedastic(200, 12)
        options = dict(subsamples=6, subsample_restarts=2, level=0.8)
        threads = bits(fit(X, y, n_jobs=2, **options))
        with ThreadPoolExecutor(2) as pool:
            self.assertEqual(bits(fit(X, y, executor=pool, **options)), threads)
        with ProcessPoolExecutor(2) as pool:
            self.assertEqual(bits(fit(X, y, executor=pool, **options)), threads)

    def test_bootstrap_on_an_executor_and_at_other_levels(self):
        # Draws need the estimate: on an executor each task finishes the
        # restarts itself; the bits are the threads'. Other levels follow the
        # quantile rule at rate N^(1/3) both ways: |draw - estimate|.
        # Chunks of 16 draws a task; the cross-fitted curvature too.
        X, y = heteroskedastic(200, 12)
        options = dict(bootstrap=24, bootstrap_restarts=2, level=0.8)
        with ProcessPoolExecutor(2) as pool:
            for hessian in ("crossfit", "kernel"):
                threads = fit(X, y, n_jobs=2, hessian=hessian, **options)
                other = fit(X, y, executor=pool, hessian=hessian, **options)
                self.assertEqual(other.bootstrap_estimates_.tobytes(),
                                 threads.bootstrap_estimates_.tobytes())
                self.assertEqual(other.conf_int().tobytes(), threads.conf_int().tobytes())
                self.assertEqual(threads.inference_["hessian"], hessian)
        again = pickle.loads(pickle.dumps(threads))
        for j, est in enumerate(threads.coef_[:2]):
            dev = sorted(abs((d - est) + 0.0) for d in threads.bootstrap_estimates_[:, j])
            half = dev[math.ceil(0.5 * 24 - 1e-9) - 1]
            self.assertEqual(again.conf_int(0.5)[j].tolist(), [est - half, est + half])
        self.assertEqual(threads.inference_["method"], "reshaped bootstrap")

    def test_ctrl_c_cancels_what_has_not_run(self):
        X, y = heteroskedastic(200, 12)
        executor = NeverRuns()
        with self.assertRaises(KeyboardInterrupt):
            fit(X, y, executor=executor, subsamples=4, level=0.5)
        self.assertEqual(len(executor.futures), 3 + 4)
        self.assertTrue(all(f.cancelled() for f in executor.futures))


if __name__ == "__main__":
    unittest.main()
