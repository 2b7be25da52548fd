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

# Restarts that stop early: the tests check plumbing, not the optimum.
quick <- list(restarts = 3L, max_evals = 3000L, cores = 1L)

fit_quick <- function(...) do.call(maxscore, c(list(...), quick))
