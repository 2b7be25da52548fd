# maxscore(): the formula interface to the estimation core. R builds the
# model matrix with the command line's layout (the intercept first, the
# normalized term last) and the core does the rest: defaults, checks,
# restarts, flat ranges, warnings and subsampling.

setting_names <- c("quantile", "maximize", "box_scale", "lower", "upper", "start", "step",
                   "step_gain", "temperature", "cooling", "tolerance", "sweeps", "adjustments",
                   "history_len", "max_evals", "restarts", "seed", "seed2", "cores",
                   "subsamples", "subsample_size", "subsample_restarts", "level", "certify",
                   "bootstrap", "bootstrap_restarts", "bandwidth", "hessian")

maxscore <- function(formula, data, quantile = NULL, normalize, fixed_coef = NULL,
                     subset, weights, na.action, restarts = NULL, seed = NULL, seed2 = NULL,
                     cores = NULL, lower = NULL, upper = NULL, start = NULL, step = NULL,
                     step_gain = NULL, box_scale = NULL, temperature = NULL, cooling = NULL,
                     tolerance = NULL, sweeps = NULL, adjustments = NULL, history_len = NULL,
                     max_evals = NULL, maximize = NULL, subsamples = NULL,
                     subsample_size = NULL, subsample_restarts = NULL, level = NULL,
                     certify = NULL, bootstrap = NULL, bootstrap_restarts = NULL,
                     bandwidth = NULL, hessian = NULL, model = TRUE) {
  call <- match.call()
  settings <- mget(setting_names)
  fixed <- fixed_value(fixed_coef)
  if (missing(formula) || !inherits(formula, "formula") || length(formula) != 3L) {
    fail("formula", "expected a two-sided formula such as y ~ x1 + x2")
  }
  # No default: the bundled data have no column to normalize on as given.
  if (missing(normalize)) {
    fail("normalize", "is required: name the regressor whose coefficient is held at fixed_coef, as in normalize = ~ nonwife_income")
  }
  if (!isTRUE(model) && !isFALSE(model)) fail("model", "expected TRUE or FALSE, got ", describe(model))
  data <- if (missing(data)) NULL else frame_source(data, "data")
  normalized <- normalized_term(normalize)
  check_variables(formula, data, "formula", environment(formula))
  check_variables(normalized, data, "normalize", environment(formula))

  # The model frame of the formula and the normalized term together, every
  # row kept; subset and na.action are applied here so that each mistake can
  # be blamed on its own argument.
  full <- formula
  full[[3]] <- call("+", formula[[3]], normalized)
  mf <- tryCatch(model.frame(full, data = data, na.action = na.pass),
                 error = function(e) fail("formula", "its variables cannot be taken from data: ",
                                          conditionMessage(e)))
  mt <- attr(mf, "terms")
  # Weights as glm takes them: a variable of data or an expression in it,
  # carried through subset and na.action with the model frame.
  if (!missing(weights)) {
    w <- tryCatch(eval(substitute(weights), data, environment(formula)),
                  error = function(e) fail("weights", conditionMessage(e)))
    if (!is.numeric(w) || is.factor(w) || !is.null(dim(w)) || length(w) != nrow(mf)) {
      fail("weights", sprintf("expected one number per row of data (%d), got %s", nrow(mf),
                              describe(w)))
    }
    mf[["(weights)"]] <- as.double(w)
  }
  if (!missing(subset)) {
    chosen <- tryCatch(eval(substitute(subset), data, parent.frame()),
                       error = function(e) fail("subset", conditionMessage(e)))
    mf <- mf[subset_rows(chosen, nrow(mf)), , drop = FALSE]
  }
  if (missing(na.action)) {
    na <- first_na(mf)
    if (!is.null(na)) {
      fail("na.action", sprintf("row %s of data has NA in a variable the model uses (%s); give na.action = na.omit to drop such rows",
                                na$row, paste(na$variables, collapse = ", ")))
    }
  } else {
    mf <- with_na_action(mf, na.action)
  }
  label <- deparse1(normalized)
  na <- first_na(mf)
  if (!is.null(na)) {
    v <- na$variables[1]
    fail(blame(v, names(mf), label), sprintf("%s is NA in row %s, which na.action keeps; na.action = na.omit drops such rows",
                                             describe_variable(v, names(mf)), na$row))
  }
  if (nrow(mf) == 0L) {
    fail("data", "no observations left to fit",
         if (!missing(subset) || !missing(na.action)) " after subset and na.action")
  }
  # A two-level response keeps its coding, so that one class left is refused
  # as a constant response rather than recoded.
  for (j in seq_along(mf)) {
    if (is.factor(mf[[j]]) && !(j == 1L && nlevels(mf[[j]]) == 2L)) mf[[j]] <- mf[[j]][, drop = TRUE]
  }
  attr(mf, "terms") <- mt
  check_finite(mf[-1L], rownames(mf), label)
  y <- two_valued(model.response(mf), deparse1(formula[[2]]), rownames(mf))

  value <- mf[[label]]
  if (!is.numeric(value) || is.factor(value) || !is.null(dim(value))) {
    fail("normalize", sprintf("'%s' is %s; the normalized term must be one numeric variable",
                              label, describe(value)))
  }
  x <- model.matrix(mt, mf)
  term <- match(deparse1(normalized, backtick = TRUE), attr(mt, "term.labels"))
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
  weights <- model.weights(mf)
  fit <- core_fit(y, design, fixed, core_settings(settings, names[-k]), spelling, weights)
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
  if (fit$bootstrap > 0) {
    # The bootstrap's draws are of N rows: its intervals are the subsampling
    # ones with size N.
    subsampled <- list(
      method = "reshaped bootstrap",
      estimates = matrix(fit$subsample_estimates, ncol = m, byrow = TRUE,
                         dimnames = list(NULL, free)),
      size = nrow(design), restarts = as.integer(fit$bootstrap_restarts),
      hessian = c("numerical", "kernel", "crossfit")[fit$hessian + 1], bandwidth = fit$bandwidth_used,
      eigenvalues = fit$curvature_eigenvalues, floored = fit$curvature_floored == 1,
      fell_back = fit$curvature_fell_back == 1,
      edge_hits = as.integer(fit$edge_hits), limit_hit = as.integer(fit$limit_hit),
      certified = certified_counts(fit),
      seconds = fit$subsample_seconds, level = fit$level,
      interval = if (fit$interval == 1) "symmetric" else "equal-tailed",
      intervals = cbind(fit$interval_lower, fit$interval_upper))
  } else if (fit$subsamples > 0) {
    subsampled <- list(
      estimates = matrix(fit$subsample_estimates, ncol = m, byrow = TRUE,
                         dimnames = list(NULL, free)),
      size = as.integer(fit$subsample_size), restarts = as.integer(fit$subsample_restarts),
      method = "subsampling",
      redrawn = as.integer(fit$redrawn), multiple_best = as.integer(fit$multiple_best),
      certified = certified_counts(fit),
      limit_hit = as.integer(fit$limit_hit), seconds = fit$subsample_seconds,
      level = fit$level, interval = if (fit$interval == 1) "symmetric" else "equal-tailed",
      intervals = cbind(fit$interval_lower, fit$interval_upper))
  }

  structure(list(
    coefficients = setNames(c(fit$coef, fixed), names),
    objective = fit$objective,
    accuracy = fit$accuracy,
    correct = if (is.null(weights)) as.integer(fit$correct) else fit$correct,
    weights = weights,
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
    certificate = certificate_of(fit),
    warnings = warnings,
    seconds = fit$seconds
  ), class = "maxscore")
}

