# Subsampling confidence intervals, step for step as every vimor host makes
# them (the procedure is written once, in defaults.json's "_inference"): the
# subsample draws, the subsample fits and their seeds, and the quantile rule.

minstd_modulus <- 2147483647  # 2^31 - 1
minstd_multiplier <- 48271
min_subsample_size <- 20L

# Park-Miller generator x <- 48271 x mod (2^31 - 1), started at
# 1 + seed + 31329 seed2. Every product is below 2^53, so doubles hold it exactly.
minstd <- function(seed, seed2) {
  state <- 1 + seed + seed1_streams * seed2
  span <- minstd_modulus - 1
  list(
    next_value = function() {
      state <<- (minstd_multiplier * state) %% minstd_modulus
      state
    },
    # Uniform on 0..n-1: next - 1 is uniform on 0..2^31-3; values at or above
    # the largest multiple of n are drawn again.
    below = function(n) {
      limit <- span - span %% n
      repeat {
        state <<- (minstd_multiplier * state) %% minstd_modulus
        v <- state - 1
        if (v < limit) return(v %% n)
      }
    })
}

# The largest b with b^3 <= N^2, floor(N^(2/3)).
default_subsample_size <- function(nobs) {
  square <- as.double(nobs) * nobs
  b <- round(square^(1 / 3))
  while (b > 0 && b^3 > square) b <- b - 1
  while ((b + 1)^3 <= square) b <- b + 1
  as.integer(b)
}

# `count` subsamples of `size` rows (1-based, ascending), drawn in order from
# one stream by a partial Fisher-Yates shuffle of the identity; a draw on which
# the normalized column is constant is replaced by the next one.
draw_subsamples <- function(normalized, size, count, seed, seed2) {
  n <- length(normalized)
  generator <- minstd(seed, seed2)
  max_redraws <- 10 * count + 100
  draws <- vector("list", count)
  drawn <- 0L
  redrawn <- 0L
  while (drawn < count) {
    order <- seq_len(n)
    for (i in seq_len(size)) {
      j <- i + generator$below(n - i + 1)
      swap <- order[i]
      order[i] <- order[j]
      order[j] <- swap
    }
    rows <- sort(order[seq_len(size)])
    values <- normalized[rows]
    if (all(values == values[1])) {
      redrawn <- redrawn + 1L
      if (redrawn > max_redraws) {
        fail("subsample_size", sprintf("the normalized column is constant on %d draws of %d rows; give a larger subsample_size",
                                       redrawn, size))
      }
      next
    }
    drawn <- drawn + 1L
    draws[[drawn]] <- rows
  }
  list(draws = draws, redrawn = redrawn)
}

# Checked inference settings: the number of subsamples, their size and the
# restarts of each fit.
inference_settings <- function(subsamples, subsample_size, subsample_restarts, nobs, restarts) {
  count <- check_integer(subsamples, "subsamples", 0L, seed2_streams - 1L)
  if (is.null(subsample_size)) {
    size <- default_subsample_size(nobs)
    if (count > 0L && size < min_subsample_size) {
      fail("subsamples", sprintf("with %d observations the default subsample size floor(N^(2/3)) is %d, below the minimum %d; subsampling needs at least 90 observations",
                                 nobs, size, min_subsample_size))
    }
  } else {
    size <- check_integer(subsample_size, "subsample_size", min_subsample_size)
    if (size >= nobs) {
      fail("subsample_size", sprintf("%d is not below the number of observations, %d", size, nobs))
    }
  }
  fit_restarts <- if (is.null(subsample_restarts)) restarts else
    check_integer(subsample_restarts, "subsample_restarts", 1L, seed1_streams)
  list(count = count, size = size, restarts = fit_restarts)
}

