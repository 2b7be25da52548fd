// What the host prints: a table for people, JSON for scripts. Numbers are
// printed in the shortest form that reads back as the same double, so a
// printed coefficient scores exactly as the fit did.
#ifndef VIMOR_CLI_REPORT_H
#define VIMOR_CLI_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "flat.h"
#include "inference.h"
#include "model.h"
#include "search.h"

struct Evaluation {
    std::vector<double> coef;  // K - 1 free coefficients
    double objective = 0;
    std::int64_t correct = 0;
};

// What a fit adds beside the estimate: the flat ranges, and the intervals
// when subsampling ran (null otherwise).
struct Uncertainty {
    std::vector<FlatRange> flat;
    const Inference *inference = nullptr;
};

std::string fit_text(const Problem &problem, const Settings &settings, const Fit &fit,
                     const Evaluation &best, const Uncertainty &extra,
                     const std::string &module_path);
std::string fit_json(const Problem &problem, const Settings &settings, const Fit &fit,
                     const Evaluation &best, const Uncertainty &extra,
                     const std::string &module_path);
std::string score_text(const Problem &problem, double quantile, const Evaluation &at);
std::string score_json(const Problem &problem, double quantile, const Evaluation &at);

#endif
