# Profiles of the objective along each free coefficient, the others held at
# the estimate, and the fit's pictures. The core finds the steps exactly;
# R rebuilds the design from the model frame the fit kept.

# y, the design (the fit's column order) and weights of a fit, from its
# model frame; `name` is the argument blamed when the fit kept none.
fit_data <- function(fit, name) {
  mf <- fit$model
  if (is.null(mf)) {
    fail(name, "was fitted with model = FALSE, so it keeps no data to profile; ",
         "fit again with model = TRUE (the default)")
  }
  x <- model.matrix(fit$terms, mf)[, names(fit$coefficients), drop = FALSE]
  storage.mode(x) <- "double"
  y <- two_valued(model.response(mf), deparse1(fit$formula[[2]]), rownames(mf))
  list(y = y, x = x, weights = fit$weights)
}

# The free coefficients `which` names (names or positions; NULL: all).
profiled <- function(which, fit) {
  names <- names(fit$coefficients)
  free <- setdiff(names, fit$normalized)
  if (is.null(which)) return(free)
  if (is.numeric(which) && !is.factor(which)) {
    bad <- which[!(which %in% seq_along(names))]
    if (length(bad)) {
      fail("which", sprintf("%s is not a coefficient's number; there are %d", format(bad[1]),
                            length(names)))
    }
    which <- names[which]
  }
  if (!is.character(which) || anyNA(which)) {
    fail("which", "expected coefficients' names or numbers, got ", describe(which))
  }
  unknown <- setdiff(which, names)
  if (length(unknown)) {
    fail("which", sprintf("'%s' is not a coefficient; they are %s", unknown[1],
                          paste(names, collapse = ", ")))
  }
  if (fit$normalized %in% which) {
    fail("which", sprintf("'%s' is the normalized coefficient, held at %s, so it has no profile",
                          fit$normalized, format(fit$fixed_coef)))
  }
  unique(which)
}

# A two-column matrix of windows, a row per coefficient in `which`: the
# fit's box unless `window` gives one pair for all or pairs by name.
profile_windows <- function(window, which, fit) {
  free <- setdiff(names(fit$coefficients), fit$normalized)
  box <- cbind(fit$settings$lower, fit$settings$upper)
  dimnames(box) <- list(free, c("lower", "upper"))
  out <- box[which, , drop = FALSE]
  pair <- function(value, label) {
    if (!is.numeric(value) || is.factor(value) || length(value) != 2L || !is.null(dim(value))) {
      fail("window", sprintf("expected c(lower, upper)%s, got %s", label, describe(value)))
    }
    as.double(value)
  }
  if (is.null(window)) return(out)
  if (is.list(window)) {
    if (is.null(names(window)) || !all(nzchar(names(window)))) {
      fail("window", "a list of windows must name each coefficient, as in list(education = c(0, 20))")
    }
    for (name in names(window)) {
      if (!(name %in% which)) {
        fail("window", sprintf("'%s' is not a coefficient profiled here; they are %s", name,
                               paste(which, collapse = ", ")))
      }
      out[name, ] <- pair(window[[name]], sprintf(" for '%s'", name))
    }
    return(out)
  }
  out[] <- rep(pair(window, " or a list of such pairs by coefficient"), each = nrow(out))
  out
}

