// A fit saved with `vimor fit --json --output FILE`, read back by predict
// and score: the model's terms, its quantile and its coefficients.
#ifndef VIMOR_CLI_SAVED_MODEL_H
#define VIMOR_CLI_SAVED_MODEL_H

#include <cstddef>
#include <string>
#include <vector>

#include "model.h"

struct SavedModel {
    ModelTerms terms;
    double quantile = 0.5;
    std::vector<double> coef;  // the K - 1 free coefficients, in the module's order
};

// A larger file is refused unread: a model needs a few kilobytes, plus one
// line per regressor and restart.
constexpr std::size_t kMaxSavedModelBytes = std::size_t(64) << 20;

// Reads and checks the file, in time and memory linear in its size; throws
// UsageError naming --model and the file.
SavedModel read_saved_model(const std::string &path);

#endif
