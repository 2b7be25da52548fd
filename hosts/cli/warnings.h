// Signs that a fit may not mean what it seems, printed on standard error;
// they never change the result.
#ifndef VIMOR_CLI_WARNINGS_H
#define VIMOR_CLI_WARNINGS_H

#include <string>
#include <vector>

#include "model.h"
#include "search.h"

// - an estimate on (within 1/100 of the width of) a bound of its box: the
//   box may cut off the maximum;
// - a normalized regressor with fewer than 10 distinct values: the scale is
//   identified only through a continuously distributed one;
// - restarts that reach the best value at points more than a tenth of the
//   box width apart in some coefficient: the maximum is a set, and the
//   estimate one point of it.
std::vector<std::string> fit_warnings(const Problem &problem, const Settings &settings,
                                      const Fit &fit);

#endif