profile.maxscore <- function(fitted, which = NULL, window = NULL, ...) {
  d <- fit_data(fitted, "fitted")
  which <- profiled(which, fitted)
  windows <- profile_windows(window, which, fitted)
  free <- setdiff(names(fitted$coefficients), fitted$normalized)
  estimate <- unname(fitted$coefficients[free])
  steps <- lapply(which, function(name) {
    s <- checked(.Call(C_vimor_r_profile, d$y, d$x, fitted$fixed_coef, colnames(d$x),
                       d$weights, estimate, fitted$quantile, match(name, free) - 1L,
                       windows[name, 1], windows[name, 2]))
    data.frame(coefficient = rep(name, length(s$left)), s, stringsAsFactors = FALSE)
  })
  out <- do.call(rbind, steps)
  rownames(out) <- NULL
  sub <- fitted$subsamples
  intervals <- if (!is.null(sub)) {
    matrix(sub$intervals[match(which, free), ], ncol = 2L,
           dimnames = list(which, c("lower", "upper")))
  }
  # What the plot marks, kept so that a profile plots without its fit.
  structure(out, class = c("profile.maxscore", "data.frame"),
            estimate = fitted$coefficients[which], objective = fitted$objective,
            flat = fitted$flat[which, , drop = FALSE], window = windows,
            intervals = intervals)
}

# Arguments for a plotting call: the defaults, overridden by the user's.
with_defaults <- function(defaults, given) c(given, defaults[setdiff(names(defaults), names(given))])

plot.profile.maxscore <- function(x, ...) {
  names <- unique(x$coefficient)
  if (!length(names)) fail("x", "has no steps to plot")
  estimate <- attr(x, "estimate")
  flat <- attr(x, "flat")
  intervals <- attr(x, "intervals")
  old <- par(mfrow = n2mfrow(length(names)), mar = c(4, 4, 2, 1))
  on.exit(par(old))
  for (name in names) {
    s <- x[x$coefficient == name, , drop = FALSE]
    n <- nrow(s)
    # Step s holds from left[s] up to left[s + 1]; the last to its right end.
    at <- c(s$left, s$right[n])
    value <- c(s$objective, s$objective[n])
    do.call(plot, with_defaults(list(x = at, y = value, type = "n", main = name, xlab = name,
                                     ylab = "objective"), list(...)))
    # The flat range cut to the window, when the window holds the estimate.
    shade <- if (!is.null(flat) && name %in% rownames(flat)) {
      c(max(flat[name, 1], at[1]), min(flat[name, 2], at[n + 1]))
    }
    if (length(shade) && shade[1] <= shade[2]) {
      usr <- par("usr")
      rect(shade[1], usr[3], shade[2], usr[4], col = "grey85", border = "grey60")
    }
    lines(at, value, type = "s")
    if (!is.null(estimate)) abline(v = estimate[[name]], col = "red")
    if (!is.null(intervals) && name %in% rownames(intervals)) {
      abline(v = intervals[name, ], col = "blue", lty = 2)
    }
  }
  invisible(x)
}

plot.maxscore <- function(x, which = c("profile", "intervals"), ...) {
  which <- one_of(which, c("profile", "intervals"), "which")
  if (which == "profile") {
    fit_data(x, "x")  # a fit without its data is plot's argument to blame, not profile's
    return(invisible(plot(profile(x), ...)))
  }
  sub <- x$subsamples
  if (is.null(sub)) {
    fail("x", "was fitted without subsamples or bootstrap, so it has no draws to show; ",
         "fit with subsamples = B or bootstrap = B")
  }
  free <- colnames(sub$estimates)
  draws <- sub$estimates
  old <- par(mfrow = n2mfrow(length(free)), mar = c(4, 4, 2, 1))
  on.exit(par(old))
  for (j in seq_along(free)) {
    name <- free[j]
    e <- x$coefficients[[name]]
    draws[, j] <- checked(.Call(C_vimor_r_scaled_draws, e, as.double(sub$estimates[, j]),
                                x$nobs, as.integer(sub$size)))
    ends <- sub$intervals[j, ]
    # Bins over the draws, the estimate and the interval, so the axis spans all three.
    do.call(hist, with_defaults(list(x = draws[, j], breaks = pretty(range(draws[, j], e, ends), 20),
                                     main = name, col = "grey85", border = "grey60",
                                     xlab = sprintf("%s, %s draws scaled", name, sub$method)),
                                list(...)))
    abline(v = e, col = "red", lwd = 2)
    abline(v = ends, col = "blue", lty = 2)
  }
  invisible(draws)
}
