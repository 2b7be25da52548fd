"""Pictures of a fitted MaxScore: the objective's profiles and the resampled
draws behind the intervals. Imported only when first asked for, so that
matplotlib is needed by these two functions alone."""
import numpy
from sklearn.utils.validation import check_is_fitted


def plot_profile(model, names=None, window=None, ax=None):
    """The objective along each free coefficient, the others held at the
    estimate: one panel per coefficient, with the estimate (a vertical line),
    its flat range (shaded) and, when the model has them, the confidence
    interval (dashed). names: a coefficient or a list of them (None: every
    free one); window: as MaxScore.profile takes it; ax: an Axes, or one per
    coefficient. Returns the Figure."""
    check_is_fitted(model)
    names = _names(model, names, "names")
    axes = _axes(ax, len(names))
    flat = dict(zip(model.free_names_, _rows(model.flat_)))
    interval = _interval(model)
    coef = dict(zip(model.names_, map(float, model.coef_)))
    for name, a in zip(names, axes):
        steps = model.profile(name, window)
        left, right = steps["left"].to_numpy(), steps["right"].to_numpy()
        # Each step's value from its left end on; the last held to the window's end.
        value = steps["objective"].to_numpy()
        a.step(numpy.append(left, right[-1]), numpy.append(value, value[-1]), where="post",
               color="C0", linewidth=1.0, label="objective")
        # The flat range may run to infinity; the picture shows the window.
        lo, hi = max(flat[name][0], left[0]), min(flat[name][1], right[-1])
        a.axvspan(lo, hi, color="C0", alpha=0.2, label="flat range")
        a.axvline(coef[name], color="C3", label="estimate")
        if interval:
            _mark_interval(a, interval[name], model.level_)
        a.set_xlabel(name)
        a.set_ylabel("objective")
    axes[0].legend(loc="best", fontsize="small")
    return axes[0].figure


def plot_intervals(model, names=None, ax=None):
    """The subsample estimates or bootstrap draws on the full sample's scale,
    as the interval reads them: one histogram per free coefficient, with the
    estimate and the confidence interval. names, ax: as plot_profile takes
    them. Returns the Figure."""
    check_is_fitted(model)
    interval = _interval(model)
    if not interval:
        raise ValueError("model: fitted without subsamples or bootstrap draws, so there are "
                         "none to draw; fit with bootstrap=B > 0 or subsamples=B")
    names = _names(model, names, "names")
    axes = _axes(ax, len(names))
    draws = dict(zip(model.free_names_, model._scaled_draws()))
    coef = dict(zip(model.names_, map(float, model.coef_)))
    what = "bootstrap draws" if model.bootstrap_ else "subsample estimates"
    for name, a in zip(names, axes):
        a.hist(draws[name], bins="auto", color="C0", alpha=0.6, label=f"{what} (scaled)")
        a.axvline(coef[name], color="C3", label="estimate")
        _mark_interval(a, interval[name], model.level_)
        a.set_xlabel(name)
        a.set_ylabel("draws")
    axes[0].legend(loc="best", fontsize="small")
    return axes[0].figure


def _names(model, names, argument):
    if names is None:
        return list(model.free_names_)
    listed = [names] if isinstance(names, str) else list(names)
    if not listed:
        raise ValueError(f"{argument}: is empty; give at least one coefficient")
    return [model._free_name(n, argument) for n in listed]


def _axes(ax, count):
    if ax is None:
        import matplotlib.pyplot as plt
        figure, axes = plt.subplots(1, count, figsize=(4.0 * count, 3.2), squeeze=False,
                                    layout="constrained")
        return list(axes.ravel())
    axes = [ax] if hasattr(ax, "axvline") else list(numpy.ravel(numpy.asarray(ax, dtype=object)))
    if len(axes) != count or not all(hasattr(a, "axvline") for a in axes):
        raise ValueError(f"ax: expected an Axes for each of the {count} coefficient"
                         f"{'' if count == 1 else 's'}, got {len(axes)}")
    return axes


def _interval(model):
    """Each free coefficient's interval, or None without resamples."""
    if not (getattr(model, "subsamples_", 0) or getattr(model, "bootstrap_", 0)):
        return None
    return dict(zip(model.free_names_, _rows(model.conf_int())))


def _mark_interval(a, ends, level):
    for k, end in enumerate(ends):
        a.axvline(end, color="k", linestyle="--",
                  label=f"{100 * level:g}% interval" if k == 0 else "_nolegend_")


def _rows(pairs):
    values = pairs.to_numpy() if hasattr(pairs, "to_numpy") else numpy.asarray(pairs)
    return [tuple(map(float, row)) for row in values]
