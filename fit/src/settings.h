// The settings of a fit: what the host gave, checked one by one as given,
// and the rest derived from the data and the shared defaults.
#ifndef VIMOR_FIT_SETTINGS_H
#define VIMOR_FIT_SETTINGS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "problem.h"

namespace vimor_fit {

// Distinct generator streams: seed1 in 0..31328, seed2 in 0..30081.
constexpr std::int32_t kSeed1Streams = 31329;
constexpr std::int32_t kSeed2Streams = 30082;
// The smallest subsample size accepted.
constexpr std::int32_t kMinSubsampleSize = 20;

struct Settings {
    double quantile = 0.5;
    bool maximize = true;
    double box_scale = 0;
    std::vector<double> lower, upper, start, step, step_gain;  // K - 1 each
    double temperature = 0, cooling = 0, tolerance = 0;
    std::int32_t sweeps = 0, adjustments = 0, history_len = 0, max_evals = 0;
    std::int32_t restarts = 0, seed = 0, seed2 = 0;
    std::int32_t threads = 0;  // 0: one per core
    double certify = 0;        // seconds for the certificate; 0: none
    // Subsampling: B = 0 means no intervals.
    std::int32_t subsamples = 0, subsample_size = 0, subsample_restarts = 0;
    double level = 0.95;
    bool symmetric = true;
    // The reshaped bootstrap: B = 0 means none.
    std::int32_t bootstrap = 0, bootstrap_restarts = 0;
    double bandwidth = 0.5;     // c of h = c sd(x.b) N^(-1/7)
    int hessian = 2;            // one of the Hessian kinds below (crossfit)
};

// How the bootstrap estimates its curvature V: second differences of the
// objective, the kernel plug-in at the estimate, or the kernel plug-in
// cross-fitted over the two halves of the rows (each half's V at the other
// half's estimate), which the estimate's own data cannot bend.
enum Hessian : int { kHessianNumerical = 0, kHessianKernel = 1, kHessianCrossfit = 2 };
inline const char *hessian_name(int h) {
    return h == kHessianNumerical ? "numerical" : h == kHessianCrossfit ? "crossfit" : "kernel";
}

// Restarts of each bootstrap draw when not given.
constexpr std::int32_t kBootstrapRestarts = 4;

// What the host gave, by key: each value checked alone when given.
class Given {
   public:
    void set(const std::string &key, const std::vector<double> &values);
    void set_text(const std::string &key, const std::string &value);
    bool has(const std::string &key) const { return values_.count(key) != 0; }
    const std::vector<double> &operator[](const std::string &key) const;

   private:
    std::map<std::string, std::vector<double>> values_;
};

// Every setting, from `given` when there and from the data and the shared
// defaults otherwise, checked together. Throws ArgumentError.
Settings resolve(const Given &given, const Problem &problem);

// The value under a key of the resolved settings (for hosts to read back).
bool resolved_value(const Settings &s, const std::string &key, std::vector<double> &out);

// The shared default of a key that has one independent of the data.
bool default_value(const std::string &key, double &value);

// Largest b with b^3 <= n^2: the default subsample size, floor(n^(2/3)).
std::int32_t default_subsample_size(std::int32_t nobs);

}  // namespace vimor_fit

#endif
