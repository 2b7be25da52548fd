test_that("the model matrix has model.matrix's columns, the normalized one last", {
  d <- latent_data(200, 4)
  fit <- fit_quick(formula = y ~ x * g + income + w, data = d, normalize = ~ income)
  expect_identical(names(coef(fit)),
                   c("(Intercept)", "x", "gb", "gc", "w", "x:gb", "x:gc", "income"))
  design <- model.matrix(~ x * g + w + income, d)[, names(coef(fit))]
  expect_identical(coef(fit)[["income"]], -1)
  # The objective and the accuracy are those of the reported coefficients.
  expect_identical(fit$objective, vimor_objective(d$y, design, unname(coef(fit))[-8],
                                                   fixed_coef = -1))
  expect_equal(unname(predict(fit)), unname(drop(design %*% coef(fit))))
  expect_identical(fit$correct, sum((predict(fit) >= 0) == (d$y == 1)))
  expect_identical(c(nobs(fit), fit$n_ones), c(200L, as.integer(sum(d$y))))
  expect_identical(formula(fit), y ~ x * g + income + w)
  # Left out of the formula or named as a string, the normalized term fits alike.
  a <- fit_quick(formula = y ~ x, data = d, normalize = ~ income)
  b <- fit_quick(formula = y ~ x + income, data = d, normalize = "income")
  expect_identical(a$restarts, b$restarts)
})

test_that("the restart table holds each restart's seeds, objective and point", {
  d <- latent_data(150, 6)
  one <- suppressWarnings(maxscore(y ~ x + g, d, normalize = ~ income, fixed_coef = -1,
                                   restarts = 4, seed = 31327, seed2 = 30081,
                                   max_evals = 3000, cores = 1))
  two <- suppressWarnings(update(one, cores = 2))
  r <- one$restarts
  expect_identical(r$seed1, c(31327L, 31328L, 0L, 1L))
  expect_identical(r$seed2, rep(30081L, 4))
  design <- model.matrix(~ x + g + income, d)
  for (i in 1:4) {
    expect_identical(r$objective[i], vimor_objective(d$y, design, one$restart_coefficients[i, ],
                                                     fixed_coef = -1))
  }
  best <- one$best_restart
  expect_identical(r$objective[best], max(r$objective))
  expect_identical(unname(coef(one))[-5], unname(one$restart_coefficients[best, ]))
  # Threads do not change a fit.
  drop <- c("seconds", "call")
  expect_identical(one[setdiff(names(one), drop)], two[setdiff(names(two), drop)])
})

test_that("predict and fitted give the index and class for new and old rows", {
  d <- latent_data(150, 8)
  fit <- fit_quick(formula = y ~ x + g, data = d, normalize = ~ income)
  index <- predict(fit, newdata = d)
  expect_identical(index, predict(fit))
  expect_identical(predict(fit, newdata = d, type = "class"), as.integer(index >= 0))
  expect_identical(fitted(fit), as.integer(index >= 0))
  expect_identical(fit$accuracy, mean(fitted(fit) == d$y))
  # A few rows of one level of g still get the fit's columns.
  few <- d[d$g == "c", ][1:2, ]
  expect_identical(predict(fit, newdata = few), index[rownames(few)])
  bad <- d
  bad$x[2] <- Inf
  expect_blames(predict(fit, newdata = bad), "newdata")
})

test_that("predict keeps rows with NA as NA and names newdata for what it lacks", {
  d <- latent_data(80, 11)
  fit <- fit_quick(formula = y ~ x + g, data = d, normalize = ~ income)
  holes <- d
  holes$x[2] <- NA
  holes$income[3] <- NaN
  index <- predict(fit, newdata = holes)
  expect_identical(unname(which(is.na(index))), 2:3)
  expect_identical(index[-(2:3)], predict(fit)[-(2:3)])
  expect_identical(length(predict(fit, newdata = holes, na.action = "na.omit")), 78L)
  expect_blames(predict(fit, newdata = holes, na.action = na.fail), "na.action")
  new_level <- transform(d, g = replace(as.character(g), 1, "z"))
  for (newdata in list(d[c("x", "income")], d[c("x", "g")], new_level, as.matrix(d))) {
    expect_blames(predict(fit, newdata = newdata), "newdata")
  }
  expect_blames(predict(fit, type = "probability"), "type")
})

