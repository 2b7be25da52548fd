# Every mistake stops with one line that begins with the argument R's way.
d <- latent_data(60, 13)

test_that("the core's refusals name maxscore's arguments", {
  fit <- function(..., cores = 1) {
    maxscore(y ~ x, d, normalize = ~ income, max_evals = 100, cores = cores, ...)
  }
  for (q in list(0, 1.5, NA_real_, "a")) expect_blames(fit(quantile = q), "quantile")
  expect_blames(fit(lower = c(0, 1), upper = c(1, 0)), "lower")
  expect_blames(fit(start = c(x = 1e6)), "start")
  expect_blames(fit(lower = c(z = 1)), "lower")
  expect_blames(fit(step = c(x = NA)), "step")
  expect_blames(fit(fixed_coef = 0), "fixed_coef")
  expect_blames(fit(restarts = 0), "restarts")
  expect_blames(fit(seed = 31329), "seed")
  expect_blames(fit(cores = 257), "cores")
  expect_blames(fit(maximize = NA), "maximize")
  expect_blames(fit(subsamples = 5), "subsamples")  # 60 rows are too few
  expect_blames(fit(subsamples = 5, subsample_size = 60), "subsample_size")
  expect_blames(fit(subsamples = 5, subsample_size = 30, subsample_restarts = 0),
                "subsample_restarts")
})

test_that("bad data name the formula, the data or normalize", {
  fit <- function(formula, data = d, ...) {
    maxscore(formula, data, restarts = 1, max_evals = 100, cores = 1, ...)
  }
  bad <- d
  bad$y[3] <- 2
  expect_blames(fit(y ~ x, bad, normalize = ~ income), "formula")
  d$one <- 1
  expect_blames(fit(one ~ x, normalize = ~ income), "formula")
  expect_blames(fit(y ~ x, normalize = ~ one), "normalize")
  expect_blames(fit(y ~ x, normalize = ~ g), "normalize")
  expect_blames(fit(y ~ x, d[c("y", "x")]), "normalize")
  expect_blames(fit(~ x, normalize = ~ income), "formula")
  expect_blames(fit(y ~ 0 + income, normalize = ~ income), "formula")
  d$zero <- 0
  expect_blames(fit(y ~ zero, normalize = ~ income), "data")
  d$huge <- replace(d$x, 2, Inf)
  expect_blames(fit(y ~ huge, normalize = ~ income), "data")
  # The default box needs the spread of every column; the way out is spelled R's way.
  d$big <- d$x * 1e300
  message <- error_of(fit(y ~ big, normalize = ~ income))
  expect_match(message, "^lower: .*'big'.*give lower and upper$")
})

test_that("the matrix functions name their own arguments", {
  x <- cbind(1, d$x, d$income)
  expect_blames(vimor_objective(d$y[-1], x, c(0, 0)), "y")
  expect_blames(vimor_objective(replace(d$y, 4, NA), x, c(0, 0)), "y")
  expect_blames(vimor_objective(d$y, replace(x, 5, NaN), c(0, 0)), "x")
  expect_blames(vimor_objective(d$y, cbind(x[, 1:2], 4), c(0, 0)), "x")
  expect_blames(vimor_objective(d$y, x, c(0, 0, 0)), "coef")
  expect_blames(vimor_objective(d$y, x, c(0, 0), quantile = 1), "quantile")
  expect_blames(vimor_anneal(d$y, x, cooling = 1.5), "cooling")
  expect_blames(vimor_anneal(d$y, x, seed1 = 2^31), "seed1")
  expect_blames(vimor_anneal(d$y, x, step_gain = c(1, -1)), "step_gain")
})
