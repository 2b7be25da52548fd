test_that("the objective is its definition on data where every sum is exact", {
  # Column-major: observation 1 is (1, 1), observation 2 is (-1, 0.5).
  x <- cbind(c(1, -1), c(1, 0.5))
  expect_identical(vimor_objective(c(1, 0), x, coef = 1, fixed_coef = 0.5), 0.5)
  expect_identical(vimor_objective(c(1, 0), x, coef = -2, fixed_coef = 0.5), -0.5)
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
  expect_blames(vimor_objective(c(1, 0), cbind(1e308, c(-1e308, 1)), 10, fixed_coef = 10), "x")
})

test_that("one search is repeatable, stops at max_evals and reports its best point", {
  d <- latent_data(150, 1)
  x <- cbind(1, d$x, d$income)
  a <- vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 20000, seed1 = 5, seed2 = 7)
  expect_identical(a, vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 20000, seed1 = 5,
                                   seed2 = 7))
  expect_identical(a$value, vimor_objective(d$y, x, a$best, fixed_coef = -1))
  expect_gt(a$value, vimor_objective(d$y, x, c(0, 0), fixed_coef = -1))
  short <- vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 50)
  expect_identical(c(short$status, short$n_evals), c(1L, 50L))
  expect_false(short$converged)
})
