"""A fit on numpy data adds little beyond one design matrix: no Python list
of the data, the default box and the accuracy computed in blocks."""
import tracemalloc
import unittest

import numpy

import vimor


class MemoryTest(unittest.TestCase):
    def test_fit_peak_within_one_and_a_half_times_the_data(self):
        # 10^6 x 6 regressors and a float64 response: 56 MB. The design with
        # its intercept column is 56 MB; tracemalloc sees numpy's memory too.
        rng = numpy.random.default_rng(3)
        X = rng.standard_normal((1_000_000, 6))
        y = (X @ numpy.linspace(1.0, -1.0, 6) + rng.standard_normal(len(X)) >= 0.0) * 1.0
        model = vimor.MaxScore(intercept=True, restarts=1, max_evals=50)
        tracemalloc.start()
        try:
            model.fit(X, y)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        self.assertLess(peak, 1.5 * (X.nbytes + y.nbytes))
        self.assertEqual(model.n_obs_, 1_000_000)


if __name__ == "__main__":
    unittest.main()
