// Turns fuzzer bytes into a search's arguments within the caller's rules:
// exact-length arrays, bounded sizes and evaluation limit, any doubles (NaN
// and infinities included), any seeds and counts.
#ifndef VIMOR_FUZZ_INPUT_H
#define VIMOR_FUZZ_INPUT_H

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "exact_search.h"

namespace vimor_fuzz {

// Sizes stay small so that one input runs in milliseconds.
constexpr int32_t kMaxObs = 64;
constexpr int32_t kMaxReg = 6;
constexpr int32_t kMaxEvals = 5000;
constexpr int32_t kMaxHistory = 64;
constexpr int32_t kMaxWork = 250000;  // nobs * nreg * max_evals
// A stage without trials still counts through its sweeps and adjustment
// cycles without evaluating anything, so max_evals does not bound it; such
// counts are folded into a range that runs fast.
constexpr int32_t kMaxIdleCount = 1000;

inline double take_double(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: {
            const uint64_t bits = in.ConsumeIntegral<uint64_t>();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;  // any bit pattern: NaNs with payloads, subnormals
        }
        case 1: return std::numeric_limits<double>::quiet_NaN();
        case 2: return in.ConsumeBool() ? std::numeric_limits<double>::infinity()
                                        : -std::numeric_limits<double>::infinity();
        case 3: return in.ConsumeBool() ? 0.0 : -0.0;
        case 4: return in.ConsumeIntegralInRange<int>(-4, 4);
        case 5: return in.ConsumeFloatingPoint<double>();
        default: return in.ConsumeFloatingPointInRange<double>(-10.0, 10.0);
    }
}

// Folds a count into [-bound, bound], keeping its sign.
inline int32_t fold(int32_t v, int32_t bound) {
    return v >= 0 ? v % (bound + 1) : -static_cast<int32_t>(-(static_cast<int64_t>(v)) % (bound + 1));
}

inline vimor_test::SearchCase take_case(FuzzedDataProvider &in) {
    vimor_test::SearchCase c;
    c.nobs = in.ConsumeIntegralInRange<int32_t>(0, kMaxObs);
    c.nreg = in.ConsumeIntegralInRange<int32_t>(1, kMaxReg);
    c.history_len = fold(in.ConsumeIntegral<int32_t>(), kMaxHistory);
    c.sweeps = in.ConsumeIntegral<int32_t>();
    c.adjustments = in.ConsumeIntegral<int32_t>();
    if (c.nreg == 1 || c.sweeps <= 0 || c.adjustments <= 0) {
        c.sweeps = fold(c.sweeps, kMaxIdleCount);
        c.adjustments = fold(c.adjustments, kMaxIdleCount);
    }
    const int32_t limit = in.ConsumeIntegral<int32_t>();
    c.max_evals = limit > kMaxEvals ? limit % (kMaxEvals + 1) : limit;
    // Large data sets get fewer evaluations, so every input stays fast.
    const int32_t work = c.nobs * c.nreg;
    if (work > 0 && c.max_evals > kMaxWork / work) c.max_evals = kMaxWork / work;
    c.maximize = in.ConsumeIntegral<int32_t>();
    c.seed1 = in.ConsumeIntegral<int32_t>();
    c.seed2 = in.ConsumeIntegral<int32_t>();
    c.allocate();
    c.quantile = take_double(in);
    c.fixed_coef = take_double(in);
    c.cooling = take_double(in);
    c.tolerance = take_double(in);
    c.temperature = take_double(in);
    for (std::size_t i = 0; i < c.coef.size; ++i) {
        c.lower[i] = take_double(in);
        c.upper[i] = take_double(in);
        c.coef[i] = take_double(in);
        c.step[i] = take_double(in);
        c.step_gain[i] = take_double(in);
    }
    // Mostly 0/1 responses, as the caller's rules expect, but any number may come.
    for (std::size_t i = 0; i < c.response.size; ++i)
        c.response[i] = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? take_double(in)
                                                                   : in.ConsumeIntegralInRange<int>(0, 1);
    for (std::size_t i = 0; i < c.regressors.size; ++i) c.regressors[i] = take_double(in);
    return c;
}

[[noreturn]] inline void violated(const char *what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

#define VIMOR_FUZZ_CHECK(cond) \
    do {                       \
        if (!(cond)) ::vimor_fuzz::violated(#cond); \
    } while (0)

}  // namespace vimor_fuzz

#endif
