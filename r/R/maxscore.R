# maxscore(): a multi-start maximum-score fit from a formula, with the command
# line's model layout (the intercept first, the normalized term last), its
# data-derived defaults, restart seeds and best-restart rule.

maxscore <- function(formula, data, quantile = vimor_defaults()$quantile, normalize = ~ income,
                     fixed_coef = vimor_defaults()$fixed_coef, subset, na.action,
                     restarts = vimor_defaults()$restarts, seed = vimor_defaults()$seed,
                     seed2 = vimor_defaults()$seed2, cores = getOption("mc.cores", 2L),
                     lower = NULL, upper = NULL, start = NULL, step = NULL,
                     step_gain = vimor_defaults()$step_gain,
                     temperature = vimor_defaults()$temperature,
                     cooling = vimor_defaults()$cooling, tolerance = NULL,
                     sweeps = vimor_defaults()$sweeps,
                     adjustments = vimor_defaults()$adjustments,
                     history_len = vimor_defaults()$history_len,
                     max_evals = vimor_defaults()$max_evals,
                     maximize = vimor_defaults()$maximize, subsamples = 0,
                     subsample_size = NULL, subsample_restarts = NULL, model = TRUE) {
  began <- proc.time()[["elapsed"]]
  call <- match.call()
  s <- scalar_settings(quantile, fixed_coef, maximize, temperature, cooling, tolerance,
                       sweeps, adjustments, history_len, max_evals)
  restarts <- check_integer(restarts, "restarts", 1L, seed1_streams)
  seed <- check_integer(seed, "seed", 0L, seed1_streams - 1L)
  seed2 <- check_integer(seed2, "seed2", 0L, seed2_streams - 1L)
  cores <- check_integer(cores, "cores", 1L)
  if (!inherits(formula, "formula") || length(formula) != 3L) {
    fail("formula", "expected a two-sided formula such as y ~ x1 + x2")
  }
  normalized <- normalized_term(normalize)
  known <- if (missing(data)) character() else names(data)
  for (v in all.vars(normalized)) {
    if (!(v %in% known) && !exists(v, envir = environment(formula))) {
      fail("normalize", sprintf("there is no variable '%s'; name the regressor that carries the scale, as in normalize = ~ income",
                                v))
    }
  }

  # The model frame of the formula and the normalized term together, NAs kept
  # so that they can be refused unless na.action says what to do with them.
  full <- formula
  full[[3]] <- call("+", formula[[3]], normalized)
  mf <- match.call(expand.dots = FALSE)
  mf <- mf[c(1L, match(c("data", "subset", "na.action"), names(mf), 0L))]
  mf$formula <- full
  if (missing(na.action)) mf$na.action <- quote(stats::na.pass)
  mf$drop.unused.levels <- TRUE
  mf[[1L]] <- quote(stats::model.frame)
  mf <- eval(mf, parent.frame())
  mt <- attr(mf, "terms")
  if (missing(na.action)) {
    incomplete <- which(!complete.cases(mf))
    if (length(incomplete)) {
      fail("na.action", sprintf("row %s of data has NA in a variable the model uses (%s); give na.action = na.omit to drop such rows",
                                rownames(mf)[incomplete[1]],
                                paste(names(mf)[vapply(mf, function(v) anyNA(v[incomplete[1]]),
                                                       logical(1))], collapse = ", ")))
    }
  }
  if (nrow(mf) == 0L) fail("data", "no observations left to fit")
  y <- two_valued(model.response(mf), deparse1(formula[[2]]))

  label <- deparse1(normalized)
  value <- mf[[label]]
  if (!is.numeric(value) || is.factor(value) || !is.null(dim(value))) {
    fail("normalize", sprintf("'%s' is %s; the normalized term must be one numeric variable",
                              label, describe(value)))
  }
  x <- model.matrix(mt, mf)
  term <- match(label, attr(mt, "term.labels"))
  last <- which(attr(x, "assign") == term)
  if (length(last) != 1L) {
    fail("normalize", sprintf("'%s' does not give one column of the model matrix", label))
  }
  free <- setdiff(seq_len(ncol(x)), last)
  design <- x[, c(free, last), drop = FALSE]
  names <- colnames(design)
  k <- ncol(design)
  if (k < 2L) fail("formula", "needs at least one regressor besides the normalized term (or an intercept)")
  design <- check_regressors(design, "data")
  if (all(design[, k] == design[1, k])) {
    fail("normalize", sprintf("'%s' is constant (%s in every row), so it cannot carry the scale",
                              label, format(design[1, k])))
  }

  per_coef <- function(value, name, fallback) by_name(value, names[-k], name, fallback)
  widths <- local({
    cache <- NULL
    function() {
      if (is.null(cache)) cache <<- half_widths(design, s$fixed_coef, names, "formula")
      cache
    }
  })
  lower <- per_coef(lower, "lower", function() -widths())
  upper <- per_coef(upper, "upper", function() widths())
  box <- box_settings(lower, upper, NULL, NULL, 0, widths, names[-k])
  start <- per_coef(start, "start", function() box$start)
  step <- per_coef(step, "step", function() vimor_defaults()$step_fraction * (box$upper - box$lower))
  step_gain <- per_coef(step_gain, "step_gain",
                        function() rep(vimor_defaults()$step_gain, k - 1L))
  box <- box_settings(box$lower, box$upper, start, step, step_gain, widths, names[-k])
  if (is.null(s$tolerance)) s$tolerance <- default_tolerance(s$quantile, nrow(design))
  settings <- c(s, box)
  inference <- inference_settings(subsamples, subsample_size, subsample_restarts,
                                  nrow(design), restarts)

  seeds <- vapply(seq_len(restarts) - 1L, function(r) restart_seeds(seed, r, seed2),
                  numeric(2))
  run <- function(r) anneal_call(y, design, settings, seeds[1, r], seeds[2, r])
  # Separate processes: each has its own generator, and a restart's result
  # depends only on its seeds, so the fit does not depend on `cores`.
  workers <- if (.Platform$OS.type == "unix") min(cores, restarts) else 1L
  runs <- if (workers > 1L) {
    parallel::mclapply(seq_len(restarts), run, mc.cores = workers)
  } else {
    lapply(seq_len(restarts), run)
  }
  failed <- vapply(runs, function(r) !is.list(r) || is.null(r$value), logical(1))
  if (any(failed)) stop("a restart failed in its worker process: ", format(runs[[which(failed)[1]]]),
                        call. = FALSE)
  values <- vapply(runs, function(r) r$value, numeric(1))
  if (anyNA(values)) stop(nan_message, call. = FALSE)

  # The largest value wins (smallest when minimizing); ties go to the earliest.
  best <- 1L
  for (r in seq_len(restarts)) {
    if (if (s$maximize) values[r] > values[best] else values[r] < values[best]) best <- r
  }
  coefficients <- setNames(c(runs[[best]]$best, s$fixed_coef), names)
  index <- setNames(linear_index(design, coefficients), rownames(mf))
  correct <- sum((index >= 0) == (y == 1))
  n1 <- sum(y == 1)
  diagnostics <- data.frame(
    restart = seq_len(restarts), seed1 = as.integer(seeds[1, ]), seed2 = as.integer(seeds[2, ]),
    objective = values, status = vapply(runs, function(r) r$status, integer(1)),
    converged = vapply(runs, function(r) r$converged, logical(1)),
    evaluations = vapply(runs, function(r) r$n_evals, integer(1)),
    accepted = vapply(runs, function(r) r$n_accepted, integer(1)),
    out_of_bounds = vapply(runs, function(r) r$n_out_of_bounds, integer(1)),
    final_temperature = vapply(runs, function(r) r$temperature, numeric(1)))
  restart_coef <- do.call(rbind, lapply(runs, function(r) r$best))
  colnames(restart_coef) <- names[-k]
  seconds <- proc.time()[["elapsed"]] - began
  subsampled <- NULL
  if (inference$count > 0L) {
    subsampled <- subsample_fits(y, design, settings, inference, seed, seed2,
                                 if (.Platform$OS.type == "unix") min(cores, inference$count) else 1L)
    subsampled$seconds <- proc.time()[["elapsed"]] - began - seconds
  }

  structure(list(
    coefficients = coefficients,
    objective = values[best],
    accuracy = correct / nrow(design),
    correct = correct,
    quantile = s$quantile,
    maximize = s$maximize,
    normalized = names[k],
    fixed_coef = s$fixed_coef,
    best_restart = best,
    reached_best = sum(abs(values - values[best]) <= s$tolerance),
    restarts = diagnostics,
    restart_coefficients = restart_coef,
    max_objective = (n1 * s$quantile + (nrow(design) - n1) * (1 - s$quantile)) / nrow(design),
    settings = settings[c("lower", "upper", "start", "step", "step_gain", "temperature",
                          "cooling", "tolerance", "sweeps", "adjustments", "history_len",
                          "max_evals")],
    seed = seed, seed2 = seed2,
    nobs = nrow(design), n_ones = n1,
    fitted.index = napredict(attr(mf, "na.action"), index),
    call = call, formula = formula, terms = mt,
    xlevels = .getXlevels(mt, mf), contrasts = attr(x, "contrasts"),
    na.action = attr(mf, "na.action"),
    model = if (model) mf else NULL,
    subsamples = subsampled,
    seconds = seconds
  ), class = "maxscore")
}

