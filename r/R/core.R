# The R side of the glue to the estimation core (src/glue.c), which holds
# every rule of a fit: R checks that values have R types the core can take
# and what only R can name (variables, NA, rows as data names them), and
# spells the core's messages with R's argument names.

# One line, whatever R's own messages folded into it hold.
fail <- function(name, ...) stop(gsub("\\s*\n\\s*", " ", paste0(name, ": ", ...)), call. = FALSE)

describe <- function(value) {
  if (is.null(value)) return("NULL")
  if (is.factor(value)) return("a factor")
  if (is.matrix(value)) return(sprintf("a %d x %d matrix", nrow(value), ncol(value)))
  if (inherits(value, "formula")) return(if (length(value) == 3L) "a two-sided formula" else "a formula")
  if (is.atomic(value) && length(value) == 1L && is.na(value)) return("NA")
  sprintf("%s of length %d", class(value)[1], length(value))
}

# The core names arguments by neutral keys; R spells these differently, and
# each caller adds its own (the response and regressors come from `formula`
# and `data` in maxscore, from `y` and `x` in the matrix functions).
r_spelling <- c(threads = "cores", intercept = "the intercept")

# `text` with each {key} written as R's argument.
spell <- function(text, spelling = NULL) {
  spelling <- c(spelling, r_spelling)
  for (key in names(spelling)) text <- gsub(paste0("{", key, "}"), spelling[[key]], text, fixed = TRUE)
  gsub("\\{([A-Za-z0-9_]+)\\}", "\\1", text)
}

# The glue's value, or one line naming the argument when the core refused.
checked <- function(out, spelling = NULL) {
  if (!is.list(out) || is.null(out[["error"]])) return(out)
  blamed <- if (nzchar(out$argument)) paste0(spell(paste0("{", out$argument, "}"), spelling), ": ")
  stop(blamed, spell(out$error, spelling), call. = FALSE)
}

per_coefficient <- c("lower", "upper", "start", "step", "step_gain")
core_keys <- c(cores = "threads", seed1 = "seed")

# The core's settings from R's arguments: NULL keeps the core's default;
# numbers (TRUE/FALSE for maximize) go as doubles. A per-coefficient setting
# named by coefficient leaves the others NaN, the core's "default here".
core_settings <- function(values, free) {
  out <- list()
  for (key in names(values)) {
    v <- values[[key]]
    if (is.null(v)) next
    if (key == "hessian") {
      if (!is.character(v) || length(v) != 1L || !(v %in% c("kernel", "crossfit", "numerical"))) {
        fail(key, "expected \"kernel\", \"crossfit\" or \"numerical\", got ",
             if (is.character(v) && length(v) == 1L) sprintf("'%s'", v) else describe(v))
      }
      out[[key]] <- v
      next
    }
    logical <- key == "maximize"
    if (is.atomic(v) && anyNA(v)) fail(key, "NA and NaN are not allowed")
    if (!(if (logical) is.logical(v) else is.numeric(v) && !is.factor(v))) {
      fail(key, "expected ", if (logical) "TRUE or FALSE" else "numbers", ", got ", describe(v))
    }
    if (key %in% per_coefficient && !is.null(names(v))) {
      unknown <- setdiff(names(v), free)
      if (length(unknown)) {
        fail(key, sprintf("'%s' is not a free coefficient; they are %s", unknown[1],
                          paste(free, collapse = ", ")))
      }
      v <- replace(rep(NaN, length(free)), match(names(v), free), v)
    }
    out[[if (key %in% names(core_keys)) core_keys[[key]] else key]] <- as.double(v)
  }
  out
}

# One number for fixed_coef (the core checks its value).
fixed_value <- function(fixed_coef) {
  if (is.null(fixed_coef)) return(vimor_defaults()$fixed_coef)
  if (!is.numeric(fixed_coef) || length(fixed_coef) != 1L) {
    fail("fixed_coef", "expected one number, got ", describe(fixed_coef))
  }
  as.double(fixed_coef)
}

