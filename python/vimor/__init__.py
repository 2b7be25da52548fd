"""vimor: binary-response quantile regression by the maximum-score method,
optimised by simulated annealing.

    import vimor
    model = vimor.MaxScore(intercept=True).fit(X, y)
    print(model.summary())

objective() and anneal() call the library's two exports directly; MaxScore is
a multi-start fit with fit/predict/score/summary. The compiled module
(libvimor.so) is loaded at first use: see load_library().
"""
from ._core import AnnealResult, anneal, objective
from ._defaults import DEFAULTS
from ._library import Library, LibraryError, load_library
from ._model import MaxScore

__version__ = "0.1.0"

# Tracebacks and reprs name the public home of each class.
for _public in (AnnealResult, Library, LibraryError, MaxScore):
    _public.__module__ = __name__
del _public

__all__ = ["AnnealResult", "DEFAULTS", "Library", "LibraryError", "MaxScore", "anneal",
           "load_library", "objective"]
