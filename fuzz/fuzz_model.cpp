// Fuzzes the reader of saved models (vimor score/predict --model): any bytes
// must either be refused with a one-line UsageError naming --model, or give
// a model whose names, coefficients and derived columns are consistent.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "error.h"
#include "model.h"
#include "saved_model.h"

namespace {

[[noreturn]] void violated(const char *what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}
#define CHECK(cond) \
    do {            \
        if (!(cond)) violated(#cond); \
    } while (0)

// The model goes to a file in memory, so the reader opens a real path.
const std::string &model_path() {
    static const std::string path = [] {
        const int fd = memfd_create("fuzz.json", 0);
        if (fd < 0) violated("memfd_create failed");
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void write_model(const uint8_t *data, size_t size) {
    const int fd = std::stoi(model_path().substr(model_path().rfind('/') + 1));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        violated("cannot write the memory file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    write_model(data, size);
    SavedModel saved;
    try {
        saved = read_saved_model(model_path());
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
