test_that("factors and interactions give model.matrix's columns, the normalized one last", {
  d <- latent_data(200, 4)
  fit <- fit_quick(formula = y ~ x * g + income + w, data = d, normalize = ~ income,
                   fixed_coef = -1)
  expect_identical(names(coef(fit)),
                   c("(Intercept)", "x", "gb", "gc", "w", "x:gb", "x:gc", "income"))
  design <- model.matrix(~ x * g + w + income, d)[, names(coef(fit))]
  k <- ncol(design)
  expect_identical(coef(fit)[[k]], -1)
  # The reported objective is the library's value at the reported coefficients.
  expect_identical(fit$objective, vimor_objective(d$y, design, unname(coef(fit))[-k],
                                                   fixed_coef = -1))
  expect_identical(nobs(fit), 200L)
  expect_identical(formula(fit), y ~ x * g + income + w)
})

test_that("the normalized term may be left out of the formula or given by name", {
  d <- latent_data(120, 5)
  a <- fit_quick(formula = y ~ x + income, data = d, normalize = ~ income, fixed_coef = -1)
  b <- fit_quick(formula = y ~ x, data = d, normalize = "income", fixed_coef = -1)
  expect_identical(coef(a), coef(b))
  expect_identical(a$restarts, b$restarts)
})

test_that("restarts use the shared seeds, and the result does not depend on cores", {
  d <- latent_data(150, 6)
  one <- maxscore(y ~ x + g, d, normalize = ~ income, fixed_coef = -1, restarts = 4,
                  seed = 31327, seed2 = 30081, max_evals = 3000, cores = 1)
  two <- maxscore(y ~ x + g, d, normalize = ~ income, fixed_coef = -1, restarts = 4,
                  seed = 31327, seed2 = 30081, max_evals = 3000, cores = 2)
  expect_identical(one$restarts$seed1, c(31327L, 31328L, 0L, 1L))
  expect_identical(one$restarts$seed2, rep(30081L, 4))
  drop <- c("seconds", "call")
  expect_identical(one[setdiff(names(one), drop)], two[setdiff(names(two), drop)])
})

test_that("the best restart is the earliest with the best objective", {
  d <- latent_data(150, 7)
  for (maximize in c(TRUE, FALSE)) {
    fit <- maxscore(y ~ x, d, normalize = ~ income, fixed_coef = -1, restarts = 6,
                    max_evals = 400, cores = 1, maximize = maximize)
    v <- fit$restarts$objective
    best <- if (maximize) which.max(v) else which.min(v)
    expect_identical(fit$best_restart, best)
    expect_identical(fit$objective, v[best])
    expect_identical(unname(coef(fit))[-3], unname(fit$restart_coefficients[best, ]))
    expect_identical(fit$reached_best, sum(abs(v - v[best]) <= fit$settings$tolerance))
  }
})

test_that("predict, fitted and the accuracy agree", {
  d <- latent_data(150, 8)
  fit <- fit_quick(formula = y ~ x + g, data = d, normalize = ~ income, fixed_coef = -1)
  index <- predict(fit, newdata = d)
  expect_identical(unname(index), unname(predict(fit)))
  expect_identical(predict(fit, newdata = d, type = "class"), as.integer(index >= 0))
  expect_identical(unname(fitted(fit)), as.integer(index >= 0))
  expect_identical(fit$accuracy, mean(fitted(fit) == d$y))
  # One level of g on its own still gets the fit's columns.
  few <- d[d$g == "c", ][1:3, ]
  expect_identical(predict(fit, newdata = few), index[rownames(few)])
})

test_that("NA rows are refused unless na.action says otherwise", {
  d <- latent_data(100, 9)
  d$x[7] <- NA
  d$unused <- NA
  expect_error(fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1),
               "^na.action: row 7 ")
  omitted <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1,
                       na.action = na.omit)
  expect_identical(nobs(omitted), 99L)
  expect_identical(coef(omitted), coef(fit_quick(formula = y ~ x, data = d[-7, ],
                                                 normalize = ~ income, fixed_coef = -1)))
  excluded <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1,
                        na.action = na.exclude)
  expect_length(fitted(excluded), 100L)
  expect_true(is.na(fitted(excluded)[7]))
})

test_that("a two-level factor or logical response fits like 0/1", {
  d <- latent_data(120, 10)
  base <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1)
  d$yf <- factor(ifelse(d$y == 1, "in", "out"), levels = c("out", "in"))
  d$yl <- d$y == 1
  expect_identical(coef(fit_quick(formula = yf ~ x, data = d, normalize = ~ income,
                                  fixed_coef = -1)), coef(base))
  expect_identical(coef(fit_quick(formula = yl ~ x, data = d, normalize = ~ income,
                                  fixed_coef = -1)), coef(base))
})

test_that("settings may be given per coefficient by name", {
  d <- latent_data(120, 11)
  fit <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1,
                   lower = c(x = -3), upper = c(x = 4), start = c(x = 1))
  defaults <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1)
  expect_identical(fit$settings$lower, c(defaults$settings$lower[1], -3))
  expect_identical(fit$settings$upper, c(defaults$settings$upper[1], 4))
  expect_identical(fit$settings$start, c(defaults$settings$start[1], 1))
  expect_identical(fit$settings$step[2], vimor_defaults()$step_fraction * 7)
})

test_that("print and summary show the estimates and the restart diagnostics", {
  d <- latent_data(120, 12)
  fit <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, fixed_coef = -1)
  expect_output(print(fit), "income held at -1")
  out <- capture.output(print(summary(fit)))
  expect_true(any(grepl("^income .*\\(normalized\\)", out)))
  expect_true(any(grepl(sprintf("^restarts +3, %d reached the best", fit$reached_best), out)))
  expect_true(any(grepl(sprintf("accuracy +%.4f \\(%d of 120\\)", fit$accuracy, fit$correct),
                        out)))
})
