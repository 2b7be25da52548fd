# Methods of a "maxscore" fit, as for lm and glm.

print.maxscore <- function(x, digits = max(3L, getOption("digits") - 3L), ...) {
  cat("\nCall:\n", paste(deparse(x$call), sep = "\n", collapse = "\n"), "\n\n", sep = "")
  cat(sprintf("Maximum-score coefficients, quantile %s (%s held at %s):\n",
              format(x$quantile), x$normalized, format(x$fixed_coef)))
  print.default(format(x$coefficients, digits = digits), print.gap = 2L, quote = FALSE)
  cat(sprintf("\nObjective %s; %d of %d restarts reached the best value\n\n",
              format(x$objective, digits = digits), x$reached_best, nrow(x$restarts)))
  invisible(x)
}

summary.maxscore <- function(object, level = 0.95, interval = c("equal-tailed", "symmetric"),
                             ...) {
  interval <- match.arg(interval)
  normalized <- names(object$coefficients) == object$normalized
  table <- data.frame(estimate = unname(object$coefficients),
                      normalized = ifelse(normalized, "(normalized)", ""),
                      row.names = names(object$coefficients))
  ends <- NULL
  if (!is.null(object$subsamples)) ends <- confint(object, level = level, interval = interval)
  structure(list(intervals = ends, level = level, interval = interval,
                 subsamples = object$subsamples[c("size", "restarts", "redrawn", "multiple_best",
                                                  "limit_hit", "seconds")],
                 n_subsamples = nrow(object$subsamples$estimates),call = object$call, coefficients = table, quantile = object$quantile,
                 maximize = object$maximize, objective = object$objective,
                 max_objective = object$max_objective, accuracy = object$accuracy,
                 correct = object$correct, nobs = object$nobs, n_ones = object$n_ones,
                 restarts = object$restarts, best_restart = object$best_restart,
                 reached_best = object$reached_best, seconds = object$seconds,
                 na.action = object$na.action),
            class = "summary.maxscore")
}

print.summary.maxscore <- function(x, digits = max(3L, getOption("digits") - 3L), ...) {
  r <- x$restarts
  best <- r[x$best_restart, ]
  cat("\nCall:\n", paste(deparse(x$call), sep = "\n", collapse = "\n"), "\n\n", sep = "")
  cat(sprintf("Maximum-score quantile regression (vimor), quantile %s\n", format(x$quantile)))
  cat(sprintf("%d observations, %d with y = 1; %s the objective", x$nobs, x$n_ones,
              if (x$maximize) "maximizing" else "minimizing"))
  if (length(x$na.action)) cat(sprintf(" (%s)", naprint(x$na.action)))
  cat("\n\n")
  shown <- data.frame(estimate = format(x$coefficients$estimate, digits = digits),
                      row.names = rownames(x$coefficients))
  if (!is.null(x$intervals)) {
    ends <- format(x$intervals, digits = digits)
    ends[is.na(x$intervals)] <- ""
    shown <- cbind(shown, ends)
  }
  shown[[" "]] <- x$coefficients$normalized
  print(shown)
  # Every sign right gives the largest value; every sign wrong its negative.
  bound <- if (x$maximize) sprintf("largest possible %s", format(x$max_objective, digits = 10))
           else sprintf("smallest possible %s", format(-x$max_objective, digits = 10))
  cat(sprintf("\nobjective      %s (%s)\n", format(x$objective, digits = 10), bound))
  cat(sprintf("accuracy       %.4f (%d of %d)\n", x$accuracy, x$correct, x$nobs))
  cat(sprintf("restarts       %d, %d reached the best objective, %d converged\n",
              nrow(r), x$reached_best, sum(r$converged)))
  cat(sprintf("best restart   %d of %d (seeds %d, %d)\n", x$best_restart, nrow(r),
              best$seed1, best$seed2))
  cat(sprintf("evaluations    %.0f in %.2f s\n", sum(as.double(r$evaluations)), x$seconds))
  if (is.null(x$intervals)) {
    cat("No intervals: fit with subsamples = B (for example 200) for subsampling intervals.\n\n")
    return(invisible(x))
  }
  sub <- x$subsamples
  cat(sprintf("intervals      subsampling (rate n^(1/3)), %s, %d subsamples of %d observations, %d restarts each\n",
              x$interval, x$n_subsamples, sub$size, sub$restarts))
  cat(sprintf("               %d of %d subsample fits reached their best value more than once; %d draws redrawn; %d fits hit the evaluation limit in every restart; %.2f s\n\n",
              sub$multiple_best, x$n_subsamples, sub$redrawn, sub$limit_hit, sub$seconds))
  invisible(x)
}

coef.maxscore <- function(object, ...) object$coefficients

nobs.maxscore <- function(object, ...) object$nobs

formula.maxscore <- function(x, ...) x$formula

# type "index": x.b; "class": 1 where x.b >= 0, else 0.
predict.maxscore <- function(object, newdata, type = c("index", "class"),
                             na.action = na.pass, ...) {
  type <- match.arg(type)
  if (missing(newdata) || is.null(newdata)) {
    index <- object$fitted.index
  } else {
    tt <- delete.response(object$terms)
    mf <- model.frame(tt, newdata, na.action = na.action, xlev = object$xlevels)
    x <- model.matrix(tt, mf, contrasts.arg = object$contrasts)
    missing_columns <- setdiff(names(object$coefficients), colnames(x))
    if (length(missing_columns)) {
      fail("newdata", sprintf("gives no column '%s', which the fit used", missing_columns[1]))
    }
    x <- x[, names(object$coefficients), drop = FALSE]
    index <- linear_index(x, object$coefficients)
    names(index) <- rownames(mf)
    index <- napredict(attr(mf, "na.action"), index)
  }
  if (type == "class") as.integer(index >= 0) else index
}

# The fitted classes (type "class") or indices x.b (type "index") of the
# observations the fit used, padded with NA for rows na.exclude set aside.
fitted.maxscore <- function(object, type = c("class", "index"), ...) {
  predict.maxscore(object, type = match.arg(type))
}
