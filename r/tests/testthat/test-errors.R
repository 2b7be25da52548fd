# Every mistake stops with one line that begins with the argument R's way.
d <- latent_data(60, 13)

test_that("the core's refusals name maxscore's arguments", {
  fit <- function(..., cores = 1) {
    maxscore(y ~ x, d, normalize = ~ income, max_evals = 100, cores = cores, ...)
  }
  for (q in list(0, 1.5, NA_real_, "a")) expect_blames(fit(quantile = q), "quantile")
  expect_blames(fit(lower = c(0, 1), upper = c(1, 0)), "lower")
  expect_blames(fit(start = c(x = 1e6)), "start")
  expect_blames(fit(lower = c(z = 1)), "lower")
  expect_blames(fit(step = c(x = NA)), "step")
  expect_blames(fit(fixed_coef = 0), "fixed_coef")
  expect_blames(fit(restarts = 0), "restarts")
  expect_blames(fit(seed = 31329), "seed")
  expect_blames(fit(cores = 257), "cores")
  expect_blames(fit(maximize = NA), "maximize")
  expect_blames(fit(model = "yes"), "model")
  expect_blames(fit(subsamples = 20), "subsamples")  # 60 rows are too few
  expect_blames(fit(subsamples = 20, subsample_size = 60), "subsample_size")
  expect_blames(fit(subsamples = 20, subsample_size = 30, subsample_restarts = 0),
                "subsample_restarts")
})

test_that("bad data name the formula, the data or normalize", {
  fit <- function(formula, data = d, ...) {
    maxscore(formula, data, restarts = 1, max_evals = 100, cores = 1, ...)
  }
  bad <- d
  bad$y[3] <- 2
  expect_blames(fit(y ~ x, bad, normalize = ~ income), "formula")
  d$one <- 1
  expect_blames(fit(one ~ x, normalize = ~ income), "formula")
  expect_blames(fit(y ~ x, normalize = ~ one), "normalize")
  expect_blames(fit(y ~ x, normalize = ~ g), "normalize")
  expect_blames(fit(y ~ x, d[c("y", "x")], normalize = ~ income), "normalize")
  expect_blames(fit(~ x, normalize = ~ income), "formula")
  expect_blames(fit(y ~ 0 + income, normalize = ~ income), "formula")
  d$zero <- 0
  expect_blames(fit(y ~ zero, normalize = ~ income), "data")
  d$huge <- replace(d$x, 2, Inf)
  expect_blames(fit(y ~ huge, normalize = ~ income), "data")
  # The default box needs the spread of every column; the way out is spelled R's way.
  d$big <- d$x * 1e300
  message <- error_of(fit(y ~ big, normalize = ~ income))
  expect_match(message, "^lower: .*'big'.*give lower and upper$")
})

quick <- function(formula = y ~ x, data = d, normalize = ~ income, ...) {
  maxscore(formula, data, normalize = normalize, restarts = 1, max_evals = 100, cores = 1, ...)
}

test_that("data come as a data frame, a list or an environment, nothing else", {
  tibble <- structure(d, class = c("tbl_df", "tbl", "data.frame"))
  for (data in list(as.list(d), list2env(as.list(d)), tibble)) {
    expect_identical(coef(quick(data = data)), coef(quick()))
  }
  for (data in list(as.matrix(d), data.matrix(d), 5, "d")) expect_blames(quick(data = data), "data")
})

test_that("a variable that is missing, or only a function, names its argument", {
  expect_blames(quick(y ~ nope), "formula")
  expect_blames(quick(nope ~ x), "formula")
  expect_blames(quick(y ~ log(nope)), "formula")
  expect_blames(quick(y ~ x + time), "formula")
  for (normalize in list(~ time, "time", ~ log(nope))) expect_blames(quick(normalize = normalize), "normalize")
  # A name is a column's, not code.
  spaced <- d
  names(spaced)[names(spaced) == "income"] <- "in come"
  expect_identical(unname(coef(quick(data = spaced, normalize = "in come"))), unname(coef(quick())))
})

test_that("normalize is required and one term", {
  expect_blames(maxscore(y ~ x, d), "normalize")
  for (normalize in list("", c("income", "x"), NA, NA_character_, 3, NULL, "income +", "x + w",
                         y ~ income, ~ x + w, ~ 1)) {
    expect_blames(quick(normalize = normalize), "normalize")
  }
})

test_that("NA, NaN and Inf name their variable's argument and data's row, whatever na.action", {
  owner <- c(y = "formula", x = "data", income = "normalize")
  actions <- list(omit = na.omit, exclude = na.exclude, fail = na.fail, pass = na.pass, none = NULL)
  for (v in names(owner)) for (value in c(NA, NaN, Inf)) for (a in names(actions)) {
    bad <- d
    bad[[v]][5] <- value
    # Row 1 left out: the row named is data's, not the design's.
    run <- function() {
      if (a == "none") quick(data = bad, subset = -1)
      else quick(data = bad, subset = -1, na.action = actions[[a]])
    }
    label <- paste(v, value, a)
    if (is.na(value) && a %in% c("omit", "exclude")) {
      expect_identical(nobs(run()), 58L, info = label)
    } else {
      expect_blames(run(), if (is.na(value) && a %in% c("fail", "none")) "na.action" else owner[[v]])
      expect_match(error_of(run()), "row 5\\b", info = label)
    }
  }
})

test_that("subset is evaluated in data, through a wrapper too, and checked", {
  wrapper <- function(...) quick(...)
  expect_identical(nobs(wrapper(subset = x > 0)), sum(d$x > 0))
  for (subset in list(c(NA, rep(TRUE, 59)), rep(TRUE, 3), "a", 61, c(-1, 2), quote(nope > 0))) {
    expect_blames(eval(bquote(quick(subset = .(subset)))), "subset")
  }
  expect_blames(quick(subset = x > 100), "data")
})

test_that("a constant response is refused with the core's words, named as the formula", {
  two <- factor(ifelse(d$y == 1, "yes", "no"))
  for (y in list(rep(1, 60), rep(FALSE, 60), two)) {
    one <- d
    one$y <- y
    # The factor keeps its coding when only one level is left.
    message <- error_of(quick(data = one, subset = if (is.factor(y)) y == "yes" else TRUE))
    expect_match(message, "^formula: has one class: the response is [01] in every observation")
  }
})

test_that("the matrix functions name their own arguments", {
  x <- cbind(1, d$x, d$income)
  expect_blames(vimor_objective(d$y[-1], x, c(0, 0)), "y")
  expect_blames(vimor_objective(replace(d$y, 4, NA), x, c(0, 0)), "y")
  expect_blames(vimor_objective(d$y, replace(x, 5, NaN), c(0, 0)), "x")
  expect_blames(vimor_objective(d$y, cbind(x[, 1:2], 4), c(0, 0)), "x")
  expect_blames(vimor_objective(d$y, x, c(0, 0, 0)), "coef")
  expect_blames(vimor_objective(d$y, x, c(0, 0), quantile = 1), "quantile")
  expect_blames(vimor_anneal(d$y, x, cooling = 1.5), "cooling")
  expect_blames(vimor_anneal(d$y, x, seed1 = 2^31), "seed1")
  expect_blames(vimor_anneal(d$y, x, step_gain = c(1, -1)), "step_gain")
})
