# Fits a model with the vimor R package for test_hosts_agree.py and prints the
# fit as JSON, every double as a hexadecimal string so that no digit is lost.
#   Rscript fit_r.R REQUEST.json
# The request gives the formula, normalize and maxscore's settings (with level
# and interval: confint's too), and either `columns` (names of the doubles in `data`, a binary
# file written column after column, `nobs` rows) or `mroz` (the bundled data
# with the command line's derived columns).
library(vimor)
request <- jsonlite::fromJSON(commandArgs(TRUE)[1])
if (isTRUE(request$mroz)) {
  data <- mroz
  data$nonwife_income <- (data$fincome - data$hours * data$wage) / 1000
  data$experience_sq <- data$experience^2  # as in the README
} else {
  values <- readBin(request$data, "double", n = request$nobs * length(request$columns))
  data <- as.data.frame(matrix(values, nrow = request$nobs, dimnames = list(NULL, request$columns)))
}
settings <- request[intersect(names(request), c("quantile", "fixed_coef", "restarts", "maximize",
                                           "seed", "seed2", "max_evals", "subsamples",
                                           "subsample_size", "subsample_restarts", "bootstrap",
                                           "bootstrap_restarts", "certify"))]
# A refusal is printed as {"error": message}; warnings are collected.
warned <- character()
# Weights by the name of their column, as a user writes weights = w.
if (!is.null(request$weights)) settings$weights <- as.name(request$weights)
fit <- tryCatch(withCallingHandlers(
  do.call(maxscore, c(list(as.formula(request$formula), data, normalize = request$normalize,
                           cores = 2), settings)),
  warning = function(w) {
    warned <<- c(warned, conditionMessage(w))
    invokeRestart("muffleWarning")
  }), error = function(e) e)
if (inherits(fit, "error")) {
  cat(jsonlite::toJSON(list(error = conditionMessage(fit)), auto_unbox = TRUE), "\n")
  quit(status = 0)
}
hex <- function(x) sprintf("%a", x)
r <- fit$restarts
out <- list(
  names = names(coef(fit)), coefficients = hex(unname(coef(fit))),
  objective = hex(fit$objective), correct = hex(fit$correct), accuracy = hex(fit$accuracy),
  best_restart = fit$best_restart, reached_best = fit$reached_best,
  flat = lapply(seq_len(nrow(fit$flat)), function(j) hex(fit$flat[j, ])), warnings = I(warned),
  restarts = lapply(seq_len(nrow(r)), function(i) list(
    seed1 = r$seed1[i], seed2 = r$seed2[i], objective = hex(r$objective[i]),
    status = r$status[i], evaluations = r$evaluations[i], accepted = r$accepted[i],
    out_of_bounds = r$out_of_bounds[i], final_temperature = hex(r$final_temperature[i]),
    coefficients = hex(unname(fit$restart_coefficients[i, ])))))
if (!is.null(request$level)) {
  ends <- confint(fit, level = request$level, interval = request$interval)
  out$intervals <- lapply(seq_len(nrow(ends)), function(j) hex(ends[j, ]))
  out$inference <- fit$subsamples[c("size", "redrawn", "multiple_best", "limit_hit")]
}
if (!is.null(fit$certificate)) {
  c <- fit$certificate
  out$certificate <- list(status = c$status, upper_bound = hex(c$upper_bound),
                          upper_correct = c$upper_correct, nodes = c$nodes,
                          improved = c$improved)
}
if (isTRUE(request$profile)) {
  p <- profile(fit)
  out$profile <- list(coefficient = as.character(p$coefficient), left = hex(p$left),
                      right = hex(p$right), objective = hex(p$objective), correct = hex(p$correct))
}
cat(jsonlite::toJSON(out, auto_unbox = TRUE), "\n")
