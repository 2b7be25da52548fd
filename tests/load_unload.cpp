// Loads and unloads libvimor.so many times, with and without calls between,
// and fails if the library writes anything to stdout or stderr. Meant to run
// under valgrind's memcheck, which checks the loads for errors and leaks.
//   load_unload <path to libvimor.so> [cycles]
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vimor.h"

namespace {

// One search and one objective call on a small fixed data set.
bool call_module(void *module) {
    auto fcna = reinterpret_cast<decltype(&_fcna_)>(dlsym(module, "_fcna_"));
    auto saa = reinterpret_cast<decltype(&_saa_)>(dlsym(module, "_saa_"));
    if (fcna == nullptr || saa == nullptr) return false;
    const double response[] = {1, 0, 1, 0, 1, 1};
    const double regressors[] = {1, 1, 1, 1, 1, 1, 0.3, -1.2, 2.0, -0.4, 0.9, -2.1};
    const int32_t nobs = 6, nreg = 2, maximize = 1, sweeps = 3, adjustments = 3,
                  history_len = 2, max_evals = 200, seed1 = 12, seed2 = 34;
    const double quantile = 0.5, fixed_coef = 1.0, cooling = 0.8, tolerance = 1e-6;
    const double lower[] = {-3}, upper[] = {3}, step_gain[] = {2};
    double coef[] = {0.5}, step[] = {1}, best[1], trial[1], history[2], temperature = 1;
    double best_value = 0, score = 0;
    int32_t accept_counts[1], n_accepted, n_evals, n_out_of_bounds, status, limit_hit = 0;
    saa(response, regressors, &nobs, &nreg, coef, &quantile, &maximize, &cooling, &tolerance,
        &sweeps, &adjustments, &history_len, &max_evals, lower, upper, step_gain, &seed1,
        &seed2, &temperature, step, best, &best_value, &n_accepted, &n_evals, &n_out_of_bounds,
        &status, history, trial, accept_counts, &limit_hit, &fixed_coef);
    fcna(response, regressors, &nobs, &nreg, best, &score, &quantile, &fixed_coef);
    return (status == 0 || status == 1) && score == best_value;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: load_unload <libvimor.so> [cycles]\n");
        return 2;
    }
    const char *path = argv[1];
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 200;

    // Everything the library might print goes to a temporary file while it
    // is loaded; our own messages wait until the streams are restored.
    std::fflush(nullptr);
    FILE *capture = std::tmpfile();
    const int saved_out = dup(STDOUT_FILENO), saved_err = dup(STDERR_FILENO);
    if (capture == nullptr || saved_out < 0 || saved_err < 0) {
        std::fprintf(stderr, "load_unload: cannot redirect the standard streams\n");
        return 2;
    }
    dup2(fileno(capture), STDOUT_FILENO);
    dup2(fileno(capture), STDERR_FILENO);

    std::vector<const char *> failures;
    for (int i = 0; i < cycles && failures.empty(); ++i) {
        // Alternate: load only; load and call; load twice and call through both.
        void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            failures.push_back("cannot load the module");
            break;
        }
        if (i % 3 == 1 && !call_module(module)) failures.push_back("a call failed");
        if (i % 3 == 2) {
            void *again = dlopen(path, RTLD_NOW | RTLD_LOCAL);
            if (again == nullptr || !call_module(again) || !call_module(module))
                failures.push_back("a call through a second handle failed");
            if (again != nullptr && dlclose(again) != 0) failures.push_back("dlclose failed");
        }
        if (dlclose(module) != 0) failures.push_back("dlclose failed");
    }

    std::fflush(nullptr);
    dup2(saved_out, STDOUT_FILENO);
    dup2(saved_err, STDERR_FILENO);
    for (const char *f : failures) std::fprintf(stderr, "load_unload: %s\n", f);
    // Show what was captured (a checker's report lands here too).
    std::fseek(capture, 0, SEEK_END);
    const long written = std::ftell(capture);
    if (written != 0) {
        std::rewind(capture);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, capture)) > 0;)
            std::fwrite(buffer, 1, n, stderr);
        std::fprintf(stderr, "load_unload: %ld bytes were written to stdout/stderr\n", written);
        return 1;
    }
    return failures.empty() ? 0 : 1;
}
