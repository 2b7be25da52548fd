"""The core's warnings about a fit reach the user as vimor.FitWarning, with
every {key} spelled the Python way and the caller's line as their place."""
import random
import unittest
import warnings

import vimor
from support import probit_data


def fitted(X, y, **options):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        model = vimor.MaxScore(**options).fit(X, y)
    return model, seen


class FitWarningTest(unittest.TestCase):
    def test_a_discrete_normalized_regressor(self):
        rng = random.Random(3)
        X = {"x": [rng.gauss(0, 1) for _ in range(200)],
             "d": [float(rng.randrange(3)) for _ in range(200)]}
        y = [1 if X["x"][i] + X["d"][i] - 1 + rng.gauss(0, 0.5) > 0 else 0 for i in range(200)]
        _model, seen = fitted(X, y, normalize="d", intercept=True, restarts=4)
        self.assertEqual([str(w.message) for w in seen],
                         ["the normalized regressor 'd' takes only 3 distinct values: the scale "
                          "is identified only through a continuously distributed regressor"])
        self.assertIs(seen[0].category, vimor.FitWarning)
        self.assertTrue(issubclass(vimor.FitWarning, UserWarning))
        self.assertEqual(seen[0].filename, __file__)

    def test_keys_spelled_the_python_way(self):
        rows, y = probit_data(n=200, k=3, seed=7)
        model, seen = fitted(rows, y, restarts=4, max_evals=50000, lower=[-1.0, -1.0],
                             upper=[0.25, 1.0])
        edge = [str(w.message) for w in seen if "edge" in str(w.message)]
        self.assertEqual(edge, [f"the estimate for 'x1' ({model.coef_[0]:.7g}) is on the edge of "
                                f"its box [-1, 0.25]: the box may be too small (box_scale, lower, "
                                f"upper)"])

    def test_a_clear_fit_warns_of_nothing_and_warnings_can_be_errors(self):
        rows, y = probit_data(n=200, k=3, seed=7)
        options = dict(restarts=4, max_evals=50000, lower=[-1.0, -1.0], upper=[1.0, 1.0])
        self.assertEqual(fitted(rows, y, **options)[1], [])
        with warnings.catch_warnings():
            warnings.simplefilter("error", vimor.FitWarning)
            with self.assertRaisesRegex(vimor.FitWarning, r"^the estimate for 'x1'"):
                vimor.MaxScore(**dict(options, upper=[0.25, 1.0])).fit(rows, y)


if __name__ == "__main__":
    unittest.main()
