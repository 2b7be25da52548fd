# Small data sets the tests fit: a latent index with noise, so that the
# objective has a clear but imperfect optimum.
latent_data <- function(n, seed) {
  set.seed(seed)
  d <- data.frame(x = rnorm(n), w = rnorm(n, sd = 2),
                  g = factor(sample(c("a", "b", "c"), n, replace = TRUE)))
  d$income <- rnorm(n, 3, 1)
  d$y <- as.numeric(1 + d$x - 0.5 * (d$g == "b") - d$income + rnorm(n) > 0)
  d
}

# Restarts that stop early: the tests check the R host, not the optimum, so
# the core's warnings about such fits are not theirs to see.
fit_quick <- function(...) {
  suppressWarnings(maxscore(..., fixed_coef = -1, restarts = 3, max_evals = 3000, cores = 1))
}

# The message of the error expr stops with ("no error" if none).
error_of <- function(expr) tryCatch({
  expr
  "no error"
}, error = conditionMessage)

# The error names the argument first, is one line and spells every {key}.
expect_blames <- function(expr, argument) {
  message <- error_of(expr)
  expect_identical(substr(message, 1, nchar(argument) + 2), paste0(argument, ": "), info = message)
  expect_false(grepl("[{}\n]", message), info = message)
}
