// A fit's flat ranges and subsampling intervals in its report: table columns,
// members of each regressor's JSON object, a summary line, and the top-level
// "inference" object.
#ifndef VIMOR_CLI_UNCERTAINTY_H
#define VIMOR_CLI_UNCERTAINTY_H

#include <string>
#include <vector>

#include "flat.h"
#include "inference.h"
#include "report.h"

// `inference` may be null: no subsampling ran.
void add_uncertainty(FitReport &report, const std::vector<FlatRange> &flat,
                     const Inference *inference);

std::string inference_json(const Inference &inference);

#endif