# The normalized term as an expression, from a one-sided formula (~ income) or
# a name ("income").
normalized_term <- function(normalize) {
  if (is.character(normalize) && length(normalize) == 1L && !is.na(normalize)) {
    return(str2lang(normalize))
  }
  if (!inherits(normalize, "formula") || length(normalize) != 2L) {
    fail("normalize", "expected a one-sided formula naming one numeric term, such as ~ income")
  }
  labels <- attr(terms(normalize), "term.labels")
  if (length(labels) != 1L) {
    fail("normalize", sprintf("must name exactly one term, got %d (%s)", length(labels),
                              paste(labels, collapse = ", ")))
  }
  normalize[[2L]]
}

# A two-valued response as 0/1 doubles: 0/1 numbers, TRUE/FALSE, or a factor
# with two levels (the second is 1, as in glm).
two_valued <- function(y, label) {
  if (is.null(y)) fail("formula", "has no response; write it as y ~ x1 + x2")
  if (is.factor(y)) {
    if (nlevels(y) != 2L) {
      fail("formula", sprintf("the response '%s' is a factor with %d levels; it must have two",
                              label, nlevels(y)))
    }
    return(as.double(y == levels(y)[2L]))
  }
  if (is.logical(y)) return(as.double(y))
  if (!is.numeric(y) || !is.null(dim(y)) || any(y != 0 & y != 1)) {
    seen <- if (is.numeric(y)) paste(format(utils::head(sort(unique(as.vector(y))), 4L)),
                                     collapse = ", ") else describe(y)
    fail("formula", sprintf("the response '%s' must be two-valued (0/1, TRUE/FALSE or a factor with two levels); it has %s",
                            label, seen))
  }
  as.double(y)
}

# A per-coefficient setting: NULL (the default), numbers in the order of the
# free coefficients (one number for all where allowed), or numbers named by
# coefficient (the others keep their defaults).
by_name <- function(value, free, name, fallback) {
  if (is.null(value)) return(NULL)
  if (is.null(names(value))) return(value)
  unknown <- setdiff(names(value), free)
  if (length(unknown)) {
    fail(name, sprintf("'%s' is not a free coefficient; they are %s", unknown[1],
                       paste(free, collapse = ", ")))
  }
  out <- fallback()
  out[match(names(value), free)] <- check_vector(value, length(value), name)
  out
}

# x.b, summed in the library's order (the normalized column last), so that a
# class agrees with the sign the objective gave the same observation.
linear_index <- function(x, coefficients) {
  index <- numeric(nrow(x))
  for (j in seq_len(ncol(x))) index <- x[, j] * coefficients[[j]] + index
  index
}
