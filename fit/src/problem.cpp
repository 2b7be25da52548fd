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

void scale_weights(Problem &p, const double *weights, std::vector<double> &scaled) {
    double total = 0.0, positive[2] = {0.0, 0.0};
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        const double w = weights[i];
        if (!(std::isfinite(w) && w >= 0.0)) {
            throw ArgumentError("weights", "row " + std::to_string(i + 1) + " is " + shortest(w) +
                                               "; every weight must be finite and not negative");
        }
        total = total + w;
        if (p.response) positive[p.response[i] == 1.0 ? 1 : 0] += w;
    }
    if (!std::isfinite(total)) {
        throw ArgumentError("weights", "the weights sum to more than a double holds; rescale them");
    }
    if (p.response && !(positive[0] > 0.0 && positive[1] > 0.0)) {
        throw ArgumentError("weights", std::string("every observation with response ") +
                                           (positive[0] > 0.0 ? "1" : "0") +
                                           " has weight 0, and a maximum-score fit needs both "
                                           "classes");
    }
    const double mean = total / p.nobs;
    scaled.resize(p.nobs);
    for (std::int32_t i = 0; i < p.nobs; ++i) scaled[i] = weights[i] / mean;
    p.weights = scaled.data();
}

void weigh_response(Problem &p, double quantile, std::vector<double> &response) {
    const double base = 1.0 - quantile;
    response.resize(p.nobs);
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        const double w = p.weights[i], y = p.response[i];
        response[i] = w == 1.0 ? y : base + w * (y - base);
    }
    p.module_response = response.data();
}

double smallest_weight(const Problem &p) {
    double least = 1.0;
    bool any = false;
    for (std::int32_t i = 0; p.weights && i < p.nobs; ++i) {
        const double w = p.weights[i];
        if (w > 0.0 && (!any || w < least)) least = w;
        any = any || w > 0.0;
    }
    return least;
}

void moments(const double *x, std::int32_t n, double &mean, double &sd) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) sum = sum + x[i];
    mean = sum / n;
    double squares = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double d = x[i] - mean;
        squares = squares + d * d;
    }
    sd = std::sqrt(squares / n);
}

Problem subproblem(const Problem &p, const std::int32_t *rows, std::int32_t count,
                   std::vector<double> &response, std::vector<double> &regressors) {
    response.resize(count);
    regressors.resize(std::size_t(count) * p.nreg);
    const double *y = p.module_y();
    for (std::int32_t i = 0; i < count; ++i) response[i] = y[rows[i]];
    for (std::int32_t j = 0; j < p.nreg; ++j) {
        const double *x = p.column(j);
        double *to = regressors.data() + std::size_t(j) * count;
        for (std::int32_t i = 0; i < count; ++i) to[i] = x[rows[i]];
    }
    Problem sub = p;
    sub.response = response.data();
    sub.module_response = nullptr;
    sub.weights = nullptr;
    sub.regressors = regressors.data();
    sub.nobs = count;
    return sub;
}

double correctly_classified(const Problem &p, const double *coef) {
    if (!p.weights) {
        std::int64_t count = 0;
        for (std::int32_t i = 0; i < p.nobs; ++i) {
            const bool predicted = observation_index(p, coef, i) >= 0.0;
            count += predicted == (p.response[i] == 1.0);
        }
        return double(count);
    }
    double total = 0.0;
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        const bool predicted = observation_index(p, coef, i) >= 0.0;
        if (predicted == (p.response[i] == 1.0)) total = total + p.weights[i];
    }
    return total;
}

double max_objective(const Problem &p, double quantile) {
    if (!p.weights) {
        std::int64_t ones = 0;
        for (std::int32_t i = 0; i < p.nobs; ++i) ones += p.response[i] == 1.0;
        return (double(ones) * quantile + double(p.nobs - ones) * (1.0 - quantile)) / p.nobs;
    }
    double ones = 0.0, zeros = 0.0;
    for (std::int32_t i = 0; i < p.nobs; ++i) (p.response[i] == 1.0 ? ones : zeros) += p.weights[i];
    return (ones * quantile + zeros * (1.0 - quantile)) / p.nobs;
}

}  // namespace vimor_fit