# The branch and bound's result with certify > 0 (else NULL): "optimal", no
# point of the box does better than the estimate, or "bound" when time ran
# out, with the largest objective (and correct count) a better point could
# have.
certificate_of <- function(fit) {
  if (is.null(fit$certify) || fit$certify == 0) return(NULL)
  list(status = if (fit$certificate_status == 1) "optimal" else "bound",
       upper_bound = fit$certificate_upper_bound,
       upper_correct = fit$certificate_upper_correct,
       nodes = fit$certificate_nodes, seconds = fit$certificate_seconds,
       improved = fit$certificate_improved == 1,
       box = list(lower = fit$lower, upper = fit$upper))
}

# The normalized term as an expression, from a one-sided formula (~ income) or
# a column's name ("income"; a name, never parsed as code).
normalized_term <- function(normalize) {
  example <- "name the regressor that carries the scale, as in normalize = ~ nonwife_income"
  if (is.character(normalize) && is.null(dim(normalize))) {
    if (length(normalize) != 1L) {
      fail("normalize", sprintf("expected one name, got %d (%s); %s", length(normalize),
                                paste(normalize, collapse = ", "), example))
    }
    if (is.na(normalize) || !nzchar(trimws(normalize))) {
      fail("normalize", sprintf("is %s; %s", if (is.na(normalize)) "NA" else "an empty name", example))
    }
    return(as.name(normalize))
  }
  if (!inherits(normalize, "formula") || length(normalize) != 2L) {
    fail("normalize", sprintf("expected a one-sided formula such as ~ nonwife_income or a column's name, got %s",
                              describe(normalize)))
  }
  labels <- attr(terms(normalize), "term.labels")
  if (length(labels) != 1L) {
    fail("normalize", sprintf("must name exactly one term, got %d%s", length(labels),
                              if (length(labels)) paste0(" (", paste(labels, collapse = ", "), ")") else ""))
  }
  normalize[[2L]]
}

