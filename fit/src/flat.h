// How flat the maximum is: for each free coefficient, the range of values on
// which the objective keeps the fitted value while the other coefficients
// stay at the estimate. Along one coordinate every observation's index is
// monotone (rounding is monotone), so its sign changes at one double; the
// objective can change only there. The ranges are exact: the module gives
// the fitted value at both ends and a different value one double beyond.
#ifndef VIMOR_FIT_FLAT_H
#define VIMOR_FIT_FLAT_H

#include <cstdint>
#include <functional>
#include <vector>

#include "problem.h"
#include "restarts.h"

namespace vimor_fit {

struct FlatRange {
    double lo = 0, hi = 0;  // -inf or +inf when the value holds to the end
};

// visit(j, i, point) for free coefficient j (every one, or only `only` when
// it is not -1) and every observation i whose sign changes along it, with
// the point defined below.
void visit_change_points(const Problem &problem, const double *coef,
                         const std::function<void(std::int32_t, std::int32_t, double)> &visit,
                         std::int32_t only = -1);

// For free coefficient j and every observation whose sign changes along it:
// the first finite double at which the sign (index >= 0) differs from its
// sign at -max. One list per free coefficient, in observation order.
std::vector<std::vector<double>> change_points(const Problem &problem, const double *coef);

// The flat range of every free coefficient around `coef`, whose objective
// the module gives as `value`.
std::vector<FlatRange> flat_ranges(const Module &module, const Problem &problem, double quantile,
                                   const std::vector<double> &coef, double value);

}  // namespace vimor_fit

#endif
