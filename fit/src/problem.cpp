#include "problem.h"

#include <cmath>

#include "error.h"
#include "text.h"

namespace vimor_fit {

void check_problem(const Problem &p) {
    if (p.nobs < 1) throw ArgumentError("x", "no observations");
    if (p.nreg < 2) {
        throw ArgumentError("x",
                            "at least two regressors are needed (counting {normalize} and "
                            "{intercept}), got " +
                                std::to_string(p.nreg));
    }
    if (std::int64_t(p.nobs) * p.nreg > INT32_MAX) {
        throw ArgumentError("x", std::to_string(p.nobs) + " x " + std::to_string(p.nreg) +
                                     " values is more than the module can index");
    }
    if (static_cast<std::int32_t>(p.names.size()) != p.nreg) {
        throw ArgumentError("names", "expected " + std::to_string(p.nreg) + " names, got " +
                                         std::to_string(p.names.size()));
    }
    if (!std::isfinite(p.fixed_coef) || p.fixed_coef == 0.0) {
        throw ArgumentError("fixed_coef", "must be a finite nonzero number, got " +
                                              shortest(p.fixed_coef) +
                                              "; it sets the scale of the coefficients");
    }
    if (p.response) {
        std::int64_t ones = 0;
        for (std::int32_t i = 0; i < p.nobs; ++i) {
            const double y = p.response[i];
            if (y != 0.0 && y != 1.0) {
                throw ArgumentError("y", "row " + std::to_string(i + 1) + " is " +
                                             shortest(y) + ", neither 0 nor 1");
            }
            ones += y == 1.0;
        }
        if (ones == 0 || ones == p.nobs) {
            throw ArgumentError("y", std::string("has one class: the response is ") +
                                         (ones ? "1" : "0") +
                                         " in every observation, and a maximum-score fit "
                                         "needs both 0 and 1");
        }
    }
    for (std::int32_t j = 0; j < p.nreg; ++j) {
        const bool normalized = j + 1 == p.nreg;
        const char *argument = normalized ? "normalize" : "x";
        const double *x = p.column(j);
        bool all_zero = true, constant = true;
        for (std::int32_t i = 0; i < p.nobs; ++i) {
            if (!std::isfinite(x[i])) {
                throw ArgumentError(argument, "column " + quote(p.names[j]) + " is " +
                                                  shortest(x[i]) + " in row " +
                                                  std::to_string(i + 1) +
                                                  "; every value must be finite");
            }
            all_zero = all_zero && x[i] == 0.0;
            constant = constant && x[i] == x[0];
        }
        // A problem only to predict with may hold a few rows of anything finite.
        if (!p.response) continue;
        if (all_zero) {
            throw ArgumentError(argument, "column " + quote(p.names[j]) +
                                              " is zero in every row: " +
                                              (normalized ? "it cannot carry the scale"
                                                          : "its coefficient is not identified"));
        }
        if (normalized && constant) {
            throw ArgumentError(argument, "column " + quote(p.names[j]) + " is constant (" +
                                              shortest(x[0]) +
                                              " in every row): the scale needs a "
                                              "regressor that varies");
        }
    }
}

Problem subproblem(const Problem &p, const std::int32_t *rows, std::int32_t count,
                   std::vector<double> &response, std::vector<double> &regressors) {
    response.resize(count);
    regressors.resize(std::size_t(count) * p.nreg);
    for (std::int32_t i = 0; i < count; ++i) response[i] = p.response[rows[i]];
    for (std::int32_t j = 0; j < p.nreg; ++j) {
        const double *x = p.column(j);
        double *to = regressors.data() + std::size_t(j) * count;
        for (std::int32_t i = 0; i < count; ++i) to[i] = x[rows[i]];
    }
    Problem sub = p;
    sub.response = response.data();
    sub.regressors = regressors.data();
    sub.nobs = count;
    return sub;
}

std::int64_t correctly_classified(const Problem &p, const double *coef) {
    std::int64_t count = 0;
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        const bool predicted = observation_index(p, coef, i) >= 0.0;
        count += predicted == (p.response[i] == 1.0);
    }
    return count;
}

double max_objective(const Problem &p, double quantile) {
    std::int64_t ones = 0;
    for (std::int32_t i = 0; i < p.nobs; ++i) ones += p.response[i] == 1.0;
    return (double(ones) * quantile + double(p.nobs - ones) * (1.0 - quantile)) / p.nobs;
}

}  // namespace vimor_fit
