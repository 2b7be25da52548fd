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

    const double *column(std::int32_t j) const { return regressors + std::size_t(j) * nobs; }
    std::int32_t nfree() const { return nreg - 1; }
};

// Checks every value (throws ArgumentError naming the argument): names and
// sizes, a response of 0s and 1s holding both, finite regressors, no column
// zero in every row, a normalized column that varies, a finite nonzero
// fixed coefficient.
void check_problem(const Problem &problem);

// Index of observation i at the free coefficients `coef`, summed in the
// module's order: multiply, then add, from +0 (built without contraction).
inline double observation_index(const Problem &p, const double *coef, std::int32_t i) {
    double index = 0.0;
    const std::int32_t last = p.nreg - 1;
    for (std::int32_t j = 0; j < last; ++j) index = p.column(j)[i] * coef[j] + index;
    return p.column(last)[i] * p.fixed_coef + index;
}

// The rows `rows` of `problem`, in that order, copied into `storage`.
Problem subproblem(const Problem &problem, const std::int32_t *rows, std::int32_t count,
                   std::vector<double> &response, std::vector<double> &regressors);

// The number of observations with 1[x_i.b >= 0] equal to y_i.
std::int64_t correctly_classified(const Problem &problem, const double *coef);

// The largest value the objective can take: every sign right.
double max_objective(const Problem &problem, double quantile);

}  // namespace vimor_fit

#endif
