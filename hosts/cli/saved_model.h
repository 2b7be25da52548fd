// A fit saved with `vimor fit --json --output FILE`, read back by predict
// and score: the model's terms, its quantile and its coefficients.
#ifndef VIMOR_CLI_SAVED_MODEL_H
#define VIMOR_CLI_SAVED_MODEL_H

#include <string>
#include <vector>

#include "model.h"

struct SavedModel {
    ModelTerms terms;
    double quantile = 0.5;
    std::vector<double> coef;  // the K - 1 free coefficients, in the module's order
};

// Reads and checks the file; throws UsageError naming --model and the file.
SavedModel read_saved_model(const std::string &path);

#endif
