// A search's arguments held in heap arrays of exactly the lengths the caller's
// rules require (null where the library reads nothing), so that AddressSanitizer
// reports any access one element too far. Shared by the bounds and thread tests.
#ifndef VIMOR_TESTS_EXACT_SEARCH_H
#define VIMOR_TESTS_EXACT_SEARCH_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "vimor.h"

namespace vimor_test {

// A heap array of exactly n elements, or null for n == 0.
template <typename T>
struct Exact {
    std::unique_ptr<T[]> data;
    std::size_t size = 0;

    Exact() = default;
    explicit Exact(std::size_t n) : data(n ? new T[n]() : nullptr), size(n) {}
    Exact(const Exact &other) : Exact(other.size) {
        if (size) std::memcpy(data.get(), other.data.get(), size * sizeof(T));
    }
    Exact &operator=(const Exact &other) {
        Exact copy(other);
        std::swap(data, copy.data);
        std::swap(size, copy.size);
        return *this;
    }
    T *get() const { return data.get(); }
    T &operator[](std::size_t i) const { return data[i]; }
    bool same_bytes(const Exact &other) const {
        return size == other.size &&
               (size == 0 || std::memcmp(data.get(), other.data.get(), size * sizeof(T)) == 0);
    }
};

// Every argument of one _saa_ call.
struct SearchCase {
    // Data set.
    Exact<double> response, regressors;
    int32_t nobs = 0, nreg = 1;
    double quantile = 0.5, fixed_coef = 1.0;
    // Settings.
    int32_t maximize = 1;
    double cooling = 0.85, tolerance = 1e-6;
    int32_t sweeps = 5, adjustments = 5, history_len = 4, max_evals = 10000;
    int32_t seed1 = 1802, seed2 = 9373;
    Exact<double> lower, upper, step_gain;
    // In-out and outputs.
    Exact<double> coef, step, best, history, trial;
    Exact<int32_t> accept_counts;
    double temperature = 1.0, best_value = 0.0;
    int32_t n_accepted = 0, n_evals = 0, n_out_of_bounds = 0, status = -1, limit_hit = 0;

    // Allocates every array at its exact length for the current nobs, nreg
    // and history_len; per-coefficient arrays are null when nreg == 1, the
    // data arrays when nobs == 0.
    void allocate() {
        const std::size_t n = static_cast<std::size_t>(nobs);
        const std::size_t k = static_cast<std::size_t>(nreg - 1);
        response = Exact<double>(n);
        regressors = Exact<double>(n * static_cast<std::size_t>(nreg));
        for (Exact<double> *a : {&lower, &upper, &step_gain, &coef, &step, &best, &trial})
            *a = Exact<double>(k);
        accept_counts = Exact<int32_t>(k);
        history = Exact<double>(static_cast<std::size_t>(std::max(1, history_len)));
    }

    int32_t run() {
        return _saa_(response.get(), regressors.get(), &nobs, &nreg, coef.get(), &quantile,
                     &maximize, &cooling, &tolerance, &sweeps, &adjustments, &history_len,
                     &max_evals, lower.get(), upper.get(), step_gain.get(), &seed1, &seed2,
                     &temperature, step.get(), best.get(), &best_value, &n_accepted, &n_evals,
                     &n_out_of_bounds, &status, history.get(), trial.get(), accept_counts.get(),
                     &limit_hit, &fixed_coef);
    }

    // The objective at a point, in the caller's sign.
    double objective(const Exact<double> &point) const {
        double score = 0.0;
        _fcna_(response.get(), regressors.get(), &nobs, &nreg, point.get(), &score, &quantile,
               &fixed_coef);
        return score;
    }

    // The outputs a run writes, as bytes, for exact comparison of two runs.
    std::string outputs() const {
        std::string out;
        auto put = [&out](const void *p, std::size_t bytes) {
            out.append(static_cast<const char *>(p), bytes);
        };
        for (const Exact<double> *a : {&coef, &step, &best, &history})
            put(a->get(), a->size * sizeof(double));
        put(&temperature, sizeof temperature);
        put(&best_value, sizeof best_value);
        for (const int32_t *v : {&n_accepted, &n_evals, &n_out_of_bounds, &status, &limit_hit})
            put(v, sizeof *v);
        return out;
    }
};

}  // namespace vimor_test

#endif
