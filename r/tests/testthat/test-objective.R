test_that("the objective of a two-observation example is 1/2", {
  # Column-major: observation 1 is (1, 1), observation 2 is (-1, 1).
  x <- cbind(c(1, -1), c(1, 1))
  expect_identical(vimor_objective(c(1, 0), x, coef = 1, quantile = 0.5, fixed_coef = 0), 0.5)
  # Observation 2's index is -1 + 0 < 0 with y = 0: its term is +1/4 either way; with the
  # free coefficient at -1 observation 1 is misclassified.
  expect_identical(vimor_objective(c(1, 0), x, coef = -1, quantile = 0.5, fixed_coef = 0), -0.5)
})

test_that("the objective matches its definition on data where every sum is exact", {
  # N = 64 and quantiles 1/2 and 1/4: each term is a multiple of 2^-8, so any
  # order of summation gives the same double and a plain R sum is a fair reference.
  set.seed(3)
  n <- 64
  x <- cbind(rnorm(n), rnorm(n, sd = 3), rnorm(n))
  y <- as.numeric(runif(n) < 0.4)
  for (q in c(0.5, 0.25)) {
    for (b in list(c(1, -2), c(-0.5, 0.25), c(0, 0))) {
      index <- x[, 1] * b[1] + x[, 2] * b[2] + x[, 3] * -1.5
      expected <- sum(ifelse(index >= 0, 1, -1) * (y - (1 - q))) / n
      expect_identical(vimor_objective(y, x, b, quantile = q, fixed_coef = -1.5), expected)
    }
  }
})

test_that("an index that overflows is an error, not a NaN objective", {
  x <- cbind(1e308, -1e308)
  expect_error(vimor_objective(1, x, coef = 10, fixed_coef = 10), "not a number")
})
