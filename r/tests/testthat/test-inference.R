d <- latent_data(200, 14)
fit <- suppressWarnings(maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 2,
                                 max_evals = 3000, subsamples = 20, subsample_restarts = 1,
                                 cores = 2))

test_that("intervals follow the quantile rule from the subsample estimates", {
  sub <- fit$subsamples
  expect_identical(dim(sub$estimates), c(20L, 2L))
  expect_identical(sub$size, 34L)  # floor(200^(2/3))
  # Derived here from the estimates: d sorted, r = (b / N)^(1/3), ranks
  # ceil(p B - 1e-9); symmetric at 0.95, equal-tailed at 0.5.
  r <- (34 / 200)^(1 / 3)
  for (name in c("(Intercept)", "x")) {
    e <- coef(fit)[[name]]
    diffs <- sort((sub$estimates[, name] - e) + 0)
    half <- sort(abs(diffs))[ceiling(0.95 * 20 - 1e-9)] * r
    expect_identical(unname(confint(fit)[name, ]), c(e - half, e + half))
    expect_identical(unname(confint(fit, level = 0.5, interval = "equal-tailed")[name, ]),
                     c(e - diffs[ceiling(0.75 * 20 - 1e-9)] * r, e - diffs[ceiling(0.25 * 20 - 1e-9)] * r))
  }
  expect_identical(colnames(confint(fit, level = 0.5)), c("25 %", "75 %"))
  expect_true(all(is.na(confint(fit, parm = "income"))))
  expect_identical(rownames(confint(fit, parm = 2)), "x")
  expect_output(print(summary(fit)), "20 subsamples of 34 observations, 1 restarts each")
})

test_that("a fit read back from a file gives its intervals at any level", {
  path <- tempfile(fileext = ".rds")
  saveRDS(fit, path)
  back <- readRDS(path)
  for (level in c(0.95, 0.5, 0.9)) {
    expect_identical(confint(back, level = level), confint(fit, level = level))
  }
  expect_identical(confint(back, level = 0.5, interval = "equal-tailed"),
                   confint(fit, level = 0.5, interval = "equal-tailed"))
})

test_that("bad interval requests name their argument", {
  expect_blames(confint(fit_quick(formula = y ~ x, data = d, normalize = ~ income)), "object")
  expect_blames(confint(fit, level = 1), "level")
  expect_blames(confint(fit, level = "a"), "level")
  expect_blames(confint(fit, parm = "nope"), "parm")
  expect_match(error_of(confint(fit, parm = 5)), "^parm: 5 ")
  expect_blames(confint(fit, interval = "wide"), "interval")
  # The core's rule: at 0.99 the top rank of 20 is the largest estimate.
  expect_blames(confint(fit, level = 0.99), "level")
  few <- function(...) {
    suppressWarnings(maxscore(y ~ x, d, normalize = ~ income, restarts = 1, max_evals = 300,
                              subsamples = 12, subsample_restarts = 1, cores = 1, ...))
  }
  expect_blames(few(), "subsamples")
  # Fewer subsamples at a lower level, which confint then defaults to.
  expect_identical(colnames(confint(few(level = 0.9))), c("5 %", "95 %"))
})

test_that("bootstrap intervals come from full-size draws, also at other levels and after readRDS", {
  boot <- suppressWarnings(maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 2,
                                    max_evals = 3000, bootstrap = 24, bootstrap_restarts = 1,
                                    level = 0.8, cores = 2))
  sub <- boot$subsamples
  expect_identical(sub$method, "reshaped bootstrap")
  expect_identical(dim(sub$estimates), c(24L, 2L))
  back <- readRDS({path <- tempfile(fileext = ".rds"); saveRDS(boot, path); path})
  # Derived here: at rate N^(1/3) both ways, the symmetric half-width is
  # |draw - estimate| of rank ceil(p B - 1e-9).
  for (name in c("(Intercept)", "x")) {
    e <- coef(boot)[[name]]
    half <- sort(abs((sub$estimates[, name] - e) + 0))[ceiling(0.5 * 24 - 1e-9)]
    expect_identical(unname(confint(back, level = 0.5)[name, ]), c(e - half, e + half))
  }
  expect_output(print(summary(boot)), "reshaped bootstrap, symmetric, 24 draws")
  expect_blames(maxscore(y ~ x, d, normalize = ~ income, bootstrap = 24, subsamples = 24), "bootstrap")
  expect_blames(maxscore(y ~ x, d, normalize = ~ income, bootstrap = 24, hessian = "cubic"), "hessian")
})
