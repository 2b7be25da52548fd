# certify: the branch and bound over the box after the restarts.

test_that("a missed maximum is replaced by the certificate's point, and said so", {
  d <- latent_data(80, 12)
  d$x <- round(d$x, 1)
  d$income <- round(d$income, 1)
  proven <- maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 20,
                     cores = 1, certify = 10)
  expect_identical(proven$certificate$status, "optimal")
  expect_false(proven$certificate$improved)
  expect_identical(proven$certificate$upper_bound, proven$objective)
  expect_identical(proven$certificate$box$lower, proven$settings$lower)
  short <- NULL
  said <- character()
  withCallingHandlers(
    short <- maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 1,
                      max_evals = 20, cores = 1, certify = 10),
    warning = function(w) {
      said <<- c(said, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
  expect_true(short$certificate$improved)
  expect_true(any(grepl("the search missed the maximum", said, fixed = TRUE)))
  expect_lt(short$restarts$objective[1], short$objective)
  expect_equal(short$objective, proven$objective, tolerance = 1e-12)
  # The objective is the module's own at the reported coefficients.
  design <- model.matrix(~ x + income, d)
  expect_identical(short$objective, vimor_objective(d$y, design, unname(coef(short))[-3],
                                                    fixed_coef = -1))
})

test_that("certify is off by default and checked", {
  d <- latent_data(60, 13)
  expect_null(fit_quick(formula = y ~ x, data = d, normalize = ~ income)$certificate)
  expect_blames(fit_quick(formula = y ~ x, data = d, normalize = ~ income, certify = -1),
                "certify")
  expect_blames(fit_quick(formula = y ~ x, data = d, normalize = ~ income, certify = "a"),
                "certify")
})
