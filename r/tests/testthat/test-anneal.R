test_that("a search is repeatable and its value is the objective at its best point", {
  d <- latent_data(150, 1)
  x <- cbind(1, d$x, d$income)
  a <- vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 20000, seed1 = 5, seed2 = 7)
  b <- vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 20000, seed1 = 5, seed2 = 7)
  expect_identical(a, b)
  expect_identical(a$value, vimor_objective(d$y, x, a$best, fixed_coef = -1))
  # The separating direction (1, 1, -1) classifies most observations.
  expect_gt(a$value, vimor_objective(d$y, x, c(0, 0), fixed_coef = -1))
  other <- vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 20000, seed1 = 6, seed2 = 7)
  expect_false(identical(a$n_accepted, other$n_accepted) && identical(a$best, other$best))
})

test_that("the evaluation limit stops a run at exactly max_evals", {
  d <- latent_data(100, 2)
  x <- cbind(1, d$x, d$income)
  run <- vimor_anneal(d$y, x, fixed_coef = -1, max_evals = 50)
  expect_identical(run$status, 1L)
  expect_false(run$converged)
  expect_identical(run$n_evals, 50L)
})

test_that("the default box follows from the columns' spread", {
  # The normalized column has mean 0 and sd 1, the free one sd 1 (and mean 1),
  # the intercept is constant: every half-width is box_scale * |fixed_coef|.
  d <- data.frame(y = c(1, 0, 1, 0), z = c(0, 2, 0, 2), income = c(-1, 1, -1, 1))
  fit <- maxscore(y ~ z, d, normalize = ~ income, fixed_coef = -2, restarts = 1, cores = 1,
                  max_evals = 100)
  half <- vimor_defaults()$box_scale * 2
  expect_identical(fit$settings$upper, c(half, half))
  expect_identical(fit$settings$lower, c(-half, -half))
  expect_identical(fit$settings$start, c(0, 0))
  expect_identical(fit$settings$step, rep(vimor_defaults()$step_fraction * 2 * half, 2))
  expect_identical(fit$settings$tolerance, vimor_defaults()$tolerance_fraction * 0.5 / 4)
})
