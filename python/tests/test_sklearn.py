"""MaxScore by scikit-learn's conventions: its common checks, labels,
feature names, and the index as decision_function."""
import pickle
import unittest
import warnings

import numpy
from sklearn.base import clone
from sklearn.exceptions import SkipTestWarning
from sklearn.model_selection import cross_val_score
from sklearn.utils.estimator_checks import (check_classifiers_classes, check_classifiers_train,
                                            check_estimator)

import vimor
from vimor import _model
from support import library_path, probit_data

try:
    import pandas
except ImportError:
    pandas = None


def setUpModule():
    # The checks' data are small: their fits warn of sets of maxima, which is
    # the warnings' test's business, not these.
    warnings.filterwarnings("ignore", category=vimor.FitWarning)


class CommonChecksTest(unittest.TestCase):
    def test_check_estimator(self):
        passed, skipped = [], []
        for estimator, check in check_estimator(vimor.MaxScore(restarts=4), generate_only=True):
            name = getattr(check, "func", check).__name__
            with self.subTest(check=name), warnings.catch_warnings(record=True) as seen:
                warnings.simplefilter("always")
                try:
                    check(estimator)
                except unittest.SkipTest:
                    skipped.append(name)
                    continue
                passed.append(name)
                self.assertFalse([w for w in seen if w.category is SkipTestWarning])
        # Only the checks declared not applicable are skipped, each with its reason.
        self.assertEqual(sorted(set(skipped)), sorted(_model.NOT_APPLICABLE))
        self.assertGreaterEqual(len(passed), 40)
        print(f"\ncheck_estimator: {len(passed)} passed, {len(skipped)} declared not "
              f"applicable ({', '.join(skipped)})")

    def test_declared_checks_pass_with_the_other_sign(self):
        # The reason given: the checks' data need a negative coefficient on the
        # last column. Stating that sign, the same checks pass in full, the
        # training-accuracy threshold included.
        class Scored(vimor.MaxScore):
            def _more_tags(self):
                return {"binary_only": True}

        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            check_classifiers_classes("MaxScore", Scored(restarts=4, fixed_coef=-1.0))
            check_classifiers_train("MaxScore", Scored(restarts=4, fixed_coef=-1.0))
            with self.assertRaises(AssertionError):
                check_classifiers_classes("MaxScore", Scored(restarts=4))

    def test_parameters_are_kept_as_given(self):
        model = vimor.MaxScore(temperature=0.1, n_jobs=-1, lower={"x1": -2.0})
        copy = clone(model)
        self.assertEqual((copy.temperature, copy.n_jobs, copy.lower),
                         (0.1, -1, {"x1": -2.0}))
        self.assertEqual(model.set_params(restarts=7).get_params()["restarts"], 7)

    def test_a_loaded_library_is_shared_by_clones_and_pickles(self):
        library = vimor.load_library(library_path())
        model = vimor.MaxScore(restarts=2, max_evals=5000, library=library)
        self.assertIs(clone(model).library, library)
        rows, y = probit_data(n=60, k=3, seed=23)
        model.fit(rows, y)
        again = pickle.loads(pickle.dumps(model))
        self.assertIs(again.library, library)
        self.assertEqual(again.decision_function(rows).tobytes(),
                         model.decision_function(rows).tobytes())

    def test_cross_validation_clones_and_scores(self):
        rows, y = probit_data(n=120, k=3, seed=21)
        scores = cross_val_score(vimor.MaxScore(restarts=2, max_evals=5000), numpy.array(rows),
                                 numpy.array(y), cv=3)
        self.assertEqual(len(scores), 3)
        self.assertTrue(all(0.5 < s <= 1.0 for s in scores), scores)


class LabelsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rows, y = probit_data(n=100, k=3, seed=17)
        cls.X = numpy.array(rows)
        cls.y = numpy.array(y)
        cls.options = dict(restarts=3, max_evals=20000)
        cls.reference = vimor.MaxScore(**cls.options).fit(cls.X, cls.y)

    def test_any_two_labels_the_larger_plays_one(self):
        for labels in (["no", "yes"], [-1, 1], [2.0, 7.0], [False, True]):
            with self.subTest(labels=labels):
                named = numpy.array(labels, dtype=object if isinstance(labels[0], str) else None)
                model = vimor.MaxScore(**self.options).fit(self.X, named[self.y])
                self.assertEqual(list(model.classes_), sorted(labels))
                self.assertEqual(numpy.asarray(model.coef_).tobytes(),
                                 numpy.asarray(self.reference.coef_).tobytes())
                self.assertEqual(model.predict(self.X).tolist(),
                                 named[self.reference.predict(self.X)].tolist())

    def test_more_or_fewer_than_two_labels(self):
        with self.assertRaisesRegex(ValueError, r"^y: has 3 classes \(0, 1, 2\); a maximum-score "
                                                r"fit needs exactly two"):
            vimor.MaxScore().fit(self.X, numpy.arange(100) % 3)
        with self.assertRaisesRegex(ValueError, r"^y: has 1 class \('a'\)"):
            vimor.MaxScore().fit(self.X, ["a"] * 100)

    def test_decision_function_is_the_index(self):
        # x . beta summed in the library's order: the free coefficients, then
        # the normalized (last) column, from +0.
        b = list(self.reference.coef_)
        want = []
        for row in self.X.tolist():
            index = 0.0
            for x, c in zip(row, b):
                index = x * c + index
            want.append(index)
        got = self.reference.decision_function(self.X)
        self.assertEqual(got.tobytes(), numpy.array(want).tobytes())
        self.assertEqual(self.reference.predict(self.X).tolist(),
                         [1 if v >= 0.0 else 0 for v in want])
        share = numpy.mean(self.reference.predict(self.X) == self.y)
        self.assertEqual(self.reference.accuracy_, share)
        self.assertEqual(self.reference.score(self.X, self.y), share)

    def test_fitted_attributes(self):
        self.assertEqual(self.reference.n_features_in_, 3)
        self.assertFalse(hasattr(self.reference, "feature_names_in_"))
        self.assertEqual(self.reference.names_, ["x1", "x2", "x3"])

    @unittest.skipIf(pandas is None, "pandas is not installed")
    def test_feature_names_follow_scikit_learn(self):
        frame = pandas.DataFrame(self.X, columns=["age", "kids", "income"])
        model = vimor.MaxScore(intercept=True, **self.options).fit(frame, self.y)
        self.assertEqual(list(model.feature_names_in_), ["age", "kids", "income"])
        self.assertEqual(list(model.coef_.index), ["(Intercept)", "age", "kids", "income"])
        with self.assertRaisesRegex(ValueError, r"Feature names must be in the same order"):
            model.predict(frame[["kids", "age", "income"]])


if __name__ == "__main__":
    unittest.main()
