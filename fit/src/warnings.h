// Signs that a fit may not mean what it seems; they never change the result.
#ifndef VIMOR_FIT_WARNINGS_H
#define VIMOR_FIT_WARNINGS_H

#include <string>
#include <vector>

#include "certify.h"
#include "problem.h"
#include "restarts.h"
#include "settings.h"

namespace vimor_fit {

// - an estimate on (within 1/100 of the width of) a bound of its box: the
//   box may cut off the maximum;
// - a normalized regressor with fewer than 10 distinct values: the scale is
//   identified only through a continuously distributed one;
// - restarts that reach the best value at points more than a tenth of the
//   box width apart in some coefficient: the maximum is a set, and the
//   estimate one point of it.
// `estimate`: the fit's point when it is not the best restart's (the
// certificate found a better one).
std::vector<std::string> fit_warnings(const Problem &problem, const Settings &settings,
                                      const std::vector<Restart> &restarts, std::size_t best,
                                      const std::vector<double> *estimate = nullptr);

// The certificate found a better point than the search (whose value was
// `searched`); that point is the estimate.
std::string missed_maximum(const Certificate &certificate, double searched, bool maximize);

}  // namespace vimor_fit

#endif
