"""vimor: binary-response quantile regression by the maximum-score method,
optimised by simulated annealing.

    import vimor
    model = vimor.MaxScore(intercept=True).fit(X, y)
    print(model.summary())

objective() and anneal() call the library's two exports directly and need only
the standard library; MaxScore is a multi-start fit with scikit-learn's
estimator interface (fit/predict/decision_function/score) and needs numpy and
scikit-learn, imported when MaxScore is first used. The compiled module
(libvimor.so) is loaded at first use: see load_library().
"""
from ._core import AnnealResult, anneal, objective
from ._defaults import DEFAULTS
from ._library import Library, LibraryError, load_library

__version__ = "0.1.0"

# Tracebacks and reprs name the public home of each class.
for _public in (AnnealResult, Library, LibraryError):
    _public.__module__ = __name__
del _public


def __getattr__(name):
    if name == "MaxScore":
        from ._model import MaxScore
        MaxScore.__module__ = __name__
        globals()["MaxScore"] = MaxScore
        return MaxScore
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


__all__ = ["AnnealResult", "DEFAULTS", "Library", "LibraryError", "MaxScore", "anneal",
           "load_library", "objective"]
