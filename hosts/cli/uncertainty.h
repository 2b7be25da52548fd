// A fit's flat ranges and subsampling intervals in its report: table columns,
// members of each regressor's JSON object, a summary line, and the top-level
// "inference" object.
#ifndef VIMOR_CLI_UNCERTAINTY_H
#define VIMOR_CLI_UNCERTAINTY_H

#include <string>

#include "report.h"

// The intervals are shown when the fit drew subsamples.
void add_uncertainty(FitReport &report);

std::string inference_json(const FitResult &fit);

#endif