# data as model.frame takes it: a data frame (a tibble is one), a list or an
# environment. A matrix is refused, not converted: as.matrix of a data frame
# with a factor is all text.
frame_source <- function(data, name) {
  if (is.null(data) || is.data.frame(data) || is.environment(data)) return(data)
  if (is.list(data) && !is.object(data) && is.null(dim(data))) return(data)
  fail(name, "expected a data frame, a list or an environment, got ", describe(data),
       if (is.matrix(data)) "; convert it with as.data.frame()")
}

# Stops, blaming `name`, at a variable of `expr` that data (or, for a data
# frame or list, env after it, as model.frame looks) lacks, or that is found
# only as a function, such as time or t.
check_variables <- function(expr, data, name, env, source = "data") {
  for (v in setdiff(all.vars(expr), ".")) {
    if (!is.environment(data) && v %in% names(data)) next
    where <- if (is.environment(data)) data else env
    found <- exists(v, envir = where)
    if (found && !is.function(get(v, envir = where))) next
    fail(name, sprintf("'%s' is not %s%s", v,
                       if (is.null(data)) "a variable of the formula's environment" else paste("a column of", source),
                       if (found) " (only a function of that name exists)" else ""))
  }
}

# The rows `subset` keeps of n: TRUE/FALSE for each, or row numbers.
subset_rows <- function(chosen, n) {
  if (is.logical(chosen) && is.null(dim(chosen))) {
    if (length(chosen) == 1L) chosen <- rep(chosen, n)
    if (length(chosen) != n) fail("subset", sprintf("has %d values for %d rows", length(chosen), n))
    if (anyNA(chosen)) fail("subset", sprintf("is NA for row %d; give TRUE or FALSE for every row",
                                               which(is.na(chosen))[1]))
    return(which(chosen))
  }
  if (!is.numeric(chosen) || is.factor(chosen) || !is.null(dim(chosen))) {
    fail("subset", "expected TRUE/FALSE for each row or row numbers, got ", describe(chosen))
  }
  bad <- which(is.na(chosen) | chosen != round(chosen) | abs(chosen) > n)
  if (length(bad)) fail("subset", sprintf("%s is not a row number of the %d rows", format(chosen[bad[1]]), n))
  if (any(chosen < 0) && any(chosen > 0)) fail("subset", "mixes positive and negative row numbers")
  seq_len(n)[chosen]
}

