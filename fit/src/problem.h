// A data set as the module takes it: 0/1 responses and a column-major
// regressor matrix whose last column is the normalized one, borrowed from
// the host, with the regressors' names for messages.
#ifndef VIMOR_FIT_PROBLEM_H
#define VIMOR_FIT_PROBLEM_H

#include <cstdint>
#include <string>
#include <vector>

namespace vimor_fit {

struct Problem {
    const double *response = nullptr;    // N values 0/1; null when only predicting
    const double *regressors = nullptr;  // N * K, column-major
    std::int32_t nobs = 0, nreg = 0;
    double fixed_coef = 1.0;
    std::vector<std::string> names;  // K
    // A weighted problem: the weights scaled to mean 1 (null: every weight
    // 1), and the response the module is given (null: `response` itself).
    const double *weights = nullptr;
    const double *module_response = nullptr;

    const double *column(std::int32_t j) const { return regressors + std::size_t(j) * nobs; }
    std::int32_t nfree() const { return nreg - 1; }
    const double *module_y() const { return module_response ? module_response : response; }
    double weight(std::int32_t i) const { return weights ? weights[i] : 1.0; }
};

// Checks every value (throws ArgumentError naming the argument): names and
// sizes, a response of 0s and 1s holding both, finite regressors, no column
// zero in every row, a normalized column that varies, a finite nonzero
// fixed coefficient.
void check_problem(const Problem &problem);

// Weights w_i (finite, >= 0, some positive in each class) scaled to mean 1,
// w_i / (sum w / N), into `scaled`, which p.weights then points at. Scaled
// so that the objective is the weighted mean and the search's temperature
// means what it means unweighted; weights of 1 stay 1 exactly.
void scale_weights(Problem &p, const double *weights, std::vector<double> &scaled);

// The module's objective uses y_i only through y_i - (1 - a), so the response
// (1 - a) + w_i (y_i - (1 - a)) weighs observation i by w_i in the module's
// own arithmetic (y_i itself where w_i is 1, so such rows are as unweighted).
// Fills `response`, which p.module_response then points at.
void weigh_response(Problem &p, double quantile, std::vector<double> &response);

// The smallest positive weight (1 unweighted): the smallest change one
// observation can make to the objective is 2 min(a, 1 - a) times it over N.
double smallest_weight(const Problem &p);

// Index of observation i at the free coefficients `coef`, summed in the
// module's order: multiply, then add, from +0 (built without contraction).
inline double observation_index(const Problem &p, const double *coef, std::int32_t i) {
    double index = 0.0;
    const std::int32_t last = p.nreg - 1;
    for (std::int32_t j = 0; j < last; ++j) index = p.column(j)[i] * coef[j] + index;
    return p.column(last)[i] * p.fixed_coef + index;
}

// Population mean and standard deviation of n values, each sum taken in row
// order.
void moments(const double *x, std::int32_t n, double &mean, double &sd);

// The rows `rows` of `problem`, in that order, copied into `storage`: the
// module's response and the regressors (a problem to search, not to score).
Problem subproblem(const Problem &problem, const std::int32_t *rows, std::int32_t count,
                   std::vector<double> &response, std::vector<double> &regressors);

// The number (weighted: the total weight) of observations with
// 1[x_i.b >= 0] equal to y_i.
double correctly_classified(const Problem &problem, const double *coef);

// The largest value the objective can take: every sign right.
double max_objective(const Problem &problem, double quantile);

}  // namespace vimor_fit

#endif
