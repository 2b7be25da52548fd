// How flat the maximum is: for each free coefficient, the range of values on
// which the objective keeps the fitted value while the other coefficients
// stay at the estimate. Along one coordinate every observation's index is
// monotone, so its sign changes at one point; the objective can change only
// there. The ranges are exact: the module returns the fitted value at both
// ends and a different value one double beyond.
#ifndef VIMOR_CLI_FLAT_H
#define VIMOR_CLI_FLAT_H

#include <vector>

#include "model.h"
#include "module.h"

struct FlatRange {
    double lo = 0, hi = 0;  // -inf or +inf when the value holds to the end
};

// Index of observation i at `coef`, summed in the module's order.
double observation_index(const Problem &problem, const std::vector<double> &coef, std::int32_t i);

// The flat range of every free coefficient around `coef`, whose objective
// the module gives as `value`.
std::vector<FlatRange> flat_ranges(const Module &module, const Problem &problem, double quantile,
                                   const std::vector<double> &coef, double value);

#endif
