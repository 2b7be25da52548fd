// Data sets handed to the core's C API, and the results read back.
#ifndef VIMOR_FIT_TEST_H
#define VIMOR_FIT_TEST_H

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fit/src/problem.h"
#include "fit/src/restarts.h"
#include "vimor.h"
#include "vimor_fit.h"

namespace fit_test {

// Equal to the bit: -0 is not +0.
inline bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

struct Data {
    std::int32_t nobs, nreg;
    double fixed = 1.0;
    std::vector<double> y, x;  // x column-major, the last column normalized
    std::vector<std::string> names;
    Data(std::int32_t n, std::int32_t k) : nobs(n), nreg(k), y(n), x(std::size_t(n) * k) {
        for (std::int32_t j = 0; j < k; ++j) names.push_back("x" + std::to_string(j));
    }
    void column(std::int32_t j, const std::vector<double> &v) {
        std::copy(v.begin(), v.end(), x.begin() + std::size_t(j) * nobs);
    }
};

// An intercept, a normal regressor and a normal normalized one; y from the
// latent index b0 + b1 x1 + b2 x2 plus standard normal noise, so that both
// classes occur.
inline Data simulated(std::int32_t n, unsigned seed, double b0 = 0.3, double b1 = 1.0,
                      double b2 = -1.0) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Data d(n, 3);
    for (std::int32_t i = 0; i < n; ++i) {
        const double a = normal(rng), b = normal(rng);
        d.x[i] = 1.0;
        d.x[n + i] = a;
        d.x[2 * n + i] = b;
        d.y[i] = b0 + b1 * a + b2 * b + normal(rng) >= 0.0 ? 1.0 : 0.0;
    }
    return d;
}

// The core's own view of the data, for tests of its internal routines.
inline vimor_fit::Problem core_view(const Data &d) {
    vimor_fit::Problem p;
    p.response = d.y.data();
    p.regressors = d.x.data();
    p.nobs = d.nobs;
    p.nreg = d.nreg;
    p.fixed_coef = d.fixed;
    p.names = d.names;
    return p;
}

// The module's objective at b, through the core (the module's response).
inline double fcna(const vimor_fit::Problem &p, double quantile, const std::vector<double> &b) {
    return vimor_fit::objective_at(vimor_fit::Module{_fcna_, _saa_}, p, quantile, b.data());
}

// A problem and a fit on it (through the module's exports), freed together.
// The data are borrowed and must outlive it.
struct Session {
    VimorProblem *problem = nullptr;
    VimorFit *fit = nullptr;
    int status;
    explicit Session(const Data &d, vimor_search_fn search = _saa_) {
        std::vector<const char *> names;
        for (const std::string &s : d.names) names.push_back(s.c_str());
        status = vimor_problem_new(d.y.data(), d.x.data(), d.nobs, d.nreg, d.fixed, names.data(),
                                   &problem);
        if (status == VIMOR_OK) status = vimor_fit_new(problem, _fcna_, search, &fit);
    }
    ~Session() {
        vimor_fit_free(fit);
        vimor_problem_free(problem);
    }
    int set(const char *key, const std::vector<double> &v) {
        return vimor_fit_set(fit, key, v.data(), static_cast<std::int32_t>(v.size()));
    }
    // The values under `key`; {NAN} marks a refused read.
    std::vector<double> get(const char *key) const {
        std::int32_t n = 0;
        if (vimor_fit_size(fit, key, &n) != VIMOR_OK) return {NAN};
        std::vector<double> v(n);
        if (vimor_fit_get(fit, key, v.data(), n) != VIMOR_OK) return {NAN};
        return v;
    }
};

}  // namespace fit_test

#endif
