// The objective along one coefficient, the others held fixed: a step
// function that can change only where an observation's index changes sign.
// Each step's value is the one the module gives anywhere on it, summed in the
// module's order and rounding; the correct count is the one the core reports.
#ifndef VIMOR_FIT_PROFILE_H
#define VIMOR_FIT_PROFILE_H

#include <cstdint>
#include <vector>

#include "problem.h"
#include "restarts.h"

namespace vimor_fit {

// [left, right]: the doubles on which the objective is `objective` and the
// number (weighted: total weight) classified correctly is `correct`.
struct ProfileStep {
    double left = 0, right = 0, objective = 0, correct = 0;
};

// The profile of free coefficient j over [lower, upper] (finite, lower <=
// upper) with the others at coef, in order; neighbouring steps that differ in
// neither value are one step. `problem` is the one the module sees (with the
// weighted response, if any). The values come from replaying the module's
// sum from the first row whose sign changes, so the work is bounded by steps
// times N; a window needing more than max_additions of them is refused.
std::vector<ProfileStep> profile(const Module &module, const Problem &problem, double quantile,
                                 const double *coef, std::int32_t j, double lower, double upper,
                                 double max_additions = 2e10);

}  // namespace vimor_fit

#endif