# Fits y on the double matrix x (the normalized column last) in the core,
# each row weighted by `weights` (NULL: unweighted).
core_fit <- function(y, x, fixed, settings, spelling, weights = NULL) {
  checked(.Call(C_vimor_r_fit, y, x, fixed, colnames(x), settings, weights), spelling)
}

# The shared defaults, from the core, and their kinds in R.
default_kinds <- c(
  quantile = "double", fixed_coef = "double", maximize = "logical", box_scale = "double",
  step_fraction = "double", temperature = "double", cooling = "double",
  tolerance_fraction = "double", sweeps = "integer", adjustments = "integer",
  history_len = "integer", max_evals = "integer", step_gain = "double", restarts = "integer",
  seed = "integer", seed2 = "integer", threads = "integer", subsamples = "integer",
  level = "double")

vimor_defaults <- function() {
  values <- .Call(C_vimor_r_defaults, names(default_kinds))
  out <- Map(function(v, kind) switch(kind, logical = v != 0, integer = as.integer(v), v),
             values, default_kinds)
  names(out)[names(out) == "threads"] <- "cores"
  out
}

# y and x of the matrix functions: 0/1 (or TRUE/FALSE) and a numeric matrix
# with named columns.
matrix_data <- function(y, x) {
  if (is.data.frame(x)) x <- as.matrix(x)
  if (!is.matrix(x) || !(is.numeric(x) || is.logical(x))) {
    fail("x", "expected a numeric matrix (observations x regressors), got ", describe(x))
  }
  storage.mode(x) <- "double"
  if (is.null(colnames(x))) colnames(x) <- paste0("x", seq_len(ncol(x)))
  if (!(is.numeric(y) || is.logical(y)) || is.factor(y)) {
    fail("y", "expected 0/1 numbers, got ", describe(y))
  }
  if (length(y) != nrow(x)) fail("y", "has ", length(y), " values but x has ", nrow(x), " rows")
  list(y = as.double(y), x = x)
}

matrix_spelling <- c(normalize = "x")

vimor_objective <- function(y, x, coef, quantile = NULL, fixed_coef = NULL, weights = NULL) {
  d <- matrix_data(y, x)
  if (!is.numeric(coef) || length(coef) != ncol(d$x) - 1L || anyNA(coef)) {
    fail("coef", "expected ", ncol(d$x) - 1L, " numbers (one per free coefficient), got ",
         describe(coef))
  }
  q <- core_settings(list(quantile = if (is.null(quantile)) vimor_defaults()$quantile else quantile))
  out <- .Call(C_vimor_r_score, d$y, d$x, fixed_value(fixed_coef), colnames(d$x),
               row_weights(weights, nrow(d$x)), as.double(coef), q$quantile)
  checked(out, matrix_spelling)[[1]]
}

# Weights as doubles, one a row (NULL: unweighted); the core checks values.
row_weights <- function(weights, n) {
  if (is.null(weights)) return(NULL)
  if (!is.numeric(weights) || is.factor(weights) || !is.null(dim(weights)) ||
      length(weights) != n || anyNA(weights)) {
    fail("weights", sprintf("expected one number per row (%d), got %s", n, describe(weights)))
  }
  as.double(weights)
}

# One search: a fit with one restart, seeded (seed1, seed2).
vimor_anneal <- function(y, x, quantile = NULL, fixed_coef = NULL, ..., seed1 = NULL,
                         seed2 = NULL) {
  d <- matrix_data(y, x)
  settings <- core_settings(list(quantile = quantile, ..., seed1 = seed1, seed2 = seed2,
                                 restarts = 1, cores = 1), colnames(d$x)[-ncol(d$x)])
  fit <- core_fit(d$y, d$x, fixed_value(fixed_coef), settings, c(matrix_spelling, seed = "seed1"))
  r <- fit$restart_records
  m <- ncol(d$x) - 1L
  list(best = r[8L + seq_len(m)], value = r[[3]], n_accepted = as.integer(r[[7]]),
       n_evals = as.integer(r[[6]]), n_out_of_bounds = as.integer(r[[8]]),
       temperature = r[[4]], step = r[8L + m + seq_len(m)], converged = r[[5]] == 0,
       status = as.integer(r[[5]]))
}
