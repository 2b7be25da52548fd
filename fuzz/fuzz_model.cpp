// Fuzzes the reader of saved models (vimor score/predict --model): any bytes
// must either be refused with a one-line UsageError naming --model, or give
// a model whose names, coefficients and derived columns are consistent.
#include <cmath>
#include <cstdint>
#include <string>

#include "error.h"
#include "memory_file.h"
#include "model.h"
#include "saved_model.h"

namespace {

// The model goes to a file in memory, so the reader opens a real path.
const vimor_fuzz::MemoryFile &model_file() {
    static const vimor_fuzz::MemoryFile file("fuzz.json");
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    model_file().write(data, size);
    SavedModel saved;
    try {
        saved = read_saved_model(model_file().path());
    } catch (const UsageError &e) {
        const std::string message = e.what();
        CHECK(message.rfind("--model: ", 0) == 0);
        CHECK(message.find('\n') == std::string::npos);
        return 0;
    }
    const std::vector<std::string> names = regressor_names(saved.terms);
    CHECK(saved.coef.size() + 1 == names.size());
    for (double b : saved.coef) CHECK(std::isfinite(b));
    CHECK(saved.quantile > 0.0 && saved.quantile < 1.0);
    CHECK(std::isfinite(saved.terms.fixed_coef) && saved.terms.fixed_coef != 0.0);
    for (const std::string &d : saved.terms.derived) CHECK(derivation_formula(d) != nullptr);
    (void)wanted_columns(saved.terms, "--model");
    return 0;
}
