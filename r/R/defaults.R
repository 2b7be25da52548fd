# The search defaults every vimor host shares, read from defaults.json when the
# package loads, and the rules that derive the data-dependent settings (box,
# start, steps, tolerance, restart seeds). No default is written here: the
# numbers live only in defaults.json.

# Each key of defaults.json and the kind its value must have.
default_kinds <- c(
  quantile = "double", fixed_coef = "double", maximize = "logical", box_scale = "double",
  step_fraction = "double", temperature = "double", cooling = "double",
  tolerance_fraction = "double", sweeps = "integer", adjustments = "integer",
  history_len = "integer", max_evals = "integer", step_gain = "double", restarts = "integer",
  seed = "integer", seed2 = "integer"
)

# The generator's seed ranges: seed1 in [0, 31328], seed2 in [0, 30081] give
# distinct streams.
seed1_streams <- 31329L
seed2_streams <- 30082L

defaults_env <- new.env(parent = emptyenv())

read_defaults <- function(path) {
  raw <- jsonlite::fromJSON(path, simplifyVector = TRUE)
  values <- list()
  for (key in names(default_kinds)) {
    value <- raw[[key]]
    kind <- default_kinds[[key]]
    ok <- length(value) == 1L && switch(kind,
      logical = is.logical(value),
      integer = is.numeric(value) && !is.logical(value) && value == round(value),
      double = is.numeric(value) && !is.logical(value))
    if (!isTRUE(ok)) {
      stop(sprintf("vimor: defaults.json entry '%s' is missing or not a %s; reinstall the package",
                   key, kind), call. = FALSE)
    }
    values[[key]] <- switch(kind, logical = value, integer = as.integer(value),
                            double = as.double(value))
  }
  values
}

.onLoad <- function(libname, pkgname) {
  path <- system.file("defaults.json", package = pkgname, lib.loc = libname)
  defaults_env$values <- read_defaults(path)
}

# The shared defaults, as a named list.
vimor_defaults <- function() defaults_env$values

# Generator seeds of restart r (counted from 0) of a multi-start fit.
restart_seeds <- function(seed, r, seed2) {
  c(seed1 = (seed + r) %% seed1_streams, seed2 = seed2 %% seed2_streams)
}

# Below the smallest change of the objective, 2 * min(alpha, 1 - alpha) / N.
default_tolerance <- function(quantile, nobs) {
  (vimor_defaults()$tolerance_fraction * min(quantile, 1 - quantile)) / nobs
}

# Mean and population standard deviation, each sum taken in observation order
# in doubles (sum() and cumsum() accumulate in extended precision, so the
# loops are written out to get the other hosts' numbers).
mean_sd <- function(x) {
  total <- 0
  for (v in x) total <- total + v
  mean <- total / length(x)
  squares <- 0
  for (v in x) {
    d <- v - mean
    squares <- squares + d * d
  }
  c(mean = mean, sd = sqrt(squares / length(x)))
}

not_finite <- "has a standard deviation that is not finite (its values are too large)"

# Half-width of the default box of each free column (x without its last,
# normalized, column), centred at 0: box_scale * |fixed_coef| * sd(x_K) / sd(x_j)
# for a varying column, box_scale * |fixed_coef| * (|mean(x_K)| + sd(x_K)) / |c|
# for a constant column of value c. `arg` names the argument blamed for a
# column from which no box follows.
half_widths <- function(x, fixed_coef, names, arg) {
  k <- ncol(x)
  normalized <- x[, k]
  if (all(normalized == normalized[1])) {
    stop(sprintf("normalize: '%s' is constant (%s in every row), so it cannot carry the scale",
                 names[k], format(normalized[1])), call. = FALSE)
  }
  mk <- mean_sd(normalized)
  if (!is.finite(mk[["sd"]])) {
    stop(sprintf("normalize: '%s' %s", names[k], not_finite), call. = FALSE)
  }
  if (mk[["sd"]] == 0) {
    stop(sprintf("normalize: '%s' varies too little to carry the scale", names[k]), call. = FALSE)
  }
  scale <- vimor_defaults()$box_scale * abs(fixed_coef)
  widths <- numeric(k - 1L)
  for (j in seq_len(k - 1L)) {
    column <- x[, j]
    # Constant means equal values, not a computed sd of 0: the mean of equal
    # values need not round back to them.
    if (!all(column == column[1])) {
      sd_j <- mean_sd(column)[["sd"]]
      if (!is.finite(sd_j)) {
        stop(sprintf("%s: column '%s' %s; give lower and upper", arg, names[j], not_finite),
             call. = FALSE)
      }
      if (sd_j == 0) {
        stop(sprintf("%s: column '%s' varies too little to size a default box; give lower and upper",
                     arg, names[j]), call. = FALSE)
      }
      width <- (scale * mk[["sd"]]) / sd_j
    } else if (column[1] != 0) {
      width <- (scale * (abs(mk[["mean"]]) + mk[["sd"]])) / abs(column[1])
    } else {
      stop(sprintf("%s: column '%s' is all zeros; its coefficient is not identified",
                   arg, names[j]), call. = FALSE)
    }
    if (!(is.finite(width) && width > 0)) {
      stop(sprintf("%s: column '%s' gives a default box half-width of %s; give lower and upper",
                   arg, names[j], format(width)), call. = FALSE)
    }
    widths[j] <- width
  }
  widths
}
