// A certificate for a fit: branch and bound over the box of the free
// coefficients, proving that no point of the box does better than the best
// point known, or how much better one could do at most.
//
// What is proven is about the module's own signs: each observation's index is
// the module's rounded sum (multiply, then add, in its order, from +0), a zero
// index counts as positive. Over a sub-box that index is bounded exactly, not
// merely safely: every rounded product and sum is monotone in its operands, so
// the index is monotone in each coefficient and its least and greatest values
// over the sub-box are the module's own sums at two corners. The objective is
// then compared as the exact sum of the module's terms (+-fl(w(y - (1 - a))));
// the module's rounded sum of those terms can differ from it by rounding only.
#ifndef VIMOR_FIT_CERTIFY_H
#define VIMOR_FIT_CERTIFY_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "problem.h"
#include "restarts.h"
#include "settings.h"

namespace vimor_fit {

struct CertifyOptions {
    double seconds = 10.0;     // time budget; the proof stops when it runs out
    std::int64_t max_nodes = 0;  // 0: no limit besides time
    bool maximize = true;
    // The response the module is given, when it is not the problem's own (a
    // weighted fit's), and the weights its correct count uses (null: 1).
    const double *module_response = nullptr;
    const double *weights = nullptr;
    // Test only: bound the index in wide arithmetic, the fixed term first,
    // as if it were the exact x.b. Unsound for the module's rounded index.
    bool unsound_exact_index = false;
    // Asked between sub-boxes, with the clock: true stops the search by
    // throwing Cancelled (the host's interrupt).
    std::function<bool()> stop;
};

struct Certificate {
    bool optimal = false;       // no point of the box beats `point`
    double upper_bound = 0;     // no point of the box has a larger objective
    double upper_correct = 0;   // nor classifies more correctly (weighted) while beating `point`
    std::int64_t nodes = 0;
    double seconds = 0;
    bool improved = false;       // `point` is not the start: the search missed the maximum
    std::vector<double> point;   // the best point known, K - 1
    double value = 0;            // the module's objective there
    double correct = 0;          // observations (their weight) classified correctly there
    bool resolved = true;        // false when a sub-box could not be settled (an overflow)
};

// Branch and bound over lower <= b <= upper from `start`. The best point's
// value is the module's `_fcna_` there. Throws ArgumentError for terms so
// unequal (a quantile near 0 or 1, extreme weights) that their sums cannot
// be compared exactly.
Certificate certify(const Module &module, const Problem &problem, double quantile,
                    const double *lower, const double *upper, const double *start,
                    const CertifyOptions &options);

// A fit's certificate: over its box from its estimate, within the certify
// setting's seconds, for the objective the module computes for its data (a
// weighted fit's response and weights).
Certificate certify_estimate(const Module &module, const Problem &data, const Settings &settings,
                             const std::vector<double> &estimate,
                             std::function<bool()> stop = nullptr);

// The certificate's result keys: "certificate_status" (1 optimal, 0 bound),
// "certificate_upper_bound", "certificate_upper_correct",
// "certificate_nodes", "certificate_seconds", "certificate_improved" (1
// when its point replaced the search's). False for any other key.
bool certificate_value(const Certificate &c, const std::string &key, std::vector<double> &out);

}  // namespace vimor_fit

#endif
