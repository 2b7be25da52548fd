// Loads libvimor.so by name, evaluates the objective on a four-observation
// example and prints it.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "vimor.h"

int main() {
    const char *path = std::getenv("VIMOR_LIBRARY");
    if (path == nullptr || *path == '\0') path = "libvimor.so";
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "vimor_example: cannot load %s: %s\n", path, dlerror());
        return 2;
    }
    auto objective = reinterpret_cast<decltype(&_fcna_)>(dlsym(module, "_fcna_"));
    if (objective == nullptr) {
        std::fprintf(stderr, "vimor_example: %s has no symbol _fcna_\n", path);
        return 2;
    }
    // Four observations, an intercept and one regressor (column-major).
    const double response[] = {1, 0, 1, 0};
    const double regressors[] = {1, 1, 1, 1, 2.0, -1.0, 0.5, -3.0};
    const int32_t nobs = 4, nreg = 2;
    const double coef[] = {-0.25};
    const double quantile = 0.5, fixed_coef = 1.0;
    double score = 0;
    objective(response, regressors, &nobs, &nreg, coef, &score, &quantile, &fixed_coef);
    std::printf("objective at beta = (%g, %g), alpha = %g: %.17g\n", coef[0], fixed_coef,
                quantile, score);
    dlclose(module);
    return 0;
}