# The subsample fits: the full sample's settings, restart r of subsample s
# (both from 0) seeded (seed + r, seed2 + 1 + s); each keeps its best restart,
# the earliest among equals.
subsample_fits <- function(y, design, settings, inference, seed, seed2, workers) {
  k <- ncol(design)
  drawn <- draw_subsamples(design[, k], inference$size, inference$count, seed, seed2)
  fit_one <- function(s) {
    rows <- drawn$draws[[s]]
    sub_y <- y[rows]
    sub_x <- design[rows, , drop = FALSE]
    runs <- lapply(seq_len(inference$restarts) - 1L, function(r) {
      seeds <- restart_seeds(seed, r, seed2 + s)
      anneal_call(sub_y, sub_x, settings, seeds[["seed1"]], seeds[["seed2"]])
    })
    values <- vapply(runs, function(r) r$value, numeric(1))
    best <- 1L
    for (r in seq_along(values)) {
      if (if (settings$maximize) values[r] > values[best] else values[r] < values[best]) best <- r
    }
    list(coef = runs[[best]]$best, value = values[best],
         reached = sum(abs(values - values[best]) <= settings$tolerance),
         limit_hit = all(vapply(runs, function(r) r$status == 1L, logical(1))))
  }
  fits <- if (workers > 1L) {
    parallel::mclapply(seq_len(inference$count), fit_one, mc.cores = workers)
  } else {
    lapply(seq_len(inference$count), fit_one)
  }
  failed <- vapply(fits, function(f) !is.list(f) || is.null(f$value), logical(1))
  if (any(failed)) stop("a subsample fit failed in its worker process: ",
                        format(fits[[which(failed)[1]]]), call. = FALSE)
  for (s in seq_along(fits)) {
    if (is.nan(fits[[s]]$value)) {
      fail("subsamples", sprintf("the objective of subsample fit %d is not a number because an index overflows; rescale the regressors", s))
    }
  }
  estimates <- do.call(rbind, lapply(fits, function(f) f$coef))
  colnames(estimates) <- colnames(design)[-k]
  list(estimates = estimates, size = inference$size, restarts = inference$restarts,
       redrawn = drawn$redrawn,
       multiple_best = sum(vapply(fits, function(f) f$reached > 1L, logical(1))),
       limit_hit = sum(vapply(fits, function(f) f$limit_hit, logical(1))))
}

# 1-based order statistic used as the quantile at p: ceil(p B - 1e-9) in 1..B.
order_rank <- function(p, count) min(max(ceiling(p * count - 1e-9), 1), count)

# The interval of one coefficient from its estimate and its subsample
# estimates, at rate n^(1/3): differences d = (subsample - full) + 0 sorted,
# r = (b / N)^(1/3); equal-tailed [e - d_(rank(1 - a/2)) r, e - d_(rank(a/2)) r],
# symmetric e -+ |d|_(rank(level)) r.
subsample_interval <- function(estimate, draws, nobs, size, level, symmetric) {
  ratio <- (size / nobs)^(1 / 3)
  d <- sort((draws - estimate) + 0)
  if (symmetric) {
    half <- sort(abs(d))[order_rank(level, length(d))] * ratio
    return(c(estimate - half, estimate + half))
  }
  p_low <- (1 - level) / 2
  p_high <- 1 - p_low
  c(estimate - d[order_rank(p_high, length(d))] * ratio,
    estimate - d[order_rank(p_low, length(d))] * ratio)
}

confint.maxscore <- function(object, parm, level = 0.95,
                             interval = c("equal-tailed", "symmetric"), ...) {
  interval <- match.arg(interval)
  level <- check_real(level, "level")
  if (!(level > 0 && level < 1)) fail("level", "must lie in (0, 1), got ", format(level))
  sub <- object$subsamples
  if (is.null(sub)) {
    fail("object", "was fitted without subsamples, so it has no intervals; ",
         "fit with subsamples = B (for example 200)")
  }
  names <- names(object$coefficients)
  if (missing(parm)) parm <- names
  if (is.numeric(parm)) parm <- names[parm]
  unknown <- setdiff(parm, names)
  if (length(unknown)) {
    fail("parm", sprintf("'%s' is not a coefficient; they are %s", unknown[1],
                         paste(names, collapse = ", ")))
  }
  a <- (1 - level) / 2
  ends <- matrix(NA_real_, length(parm), 2L,
                 dimnames = list(parm, paste(format(100 * c(a, 1 - a), trim = TRUE,
                                                    scientific = FALSE, digits = 3), "%")))
  for (name in setdiff(parm, object$normalized)) {
    ends[name, ] <- subsample_interval(object$coefficients[[name]], sub$estimates[, name],
                                       object$nobs, sub$size, level, interval == "symmetric")
  }
  ends
}
