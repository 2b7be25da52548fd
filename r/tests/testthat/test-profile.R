mroz$nonwife_income <- (mroz$fincome - mroz$hours * mroz$wage) / 1000
mroz_fit <- function(...) {
  suppressWarnings(maxscore(participation ~ education + experience + age + youngkids, mroz,
                            normalize = ~ nonwife_income, fixed_coef = -1, restarts = 2,
                            max_evals = 20000, cores = 1, ...))
}
plain <- mroz_fit(subsamples = 20, subsample_restarts = 1)
weighted <- mroz_fit(quantile = 0.3, weights = 1 + city)
design <- cbind(1, as.matrix(mroz[c("education", "experience", "age", "youngkids",
                                    "nonwife_income")]))

test_that("each step holds the module's objective, and the estimate's step is its flat range", {
  for (fit in list(plain, weighted)) {
    prof <- profile(fit)
    free <- names(coef(fit))[1:5]
    expect_identical(names(prof), c("coefficient", "left", "right", "objective", "correct"))
    expect_identical(unique(prof$coefficient), free)
    for (j in seq_along(free)) {
      s <- prof[prof$coefficient == free[j], ]
      n <- nrow(s)
      box <- c(fit$settings$lower[j], fit$settings$upper[j])
      expect_identical(c(s$left[1], s$right[n]), box)
      # Neighbours touch: adjacent doubles, whose mean rounds to one of them.
      gap <- (s$right[-n] + s$left[-1]) / 2
      expect_true(all(s$right[-n] < s$left[-1] & (gap == s$right[-n] | gap == s$left[-1])))
      expect_true(all(diff(s$objective) != 0 | diff(s$correct) != 0))
      at_middle <- vapply((s$left + s$right) / 2, function(t) {
        vimor_objective(mroz$participation, design, replace(coef(fit)[1:5], j, t),
                        fit$quantile, -1, weights = fit$weights)
      }, 0)
      expect_identical(at_middle, s$objective)
      k <- which(s$left <= coef(fit)[[j]] & coef(fit)[[j]] <= s$right)
      expect_identical(c(s$left[k], s$right[k]),
                       c(max(fit$flat[j, 1], box[1]), min(fit$flat[j, 2], box[2])))
      expect_identical(s$objective[k], fit$objective)
      expect_equal(s$correct[k], as.double(fit$correct))
    }
  }
  # Unweighted at the median, each right call adds 1/(2N) and each wrong one takes it away.
  prof <- profile(plain)
  expect_equal(prof$correct, 753 / 2 + 753 * prof$objective)
})

test_that("the profile rebuilds the fit's design through factors, subset and na.action", {
  d <- latent_data(120, 5)
  d$x[3] <- NA
  fit <- fit_quick(y ~ x + g, d, normalize = ~ income, subset = w > -3, na.action = na.exclude)
  prof <- profile(fit)
  expect_identical(unique(prof$coefficient), c("(Intercept)", "x", "gb", "gc"))
  for (name in unique(prof$coefficient)) {
    s <- prof[prof$coefficient == name, ]
    k <- which(s$left <= coef(fit)[[name]] & coef(fit)[[name]] <= s$right)
    expect_identical(s$objective[k], fit$objective)
  }
})

test_that("a window narrows the profile to the steps inside it", {
  full <- profile(plain, which = "age")
  inner <- full$right > -12 & full$left < -6
  part <- profile(plain, which = "age", window = c(-12, -6))
  expect_identical(part$objective, full$objective[inner])
  expect_identical(range(part$left, part$right), c(-12, -6))
  expect_identical(part$left[-1], full$left[inner][-1])
  by_name <- profile(plain, which = c(5, 2), window = list(education = c(17, 19)))
  expect_identical(unique(by_name$coefficient), c("youngkids", "education"))
  expect_identical(range(by_name[by_name$coefficient == "education", c("left", "right")]), c(17, 19))
  expect_identical(by_name[by_name$coefficient == "youngkids", "objective"],
                   profile(plain, which = "youngkids")$objective)
})

test_that("refusals name the argument", {
  expect_blames(profile(mroz_fit(model = FALSE)), "fitted")
  expect_match(error_of(profile(mroz_fit(model = FALSE))), "model = FALSE")
  expect_blames(plot(mroz_fit(model = FALSE)), "x")
  expect_blames(profile(plain, which = "nonwife_income"), "which")
  expect_blames(profile(plain, which = "nope"), "which")
  expect_blames(profile(plain, which = 9), "which")
  expect_blames(profile(plain, window = c(2, 1)), "window")
  expect_blames(profile(plain, window = c(0, Inf)), "window")
  expect_blames(profile(plain, window = "wide"), "window")
  expect_blames(profile(plain, which = "age", window = list(education = c(0, 1))), "window")
  expect_blames(plot(weighted, which = "intervals"), "x")
  expect_blames(plot(plain, which = "residuals"), "which")
  expect_blames(vimor_objective(c(1, 0), cbind(1, c(1, 2)), 1, weights = 1), "weights")
  expect_blames(vimor_objective(c(1, 0), cbind(1, c(1, 2)), 1, weights = c(1, -1)), "weights")
})

test_that("the plots draw, and the intervals plot shows the draws as the interval reads them", {
  pdf(NULL)
  on.exit(dev.off())
  expect_s3_class(plot(profile(plain, which = "education"), main = "education"), "profile.maxscore")
  expect_s3_class(plot(weighted), "profile.maxscore")
  scaled <- plot(plain, which = "intervals")
  # Symmetric at 0.95 from 20 draws: the half-width is the 19th smallest distance.
  sub <- plain$subsamples
  e <- coef(plain)[1:5]
  expect_equal(scaled, sweep((sub$size / 753)^(1 / 3) * sweep(sub$estimates, 2, e), 2, e, "+"))
  half <- apply(abs(sweep(scaled, 2, e)), 2, function(d) sort(d)[19])
  expect_equal(unname(sub$intervals), unname(cbind(e - half, e + half)))
})
