# maxscore(): the formula interface to the estimation core. R builds the
# model matrix with the command line's layout (the intercept first, the
# normalized term last) and the core does the rest: defaults, checks,
# restarts, flat ranges, warnings and subsampling.

setting_names <- c("quantile", "maximize", "box_scale", "lower", "upper", "start", "step",
                   "step_gain", "temperature", "cooling", "tolerance", "sweeps", "adjustments",
                   "history_len", "max_evals", "restarts", "seed", "seed2", "cores",
                   "subsamples", "subsample_size", "subsample_restarts")

maxscore <- function(formula, data, quantile = NULL, normalize = ~ income, fixed_coef = NULL,
                     subset, na.action, restarts = NULL, seed = NULL, seed2 = NULL,
                     cores = NULL, lower = NULL, upper = NULL, start = NULL, step = NULL,
                     step_gain = NULL, box_scale = NULL, temperature = NULL, cooling = NULL,
                     tolerance = NULL, sweeps = NULL, adjustments = NULL, history_len = NULL,
                     max_evals = NULL, maximize = NULL, subsamples = NULL,
                     subsample_size = NULL, subsample_restarts = NULL, model = TRUE) {
  call <- match.call()
  settings <- mget(setting_names)
  fixed <- fixed_value(fixed_coef)
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
  design <- x[, c(setdiff(seq_len(ncol(x)), last), last), drop = FALSE]
  storage.mode(design) <- "double"
  names <- colnames(design)
  k <- ncol(design)
  if (k < 2L) fail("formula", "needs at least one regressor besides the normalized term (or an intercept)")

  spelling <- c(x = "data", y = "formula")
  fit <- core_fit(y, design, fixed, core_settings(settings, names[-k]), spelling)
  warnings <- vapply(fit$warnings, spell, "", spelling, USE.NAMES = FALSE)
  for (w in warnings) warning(w, call. = FALSE)

  m <- k - 1L
  free <- names[-k]
  r <- matrix(fit$restart_records, ncol = 8L + 2L * m, byrow = TRUE)
  restarts <- data.frame(
    restart = seq_len(nrow(r)), seed1 = as.integer(r[, 1]), seed2 = as.integer(r[, 2]),
    objective = r[, 3], status = as.integer(r[, 5]), converged = r[, 5] == 0,
    evaluations = as.integer(r[, 6]), accepted = as.integer(r[, 7]),
    out_of_bounds = as.integer(r[, 8]), final_temperature = r[, 4])
  subsampled <- NULL
  if (fit$subsamples > 0) {
    subsampled <- list(
      estimates = matrix(fit$subsample_estimates, ncol = m, byrow = TRUE,
                         dimnames = list(NULL, free)),
      size = as.integer(fit$subsample_size), restarts = as.integer(fit$subsample_restarts),
      redrawn = as.integer(fit$redrawn), multiple_best = as.integer(fit$multiple_best),
      limit_hit = as.integer(fit$limit_hit), seconds = fit$subsample_seconds,
      level = fit$level, interval = if (fit$interval == 1) "symmetric" else "equal-tailed",
      intervals = cbind(fit$interval_lower, fit$interval_upper))
  }

  structure(list(
    coefficients = setNames(c(fit$coef, fixed), names),
    objective = fit$objective,
    accuracy = fit$accuracy,
    correct = as.integer(fit$correct),
    quantile = fit$quantile,
    maximize = fit$maximize == 1,
    normalized = names[k],
    fixed_coef = fixed,
    best_restart = as.integer(fit$best_restart) + 1L,
    reached_best = as.integer(fit$reached),
    restarts = restarts,
    restart_coefficients = matrix(r[, 8L + seq_len(m)], ncol = m, dimnames = list(NULL, free)),
    flat = matrix(c(fit$flat_lower, fit$flat_upper), m, dimnames = list(free, c("lower", "upper"))),
    max_objective = fit$max_objective,
    settings = fit[c("lower", "upper", "start", "step", "step_gain", "box_scale", "temperature",
                     "cooling", "tolerance", "sweeps", "adjustments", "history_len",
                     "max_evals")],
    seed = as.integer(fit$seed), seed2 = as.integer(fit$seed2),
    nobs = nrow(design), n_ones = sum(y == 1),
    fitted.index = napredict(attr(mf, "na.action"), setNames(fit$index, rownames(mf))),
    call = call, formula = formula, terms = mt,
    xlevels = .getXlevels(mt, mf), contrasts = attr(x, "contrasts"),
    na.action = attr(mf, "na.action"),
    model = if (model) mf else NULL,
    subsamples = subsampled,
    warnings = warnings,
    seconds = fit$seconds
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

# A two-valued response as doubles: numbers (the core wants 0 and 1),
# TRUE/FALSE, or a factor with two levels (the second is 1, as in glm).
two_valued <- function(y, label) {
  if (is.null(y)) fail("formula", "has no response; write it as y ~ x1 + x2")
  if (is.factor(y)) {
    if (nlevels(y) != 2L) {
      fail("formula", sprintf("the response '%s' is a factor with %d levels; it must have two",
                              label, nlevels(y)))
    }
    return(as.double(y == levels(y)[2L]))
  }
  if (!(is.numeric(y) || is.logical(y)) || !is.null(dim(y))) {
    fail("formula", sprintf("the response '%s' must be 0/1, TRUE/FALSE or a factor with two levels; it is %s",
                            label, describe(y)))
  }
  as.double(y)
}
