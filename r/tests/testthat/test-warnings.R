test_that("the core's warnings are R warnings, spelled R's way and kept", {
  d <- latent_data(150, 16)
  # A box that cuts x off at half its size: the estimate sits on its edge.
  expect_warning(fit <- maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1,
                                 lower = c(x = -0.5), upper = c(x = 0.5), restarts = 2,
                                 max_evals = 3000, cores = 1),
                 "'x' .* on the edge of its box .*\\(box_scale, lower, upper\\)$")
  expect_true(any(grepl("^the estimate for 'x'", fit$warnings)))
  expect_false(any(grepl("[{}]", fit$warnings)))
  # A normalized regressor with few values identifies the scale poorly.
  d$income <- round(d$income)
  expect_warning(maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 1,
                          max_evals = 3000, cores = 1), "'income' takes only [0-9] distinct")
})
