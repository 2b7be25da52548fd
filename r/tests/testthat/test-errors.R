# Every mistake stops before the library is called, naming the argument.
d <- latent_data(60, 13)
x <- cbind(1, d$x, d$income)

expect_stop <- function(expr, argument) {
  message <- tryCatch({
    expr
    "no error"
  }, error = conditionMessage)
  prefix <- paste0(argument, ": ")
  expect_identical(substr(message, 1, nchar(prefix)), prefix, info = message)
}

test_that("the issue's bad inputs to maxscore name their argument", {
  bad <- d
  bad$y[3] <- 2
  expect_stop(maxscore(y ~ x, bad, normalize = ~ income), "formula")
  bad <- d
  bad$income[5] <- NA
  expect_stop(maxscore(y ~ x, bad, normalize = ~ income), "na.action")
  expect_stop(maxscore(y ~ x, d, normalize = ~ g), "normalize")
  d$one <- 4
  expect_stop(maxscore(y ~ x, d, normalize = ~ one), "normalize")
  for (q in list(0, 1, -0.5, 1.5, NA_real_, "a")) {
    expect_stop(maxscore(y ~ x, d, normalize = ~ income, quantile = q), "quantile")
  }
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, lower = c(0, 1), upper = c(1, 0)),
              "lower[2]")
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, start = c(x = 1e6)), "start[2]")
})

test_that("other bad arguments to maxscore name their argument", {
  expect_stop(maxscore(y ~ x, d, normalize = ~ x + income), "normalize")
  expect_stop(maxscore(y ~ x, d, normalize = 3), "normalize")
  expect_stop(maxscore(y ~ x, d[c("y", "x")]), "normalize")
  expect_stop(maxscore(~ x, d, normalize = ~ income), "formula")
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, fixed_coef = 0), "fixed_coef")
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, restarts = 0), "restarts")
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, seed = 31329), "seed")
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, cores = 0), "cores")
  expect_stop(maxscore(y ~ x, d, normalize = ~ income, lower = c(z = 1)), "lower")
  expect_stop(maxscore(y ~ 0 + income, d, normalize = ~ income), "formula")
  d$zero <- 0
  expect_stop(maxscore(y ~ zero, d, normalize = ~ income), "formula")
  d$big <- d$x * 1e300
  expect_stop(maxscore(y ~ big, d, normalize = ~ income), "formula")
  expect_stop(maxscore(y ~ x, d, normalize = ~ big), "normalize")
  d$huge <- d$x
  d$huge[2] <- Inf
  expect_stop(maxscore(y ~ huge, d, normalize = ~ income), "data[2, 'huge']")
})

test_that("bad arguments to the exports name their argument", {
  expect_stop(vimor_objective(d$y[-1], x, c(0, 0)), "y")
  expect_stop(vimor_objective(replace(d$y, 4, NA), x, c(0, 0)), "y[4]")
  expect_stop(vimor_objective(d$y, x[, 1, drop = FALSE], numeric(0)), "x")
  expect_stop(vimor_objective(d$y, replace(x, 5, NaN), c(0, 0)), "x[5, 1]")
  expect_stop(vimor_objective(d$y, x, c(0, 0, 0)), "coef")
  expect_stop(vimor_objective(d$y, x, c(0, 0), quantile = 1), "quantile")
  expect_stop(vimor_anneal(d$y, x, fixed_coef = 0), "fixed_coef")
  expect_stop(vimor_anneal(d$y, x, temperature = 0), "temperature")
  expect_stop(vimor_anneal(d$y, x, cooling = 1.5), "cooling")
  expect_stop(vimor_anneal(d$y, x, tolerance = -1), "tolerance")
  expect_stop(vimor_anneal(d$y, x, sweeps = 0), "sweeps")
  expect_stop(vimor_anneal(d$y, x, adjustments = 2.5), "adjustments")
  expect_stop(vimor_anneal(d$y, x, history_len = 10001), "history_len")
  expect_stop(vimor_anneal(d$y, x, max_evals = 0), "max_evals")
  expect_stop(vimor_anneal(d$y, x, seed1 = 2^31), "seed1")
  expect_stop(vimor_anneal(d$y, x, maximize = NA), "maximize")
  expect_stop(vimor_anneal(d$y, x, step = -1), "step[1]")
  expect_stop(vimor_anneal(d$y, x, step_gain = c(1, -1)), "step_gain[2]")
  expect_stop(vimor_anneal(d$y, x, lower = c(0, 0), upper = c(1, 1), start = c(2, 0)),
              "start[1]")
  expect_stop(vimor_anneal(d$y, cbind(0, x[, -1])), "x")
})
