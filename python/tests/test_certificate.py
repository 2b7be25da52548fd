"""certify: after the restarts, a branch and bound over the box proves the
estimate the maximum or bounds how far off it is; a better point it finds
becomes the estimate, with a warning."""
import unittest
import warnings
from concurrent.futures import ThreadPoolExecutor

import vimor
from support import Direct, probit_data


def fitted(rows, y, **options):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        model = vimor.MaxScore(**options).fit(rows, y)
    return model, [str(w.message) for w in seen if w.category is vimor.FitWarning]


class CertificateTest(unittest.TestCase):
    def setUp(self):
        # Rounded regressors: rows alike, many ties.
        self.rows, self.y = probit_data(n=80, k=3, seed=11)
        self.rows = [[round(v, 1) for v in row] for row in self.rows]

    def test_a_missed_maximum_is_replaced(self):
        proven, said = fitted(self.rows, self.y, restarts=20, certify=10)
        self.assertEqual(proven.certificate_["status"], "optimal")
        self.assertFalse(any("missed" in m for m in said))
        short, said = fitted(self.rows, self.y, restarts=1, max_evals=20, certify=10)
        c = short.certificate_
        self.assertEqual(c["status"], "optimal")
        self.assertTrue(c["improved"])
        self.assertTrue(any("the search missed the maximum" in m for m in said))
        self.assertLess(short.results_[0].value, short.objective_)
        self.assertAlmostEqual(short.objective_, proven.objective_, delta=1e-12)
        self.assertEqual(c["upper_bound"], short.objective_)
        # The reported objective is the module's own at the reported point.
        coef = list(short.coef_[:-1])
        self.assertEqual(Direct().objective(self.y, self.rows, coef, 0.5, 1.0), short.objective_)

    def test_the_same_on_an_executor(self):
        here, _ = fitted(self.rows, self.y, restarts=1, max_evals=20, certify=10)
        with ThreadPoolExecutor(2) as pool:
            there, _ = fitted(self.rows, self.y, restarts=1, max_evals=20, certify=10,
                              executor=pool)
        self.assertEqual(list(there.coef_), list(here.coef_))
        self.assertEqual(there.certificate_["status"], here.certificate_["status"])

    def test_off_by_default_and_checked(self):
        model, _ = fitted(self.rows, self.y, restarts=2)
        self.assertIsNone(model.certificate_)
        for bad in (-1, float("nan")):
            with self.assertRaisesRegex(ValueError, "certify"):
                vimor.MaxScore(restarts=1, certify=bad).fit(self.rows, self.y)


if __name__ == "__main__":
    unittest.main()