test_that("NA rows are refused unless na.action says otherwise", {
  d <- latent_data(100, 9)
  d$x[7] <- NA
  d$unused <- NA
  expect_error(fit_quick(formula = y ~ x, data = d, normalize = ~ income), "^na.action: row 7 ")
  omitted <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, na.action = na.omit)
  expect_identical(nobs(omitted), 99L)
  expect_identical(coef(omitted), coef(fit_quick(formula = y ~ x, data = d[-7, ],
                                                 normalize = ~ income)))
  excluded <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, na.action = na.exclude)
  expect_length(fitted(excluded), 100L)
  expect_true(is.na(fitted(excluded)[7]))
})

test_that("a two-level factor or logical response fits like 0/1", {
  d <- latent_data(120, 10)
  base <- fit_quick(formula = y ~ x, data = d, normalize = ~ income)
  d$yf <- factor(ifelse(d$y == 1, "in", "out"), levels = c("out", "in"))
  d$yl <- d$y == 1
  expect_identical(coef(fit_quick(formula = yf ~ x, data = d, normalize = ~ income)), coef(base))
  expect_identical(coef(fit_quick(formula = yl ~ x, data = d, normalize = ~ income)), coef(base))
})

test_that("settings named by coefficient leave the others at their defaults", {
  d <- latent_data(120, 11)
  fit <- fit_quick(formula = y ~ x, data = d, normalize = ~ income,
                   lower = c(x = -3), upper = c(x = 4), start = c(x = 1), step = 0.5)
  defaults <- fit_quick(formula = y ~ x, data = d, normalize = ~ income)
  expect_identical(fit$settings$lower, c(defaults$settings$lower[1], -3))
  expect_identical(fit$settings$upper, c(defaults$settings$upper[1], 4))
  expect_identical(fit$settings$start, c(defaults$settings$start[1], 1))
  expect_identical(fit$settings$step, c(0.5, 0.5))
  # box_scale scales the default box; by a power of two, exactly.
  half <- fit_quick(formula = y ~ x, data = d, normalize = ~ income, box_scale = 5)
  expect_identical(half$settings$upper, defaults$settings$upper / 2)
  expect_identical(half$settings$box_scale, 5)
})

test_that("print and summary show the estimates, flat ranges and diagnostics", {
  d <- latent_data(120, 12)
  fit <- fit_quick(formula = y ~ x, data = d, normalize = ~ income)
  expect_output(print(fit), "income held at -1")
  expect_true(all(fit$flat[, "lower"] <= coef(fit)[-3] & coef(fit)[-3] <= fit$flat[, "upper"]))
  out <- capture.output(print(summary(fit)))
  flat <- format(fit$flat, digits = 4, trim = TRUE)
  expect_true(any(grepl(sprintf("^x .*\\[%s, %s\\]$", flat["x", 1], flat["x", 2]), out)))
  expect_true(any(grepl("^income .*\\(normalized\\)", out)))
  expect_true(any(grepl(sprintf("^restarts +3, %d reached the best", fit$reached_best), out)))
  expect_true(any(grepl(sprintf("accuracy +%.4f \\(%d of 120\\)", fit$accuracy, fit$correct),
                        out)))
})

test_that("weights travel with subset and na.action, and name themselves when wrong", {
  d <- latent_data(120, 31)
  d$k <- rep(c(1, 2, 0, 3), 30)
  # Rows kept by subset, weights taken from the same rows: as the subset data weighted directly.
  keep <- d$x > -1
  a <- fit_quick(y ~ x, d, normalize = ~ income, weights = k, subset = x > -1)
  b <- fit_quick(y ~ x, d[keep, ], normalize = ~ income, weights = k)
  expect_identical(coef(a), coef(b))
  expect_identical(a$weights, d$k[keep])
  # NA in a weight: refused unless na.action drops the row, which then goes with its weight.
  d$k[5] <- NA
  expect_blames(fit_quick(y ~ x, d, normalize = ~ income, weights = k), "na.action")
  c <- fit_quick(y ~ x, d, normalize = ~ income, weights = k, na.action = na.omit)
  expect_identical(coef(c), coef(fit_quick(y ~ x, d[-5, ], normalize = ~ income, weights = k)))
  d$k[5] <- -1
  expect_blames(fit_quick(y ~ x, d, normalize = ~ income, weights = k), "weights")
  expect_blames(fit_quick(y ~ x, d, normalize = ~ income, weights = c(1, 2)), "weights")
  d$k[5] <- Inf
  expect_blames(fit_quick(y ~ x, d, normalize = ~ income, weights = k), "weights")
})
