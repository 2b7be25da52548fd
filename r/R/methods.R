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

summary.maxscore <- function(object, level = NULL,
                             interval = c("symmetric", "equal-tailed"), ...) {
  interval <- one_of(interval, c("symmetric", "equal-tailed"), "interval")
  ends <- if (!is.null(object$subsamples)) confint(object, level = level, interval = interval)
  structure(c(object[c("call", "coefficients", "normalized", "flat", "quantile", "maximize",
                       "objective", "max_objective", "accuracy", "correct", "nobs", "n_ones",
                       "restarts", "best_restart", "reached_best", "seconds", "na.action",
                       "subsamples")],
              list(intervals = ends, interval = interval)),
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
  free <- rownames(x$flat)
  shown <- data.frame(estimate = format(x$coefficients, digits = digits),
                      row.names = names(x$coefficients))
  if (!is.null(x$intervals)) {
    ends <- format(x$intervals, digits = digits)
    ends[is.na(x$intervals)] <- ""
    shown <- cbind(shown, ends)
  }
  flat <- format(x$flat, digits = digits, trim = TRUE)
  shown[["flat range"]] <- ""
  shown[free, "flat range"] <- sprintf("[%s, %s]", flat[, 1], flat[, 2])
  shown[x$normalized, "flat range"] <- "(normalized)"
  print(shown)
  # Every sign right gives the largest value; every sign wrong its negative.
  bound <- if (x$maximize) sprintf("largest possible %s", format(x$max_objective, digits = 10))
           else sprintf("smallest possible %s", format(-x$max_objective, digits = 10))
  cat(sprintf("\nobjective      %s (%s)\n", format(x$objective, digits = 10), bound))
  if (is.null(x$weights)) {
    cat(sprintf("accuracy       %.4f (%d of %d)\n", x$accuracy, x$correct, x$nobs))
  } else {
    cat(sprintf("accuracy       %.4f (weighted share correct)\n", x$accuracy))
  }
  cat(sprintf("restarts       %d, %d reached the best objective, %d converged\n",
              nrow(r), x$reached_best, sum(r$converged)))
  cat(sprintf("best restart   %d of %d (seeds %d, %d)\n", x$best_restart, nrow(r),
              best$seed1, best$seed2))
  cat(sprintf("evaluations    %.0f in %.2f s\n", sum(as.double(r$evaluations)), x$seconds))
  sub <- x$subsamples
  if (is.null(sub)) {
    cat("No intervals: fit with subsamples = B (for example 200) for subsampling intervals.\n")
  } else if (identical(sub$method, "reshaped bootstrap")) {
    cat(sprintf("intervals      reshaped bootstrap, %s, %d draws, %d restarts each; curvature by %s%s\n",
                x$interval, nrow(sub$estimates), sub$restarts, sub$hessian,
                if (sub$hessian != "numerical") sprintf(" (h = %.4g)", sub$bandwidth) else ""))
    cat(sprintf("               %d draws searched again in a wider box; %d hit the evaluation limit in every restart; %.2f s\n",
                sub$edge_hits, sub$limit_hit, sub$seconds))
  } else {
    cat(sprintf("intervals      subsampling (rate n^(1/3)), %s, %d subsamples of %d observations, %d restarts each\n",
                x$interval, nrow(sub$estimates), sub$size, sub$restarts))
    cat(sprintf("               %d of %d subsample fits reached their best value more than once; %d draws redrawn; %d fits hit the evaluation limit in every restart; %.2f s\n",
                sub$multiple_best, nrow(sub$estimates), sub$redrawn, sub$limit_hit, sub$seconds))
  }
  cat("flat range: the values each coefficient can take, the others held, with the objective",
      "unchanged; not a confidence interval\n\n")
  invisible(x)
}

coef.maxscore <- function(object, ...) object$coefficients

nobs.maxscore <- function(object, ...) object$nobs

formula.maxscore <- function(x, ...) x$formula

# type "index": x.b; "class": 1 where x.b >= 0, else 0. Rows with NA that
# na.action keeps are predicted NA.
predict.maxscore <- function(object, newdata, type = c("index", "class"),
                             na.action = na.pass, ...) {
  type <- one_of(type, c("index", "class"), "type")
  if (missing(newdata) || is.null(newdata)) {
    index <- object$fitted.index
  } else {
    newdata <- frame_source(newdata, "newdata")
    tt <- delete.response(object$terms)
    check_variables(tt, newdata, "newdata", environment(tt), "newdata")
    mf <- tryCatch(model.frame(tt, newdata, na.action = na.pass, xlev = object$xlevels),
                   error = function(e) fail("newdata", conditionMessage(e)))
    mf <- with_na_action(mf, na.action)
    check_finite(mf, rownames(mf), "", "newdata")
    x <- model.matrix(tt, mf, contrasts.arg = object$contrasts)
    missing_columns <- setdiff(names(object$coefficients), colnames(x))
    if (length(missing_columns)) {
      fail("newdata", sprintf("gives no column '%s', which the fit used", missing_columns[1]))
    }
    x <- x[, names(object$coefficients), drop = FALSE]
    storage.mode(x) <- "double"
    known <- complete.cases(x)
    index <- rep(NA_real_, nrow(x))
    if (any(known)) {
      index[known] <- checked(.Call(C_vimor_r_index, x[known, , drop = FALSE], object$fixed_coef,
                                    colnames(x), unname(object$coefficients[-ncol(x)])),
                              c(x = "newdata"))
    }
    index <- napredict(attr(mf, "na.action"), setNames(index, rownames(mf)))
  }
  if (type == "class") as.integer(index >= 0) else index
}

# match.arg that names the argument.
one_of <- function(value, choices, name) {
  if (identical(value, choices)) return(choices[1L])
  if (!is.character(value) || length(value) != 1L || is.na(value) ||
      is.na(i <- pmatch(value, choices))) {
    fail(name, sprintf("expected one of %s, got %s", paste0("\"", choices, "\"", collapse = ", "),
                       if (is.character(value) && length(value) == 1L) paste0("\"", value, "\"")
                       else describe(value)))
  }
  choices[i]
}

# The fitted classes (type "class") or indices x.b (type "index") of the
# observations the fit used, padded with NA for rows na.exclude set aside.
fitted.maxscore <- function(object, type = c("class", "index"), ...) {
  predict.maxscore(object, type = one_of(type, c("class", "index"), "type"))
}

# level NULL: the fit's own.
confint.maxscore <- function(object, parm, level = NULL,
                             interval = c("symmetric", "equal-tailed"), ...) {
  interval <- one_of(interval, c("symmetric", "equal-tailed"), "interval")
  sub <- object$subsamples
  if (is.null(sub)) {
    fail("object", "was fitted without subsamples or bootstrap, so it has no intervals; ",
         "fit with bootstrap = B (for example 999) or subsamples = B")
  }
  if (is.null(level)) level <- sub$level
  if (!is.numeric(level) || length(level) != 1L) fail("level", "expected one number, got ", describe(level))
  names <- names(object$coefficients)
  if (missing(parm)) parm <- names
  if (is.numeric(parm)) {
    bad <- parm[!(parm %in% seq_along(names))]
    if (length(bad)) fail("parm", sprintf("%s is not a coefficient's number; there are %d", format(bad[1]), length(names)))
    parm <- names[parm]
  }
  unknown <- setdiff(parm, names)
  if (length(unknown)) {
    fail("parm", sprintf("'%s' is not a coefficient; they are %s", unknown[1],
                         paste(names, collapse = ", ")))
  }
  a <- (1 - level) / 2
  ends <- matrix(NA_real_, length(parm), 2L,
                 dimnames = list(parm, paste(format(100 * c(a, 1 - a), trim = TRUE,
                                                    scientific = FALSE, digits = 3), "%")))
  # The fit's own level and kind are kept; the core makes any other.
  fitted <- identical(as.double(level), sub$level) && interval == sub$interval
  for (name in setdiff(parm, object$normalized)) {
    j <- match(name, names)
    ends[name, ] <- if (fitted) sub$intervals[j, ] else
      checked(.Call(C_vimor_r_interval, object$coefficients[[j]], as.double(sub$estimates[, name]),
                    object$nobs, sub$size, as.double(level), interval == "symmetric"))
  }
  ends
}