# mf after na.action: a function or the name of one; NULL keeps every row.
with_na_action <- function(mf, na.action) {
  if (is.null(na.action)) return(mf)
  if (is.character(na.action) && length(na.action) == 1L && !is.na(na.action)) {
    found <- get0(na.action, mode = "function")
    if (is.null(found)) fail("na.action", sprintf("there is no function '%s'", na.action))
    na.action <- found
  }
  if (!is.function(na.action)) {
    fail("na.action", "expected a function such as na.omit, got ", describe(na.action))
  }
  out <- tryCatch(na.action(mf), error = function(e) {
    na <- first_na(mf)
    fail("na.action", conditionMessage(e),
         if (!is.null(na)) sprintf(" (row %s has NA in %s)", na$row, na$variables[1]))
  })
  if (!is.data.frame(out)) fail("na.action", "gave ", describe(out), ", not the model frame")
  if (is.null(attr(out, "terms"))) attr(out, "terms") <- attr(mf, "terms")
  out
}

# The first row of mf with NA (NaN too) and its variables that have it.
first_na <- function(mf) {
  i <- which(!complete.cases(mf))[1]
  if (is.na(i)) return(NULL)
  has <- vapply(mf, function(v) anyNA(if (is.null(dim(v))) v[i] else v[i, ]), logical(1))
  list(row = rownames(mf)[i], variables = names(mf)[has])
}

# The argument to blame for variable v of the model frame: the response is
# the formula's, the normalized term normalize's, the rest data's.
blame <- function(v, variables, label) {
  if (v == variables[1]) "formula" else if (v == label) "normalize"
  else if (v == "(weights)") "weights" else "data"
}

describe_variable <- function(v, variables) {
  sprintf(if (v == variables[1]) "the response '%s'" else "'%s'", v)
}

# Every value of the regressors' variables finite; checked here rather than
# left to the core so that the row is named as data names it, whatever
# subset and na.action dropped.
check_finite <- function(vars, rows, label, name = "data") {
  for (v in names(vars)) {
    value <- vars[[v]]
    if (!is.numeric(value)) next
    bad <- which(is.infinite(value))[1]
    if (is.na(bad)) next
    fail(if (v == label) "normalize" else if (v == "(weights)") "weights" else name,
         sprintf("'%s' is %s in row %s; every value must be finite", v, format(value[bad]),
                 rows[(bad - 1L) %% NROW(value) + 1L]))
  }
}

# A two-valued response as doubles: numbers (0 and 1), TRUE/FALSE, or a
# factor with two levels (the second is 1, as in glm). The core refuses one
# class; the values are checked here to name the row as data does.
two_valued <- function(y, label, rows) {
  if (is.null(y)) fail("formula", "has no response; write it as y ~ x1 + x2")
  if (is.factor(y)) {
    if (nlevels(y) != 2L) {
      fail("formula", sprintf("the response '%s' is a factor with %d level%s; it must have two",
                              label, nlevels(y), if (nlevels(y) == 1L) "" else "s"))
    }
    return(as.double(y == levels(y)[2L]))
  }
  if (!(is.numeric(y) || is.logical(y)) || !is.null(dim(y))) {
    fail("formula", sprintf("the response '%s' must be 0/1, TRUE/FALSE or a factor with two levels; it is %s",
                            label, describe(y)))
  }
  y <- as.double(y)
  bad <- which(y != 0 & y != 1)[1]
  if (!is.na(bad)) {
    fail("formula", sprintf("the response '%s' is %s in row %s; it must be 0 or 1",
                            label, format(y[bad]), rows[bad]))
  }
  y
}

# With certify: the subsample fits or bootstrap draws proven optimal, left
# with a bound, and improved on their search (else NULL).
certified_counts <- function(fit) {
  if (is.null(fit$certified_optimal)) return(NULL)
  c(optimal = as.integer(fit$certified_optimal), bound = as.integer(fit$certified_bound),
    improved = as.integer(fit$certified_improved))
}
