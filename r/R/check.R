# Checks of user input, before the library is called: the library validates
# nothing, so every rule it relies on is enforced here, and every error names
# the argument.

fail <- function(name, ...) stop(paste0(name, ": ", ...), call. = FALSE)

int32_max <- .Machine$integer.max

# One finite number.
check_real <- function(value, name) {
  if (!is.numeric(value) || length(value) != 1L || is.factor(value)) {
    fail(name, "expected one number, got ", describe(value))
  }
  if (!is.finite(value)) fail(name, "must be finite, got ", format(value))
  as.double(value)
}

# One whole number within [low, high] (the 32-bit range by default).
check_integer <- function(value, name, low = -int32_max, high = int32_max) {
  if (!is.numeric(value) || length(value) != 1L || is.factor(value)) {
    fail(name, "expected one whole number, got ", describe(value))
  }
  if (!is.finite(value) || value != round(value)) {
    fail(name, "expected a whole number, got ", format(value))
  }
  if (value < low || value > high) {
    where <- if (high == int32_max) paste("at least", low) else sprintf("in [%s, %s]", low, high)
    fail(name, "must be ", where, ", got ", format(value, scientific = FALSE))
  }
  as.integer(value)
}

check_flag <- function(value, name) {
  if (!is.logical(value) || length(value) != 1L || is.na(value)) {
    fail(name, "expected TRUE or FALSE, got ", describe(value))
  }
  value
}

check_quantile <- function(value, name = "quantile") {
  q <- check_real(value, name)
  if (!(q > 0 && q < 1)) fail(name, "must lie strictly between 0 and 1, got ", format(q))
  q
}

check_fixed <- function(value, name = "fixed_coef") {
  v <- check_real(value, name)
  if (v == 0) fail(name, "must not be 0; it sets the scale of the coefficients")
  v
}

# `length` finite numbers (one number repeated when scalar_ok).
check_vector <- function(value, length, name, scalar_ok = FALSE) {
  if (!is.numeric(value) || is.factor(value)) {
    fail(name, "expected numbers, got ", describe(value))
  }
  if (scalar_ok && length(value) == 1L) value <- rep(value, length)
  if (length(value) != length) {
    fail(name, "expected ", length, " values (one per free coefficient), got ", length(value))
  }
  bad <- which(!is.finite(value))
  if (length(bad)) fail(sprintf("%s[%d]", name, bad[1]), "is ", format(value[bad[1]]),
                        "; NA, NaN and infinite values are not allowed")
  as.double(unname(value))
}

# The response as doubles, each 0 or 1.
check_response <- function(y, nobs, name = "y") {
  if (is.logical(y)) y <- as.double(y)
  if (!is.numeric(y) || is.factor(y)) fail(name, "expected 0/1 numbers, got ", describe(y))
  if (length(y) != nobs) fail(name, "has ", length(y), " values but x has ", nobs, " rows")
  bad <- which(is.na(y) | (y != 0 & y != 1))
  if (length(bad)) fail(sprintf("%s[%d]", name, bad[1]), "is ", format(y[bad[1]]),
                        "; the response must be 0 or 1")
  as.double(y)
}

# A column-major double matrix with at least two columns and one row, every
# value finite.
check_regressors <- function(x, name = "x") {
  if (is.data.frame(x)) x <- as.matrix(x)
  if (!is.matrix(x) || !(is.numeric(x) || is.logical(x))) {
    fail(name, "expected a numeric matrix (observations x regressors), got ", describe(x))
  }
  if (ncol(x) < 2L) fail(name, "needs at least two regressors (columns), got ", ncol(x))
  if (nrow(x) < 1L) fail(name, "has no observations")
  if (as.double(nrow(x)) * ncol(x) > int32_max) {
    fail(name, nrow(x), " x ", ncol(x), " values is more than the library can index")
  }
  bad <- which(!is.finite(x), arr.ind = TRUE)
  if (nrow(bad)) {
    i <- bad[1, 1]
    j <- bad[1, 2]
    label <- if (is.null(colnames(x))) j else sprintf("'%s'", colnames(x)[j])
    fail(sprintf("%s[%d, %s]", name, i, label), "is ", format(x[i, j]),
         "; NA, NaN and infinite values are not allowed")
  }
  storage.mode(x) <- "double"
  x
}

describe <- function(value) {
  if (is.null(value)) return("NULL")
  if (is.factor(value)) return("a factor")
  sprintf("%s of length %d", class(value)[1], length(value))
}
