"""vimor: binary-response quantile regression by the maximum-score method,
optimised by simulated annealing.

    import vimor
    model = vimor.MaxScore(intercept=True).fit(X, y)
    print(model.summary())

objective() and anneal() need only numpy; MaxScore is a multi-start fit
with scikit-learn's estimator interface (fit/predict/decision_function/score)
and needs scikit-learn too, imported when MaxScore is first used. All three
read X and y alike. Every rule of a fit lives in the
estimation core (libvimor_fit), which calls the compiled module (libvimor);
both are loaded at first use: see load_library(). plot_profile() and
plot_intervals() draw a fitted MaxScore and need matplotlib, imported only
when either is first asked for.
"""
from ._core import AnnealResult, FitWarning, anneal, objective
from ._library import Library, LibraryError, load_library

__version__ = "0.1.0"

# Tracebacks and reprs name the public home of each class.
for _public in (AnnealResult, FitWarning, Library, LibraryError):
    _public.__module__ = __name__
del _public


def __getattr__(name):
    # DEFAULTS comes from the core, loaded only when first asked for.
    if name == "DEFAULTS":
        from ._library import defaults
        globals()["DEFAULTS"] = value = defaults()
        return value
    if name == "MaxScore":
        from ._model import MaxScore
        MaxScore.__module__ = __name__
        globals()["MaxScore"] = MaxScore
        return MaxScore
    if name in ("plot_profile", "plot_intervals"):
        # matplotlib is imported by the pictures alone.
        from . import _plot
        function = globals()[name] = getattr(_plot, name)
        return function
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


__all__ = ["AnnealResult", "DEFAULTS", "FitWarning", "Library", "LibraryError", "MaxScore",
           "anneal", "load_library", "objective", "plot_intervals", "plot_profile"]
