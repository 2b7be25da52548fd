# One function per export: vimor_objective() calls _fcna_, vimor_anneal()
# calls _saa_. Arguments are checked here; .C passes every one by address,
# doubles as double and integers as 32-bit int, the matrix column-major.

nan_message <- paste("the objective is not a number because an index x.b overflows;",
                     "rescale the regressors")

vimor_objective <- function(y, x, coef, quantile = vimor_defaults()$quantile,
                            fixed_coef = vimor_defaults()$fixed_coef) {
  x <- check_regressors(x)
  y <- check_response(y, nrow(x))
  q <- check_quantile(quantile)
  fixed <- check_real(fixed_coef, "fixed_coef")
  coef <- check_vector(coef, ncol(x) - 1L, "coef")
  value <- objective_call(y, x, coef, q, fixed)
  if (is.nan(value)) stop(nan_message, call. = FALSE)
  value
}

objective_call <- function(y, x, coef, quantile, fixed_coef) {
  .C(C_fcna_, y, x, nrow(x), ncol(x), coef, score = double(1), quantile, fixed_coef)$score
}

# Scalar settings checked; tolerance may stay NULL (derived from the data later).
scalar_settings <- function(quantile, fixed_coef, maximize, temperature, cooling, tolerance,
                            sweeps, adjustments, history_len, max_evals) {
  s <- list(
    quantile = check_quantile(quantile),
    fixed_coef = check_fixed(fixed_coef),
    maximize = check_flag(maximize, "maximize"),
    temperature = check_real(temperature, "temperature"),
    cooling = check_real(cooling, "cooling"),
    tolerance = if (is.null(tolerance)) NULL else check_real(tolerance, "tolerance"),
    sweeps = check_integer(sweeps, "sweeps", 1L),
    adjustments = check_integer(adjustments, "adjustments", 1L),
    # Each stage end walks and shifts the whole history, and a run needs at
    # least that many stages: the cost grows with its square.
    history_len = check_integer(history_len, "history_len", 1L, 10000L),
    max_evals = check_integer(max_evals, "max_evals", 1L)
  )
  if (s$temperature <= 0) fail("temperature", "must be positive, got ", format(s$temperature))
  if (!(s$cooling > 0 && s$cooling <= 1)) fail("cooling", "must lie in (0, 1], got ", format(s$cooling))
  if (!is.null(s$tolerance) && s$tolerance < 0) {
    fail("tolerance", "must not be negative, got ", format(s$tolerance))
  }
  s
}

# Per-coefficient settings checked: the box, the start inside it, the steps.
# `widths()` gives the default half-widths and is called only when a bound is
# missing; `free` names the free coefficients for messages.
box_settings <- function(lower, upper, start, step, step_gain, widths, free) {
  m <- length(free)
  if (is.null(lower) || is.null(upper)) {
    w <- widths()
    if (is.null(lower)) lower <- -w
    if (is.null(upper)) upper <- w
  }
  lower <- check_vector(lower, m, "lower")
  upper <- check_vector(upper, m, "upper")
  for (j in seq_len(m)) {
    if (lower[j] > upper[j]) {
      fail(sprintf("lower[%d]", j), sprintf("%s is above upper[%d] = %s for '%s': the box is empty",
                                            format(lower[j]), j, format(upper[j]), free[j]))
    }
  }
  if (is.null(start)) start <- 0.5 * lower + 0.5 * upper
  start <- check_vector(start, m, "start")
  for (j in seq_len(m)) {
    if (!(lower[j] <= start[j] && start[j] <= upper[j])) {
      fail(sprintf("start[%d]", j), sprintf("%s for '%s' lies outside the box [%s, %s]",
                                            format(start[j]), free[j], format(lower[j]),
                                            format(upper[j])))
    }
  }
  if (is.null(step)) step <- vimor_defaults()$step_fraction * (upper - lower)
  step <- check_vector(step, m, "step", scalar_ok = TRUE)
  step_gain <- check_vector(step_gain, m, "step_gain", scalar_ok = TRUE)
  for (name in c("step", "step_gain")) {
    v <- get(name)
    bad <- which(v < 0)
    if (length(bad)) fail(sprintf("%s[%d]", name, bad[1]), "must not be negative, got ",
                          format(v[bad[1]]))
  }
  list(lower = lower, upper = upper, start = start, step = step, step_gain = step_gain)
}

# One run of _saa_ with its own work arrays.
anneal_call <- function(y, x, s, seed1, seed2) {
  m <- ncol(x) - 1L
  out <- .C(C_saa_, y, x, nrow(x), ncol(x), coef = s$start, s$quantile,
            as.integer(s$maximize), s$cooling, s$tolerance, s$sweeps, s$adjustments,
            s$history_len, s$max_evals, s$lower, s$upper, s$step_gain,
            as.integer(seed1), as.integer(seed2), temperature = s$temperature, step = s$step,
            best = double(m), best_value = double(1), n_accepted = integer(1),
            n_evals = integer(1), n_out_of_bounds = integer(1), status = integer(1),
            double(max(1L, s$history_len)), double(m), integer(m), limit_hit = 0L,
            s$fixed_coef)
  list(best = out$best, value = out$best_value, n_accepted = out$n_accepted,
       n_evals = out$n_evals, n_out_of_bounds = out$n_out_of_bounds,
       temperature = out$temperature, step = out$step, converged = out$status == 0L,
       status = out$status)
}

vimor_anneal <- function(y, x, quantile = vimor_defaults()$quantile,
                         fixed_coef = vimor_defaults()$fixed_coef, start = NULL, lower = NULL,
                         upper = NULL, step = NULL, temperature = vimor_defaults()$temperature,
                         cooling = vimor_defaults()$cooling, tolerance = NULL,
                         sweeps = vimor_defaults()$sweeps,
                         adjustments = vimor_defaults()$adjustments,
                         history_len = vimor_defaults()$history_len,
                         max_evals = vimor_defaults()$max_evals,
                         step_gain = vimor_defaults()$step_gain,
                         maximize = vimor_defaults()$maximize,
                         seed1 = vimor_defaults()$seed, seed2 = vimor_defaults()$seed2) {
  s <- scalar_settings(quantile, fixed_coef, maximize, temperature, cooling, tolerance,
                       sweeps, adjustments, history_len, max_evals)
  seed1 <- check_integer(seed1, "seed1")
  seed2 <- check_integer(seed2, "seed2")
  x <- check_regressors(x)
  y <- check_response(y, nrow(x))
  names <- if (is.null(colnames(x))) paste0("x", seq_len(ncol(x))) else colnames(x)
  box <- box_settings(lower, upper, start, step, step_gain,
                      function() half_widths(x, s$fixed_coef, names, "x"),
                      names[-ncol(x)])
  if (is.null(s$tolerance)) s$tolerance <- default_tolerance(s$quantile, nrow(x))
  result <- anneal_call(y, x, c(s, box), seed1, seed2)
  if (is.nan(result$value)) stop(nan_message, call. = FALSE)
  result
}
