test_that("the subsample generator is Park-Miller's minimal standard", {
  # From x = 1 (seeds 0, 0) the 10000th value is 399268537, the published
  # check of the minimal standard generator with multiplier 48271.
  g <- vimor:::minstd(0, 0)
  for (i in 1:9999) g$next_value()
  expect_identical(g$next_value(), 399268537)
})

test_that("the default subsample size is floor(N^(2/3))", {
  expect_identical(vimor:::default_subsample_size(1000L), 100L)
  expect_identical(vimor:::default_subsample_size(999L), 99L)
  expect_identical(vimor:::default_subsample_size(753L), 82L)
})

test_that("intervals follow the quantile rule from the subsample estimates", {
  # Estimate 1, subsample estimates 0, 0.5, 1.5, 3 (d = -1, -0.5, 0.5, 2) with
  # b / N = 8 / 64, so r = 1/2. Level 0.5: ranks 3 and 1 (equal-tailed), 2 of |d|.
  fit <- structure(list(coefficients = c(a = 1, z = 1), normalized = "z", nobs = 64L,
                        subsamples = list(estimates = cbind(a = c(3, 0, 1.5, 0.5)), size = 8L)),
                   class = "maxscore")
  expect_identical(unname(confint(fit, level = 0.5)["a", ]), c(0.75, 1.5))
  expect_identical(unname(confint(fit, level = 0.5, interval = "symmetric")["a", ]),
                   c(0.75, 1.25))
  expect_identical(colnames(confint(fit, level = 0.5)), c("25 %", "75 %"))
  expect_true(all(is.na(confint(fit, parm = "z"))))
})

test_that("subsample fits do not depend on cores and give intervals around the estimate", {
  d <- latent_data(200, 14)
  fits <- lapply(1:2, function(cores) {
    maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 2, max_evals = 3000,
             subsamples = 12, subsample_restarts = 1, cores = cores)
  })
  expect_identical(fits[[1]]$subsamples$estimates, fits[[2]]$subsamples$estimates)
  expect_identical(fits[[1]]$subsamples$size, 34L)
  ends <- confint(fits[[1]])
  expect_identical(dim(ends), c(3L, 2L))
  expect_true(all(ends[1:2, 1] <= ends[1:2, 2]))
  expect_output(print(summary(fits[[1]])), "12 subsamples of 34 observations, 1 restarts each")
})

test_that("bad inference settings name their argument", {
  d <- latent_data(100, 15)
  base <- list(formula = y ~ x, data = d, normalize = ~ income, restarts = 1, max_evals = 200,
               cores = 1)
  expect_error(do.call(maxscore, c(base, subsamples = -1)), "^subsamples: ")
  expect_error(do.call(maxscore, c(base, subsamples = 30082)), "^subsamples: ")
  expect_error(do.call(maxscore, c(base, subsamples = 5, subsample_size = 19)), "^subsample_size: ")
  expect_error(do.call(maxscore, c(base, subsamples = 5, subsample_size = 100)),
               "^subsample_size: ")
  expect_error(do.call(maxscore, c(base, subsamples = 5, subsample_restarts = 0)),
               "^subsample_restarts: ")
  small <- base
  small$data <- d[1:80, ]
  expect_error(do.call(maxscore, c(small, subsamples = 5)), "^subsamples: ")
  fit <- do.call(maxscore, base)
  expect_error(confint(fit), "^object: ")
  with_intervals <- do.call(maxscore, c(base, subsamples = 3))
  expect_error(confint(with_intervals, level = 1), "^level: ")
  expect_error(confint(with_intervals, parm = "nope"), "^parm: ")
})
