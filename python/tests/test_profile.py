"""Profiles of the objective against the module at every step, and the pictures."""
import csv
import math
import pickle
import unittest
import warnings

import matplotlib
import numpy
import pandas
from sklearn.exceptions import NotFittedError

import vimor
from support import HERE, Direct

matplotlib.use("Agg")
FREE = ["(Intercept)", "education", "age", "youngkids"]


def fit(sample_weight=None, **options):
    with open(HERE.parent.parent / "data" / "mroz_psid1976.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    X = pandas.DataFrame({n: [float(r[n]) for r in rows] for n in FREE[1:]})
    X["income"] = [float(r["fincome"]) / 1000 for r in rows]
    y = numpy.array([int(r["participation"]) for r in rows])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", vimor.FitWarning)
        model = vimor.MaxScore(intercept=True, normalize="income", fixed_coef=-1.0, restarts=2,
                               max_evals=20000, **options).fit(X, y, sample_weight=sample_weight)
    # The columns as the core holds them: the intercept, the free ones, income last.
    return model, y, numpy.column_stack([numpy.ones(len(X)), X.to_numpy()])


class ProfileTest(unittest.TestCase):
    def check_steps(self, model, value_at):
        table = model.profile()
        self.assertEqual(list(table), ["coefficient", "left", "right", "objective", "correct"])
        for j, name in enumerate(FREE):
            steps = table[table["coefficient"] == name]
            left, right = steps["left"].to_numpy(), steps["right"].to_numpy()
            self.assertEqual((left[0], right[-1]), model._box[j])
            self.assertTrue(numpy.array_equal(left[1:], numpy.nextafter(right[:-1], math.inf)))
            coef = model.coef_.to_numpy()[:4].copy()
            for lo, hi, value in zip(left, right, steps["objective"]):
                coef[j] = lo + (hi - lo) / 2
                self.assertEqual(value_at(coef).hex(), value.hex(), (name, lo, hi))
            at = steps[(left <= model.coef_[name]) & (model.coef_[name] <= right)]
            lower, upper = model.flat_.loc[name]
            self.assertEqual(at.iloc[0, 1:4].tolist(), [max(lower, left[0]),
                                                        min(upper, right[-1]), model.objective_])

    def test_every_step_is_the_module_objective_there(self):
        model, y, X = fit()
        self.check_steps(model, lambda coef: vimor.objective(y, X, coef, 0.5, -1.0))
        # Weights 0, 1, 2 in turn have mean 1 as they are; the module weighs
        # row i through the response 0.7 + w_i (y_i - 0.7).
        w = numpy.arange(len(y)) % 3.0
        model, y, X = fit(w, quantile=0.3)
        response = numpy.where(w == 1.0, y, 0.7 + w * (y - 0.7)).tolist()
        direct, rows = Direct(), X.tolist()
        self.check_steps(model, lambda b: direct.objective(response, rows, list(b), 0.3, -1.0))

    def test_window_and_refusals(self):
        model = fit()[0]
        full, narrow = model.profile("age"), model.profile("age", (-10.0, -6.0))
        self.assertEqual((narrow["left"].iloc[0], narrow["right"].iloc[-1]), (-10.0, -6.0))
        inner = full[(full["left"] > -10.0) & (full["right"] < -6.0)]
        self.assertEqual(narrow["objective"].iloc[1:-1].tolist(), inner["objective"].tolist())
        mapped = pickle.loads(pickle.dumps(model)).profile(window={"age": (-10.0, -6.0)})
        self.assertTrue(mapped[mapped["coefficient"] == "age"].reset_index(drop=True)
                        .equals(narrow))
        for kind, pattern, arguments in [
                (ValueError, r"^name: 'income' is the normalized", dict(name="income")),
                (ValueError, r"^window: the window of 'age', \[3, 1\], is not a finite range",
                 dict(name="age", window=(3, 1))),
                (TypeError, r"^window: expected a \(lo, hi\) pair", dict(window=5.0))]:
            with self.subTest(arguments=arguments), self.assertRaisesRegex(kind, pattern):
                model.profile(**arguments)
        with self.assertRaises(NotFittedError):
            vimor.MaxScore().profile()
        # An array fit used in place, changed afterwards, is not profiled as if unchanged.
        X = numpy.asfortranarray(numpy.array([[1.0, 0.5], [2.0, -1.0], [0.0, 2.0], [1.5, 1.0],
                                              [-1.0, 0.2], [0.3, -0.4]]))
        own = vimor.MaxScore(restarts=1).fit(X, [1, 0, 1, 1, 0, 0])
        own.profile()
        X[0, 0] = 7.0
        with self.assertRaisesRegex(ValueError, r"^profile: the data .* have changed"):
            own.profile()

    def test_pictures(self):
        import matplotlib.pyplot as plt
        self.addCleanup(plt.close, "all")

        def marks(a, label):
            return [v.get_xdata()[0] for v in a.lines if v.get_label() == label]
        plain, resampled = fit()[0], fit(subsamples=20, subsample_restarts=1)[0]
        figure = vimor.plot_profile(plain)
        self.assertEqual([a.get_xlabel() for a in figure.axes], FREE)
        self.assertEqual([marks(a, "estimate") for a in figure.axes],
                         [[v] for v in plain.coef_[:4]])
        with self.assertRaisesRegex(ValueError, r"^model: fitted without subsamples"):
            vimor.plot_intervals(plain)
        lower = resampled.conf_int()["lower"]["age"]
        for figure in (vimor.plot_profile(resampled, "age"),
                       vimor.plot_intervals(resampled, "age")):
            self.assertEqual([marks(a, "95% interval") for a in figure.axes], [[lower]])
        self.assertEqual(sum(p.get_height() for p in figure.axes[0].patches), 20)  # the draws
