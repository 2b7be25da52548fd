#include "restarts.h"

#include <cmath>

namespace vimor_fit {

Restart run_restart(const Module &module, const Problem &p, const Settings &s,
                    std::int32_t restarts_seed2, std::int32_t r) {
    const std::int32_t nfree = p.nfree();
    Restart out;
    out.seed1 = static_cast<std::int32_t>((std::int64_t(s.seed) + r) % kSeed1Streams);
    out.seed2 = restarts_seed2 % kSeed2Streams;
    out.best.assign(nfree, 0.0);
    out.step = s.step;
    std::vector<double> coef = s.start, trial(nfree), history(s.history_len);
    std::vector<std::int32_t> accept_counts(nfree);
    const std::int32_t maximize = s.maximize ? 1 : 0;
    double temperature = s.temperature;
    std::int32_t limit_hit = 0;
    module.search(p.module_y(), p.regressors, &p.nobs, &p.nreg, coef.data(), &s.quantile, &maximize,
                  &s.cooling, &s.tolerance, &s.sweeps, &s.adjustments, &s.history_len,
                  &s.max_evals, s.lower.data(), s.upper.data(), s.step_gain.data(), &out.seed1,
                  &out.seed2, &temperature, out.step.data(), out.best.data(), &out.value,
                  &out.accepted, &out.evals, &out.out_of_bounds, &out.status, history.data(),
                  trial.data(), accept_counts.data(), &limit_hit, &p.fixed_coef);
    out.temperature = temperature;
    return out;
}

std::vector<double> to_record(const Restart &r) {
    std::vector<double> v = {double(r.seed1),  double(r.seed2),    r.value,
                             r.temperature,    double(r.status),   double(r.evals),
                             double(r.accepted), double(r.out_of_bounds)};
    v.insert(v.end(), r.best.begin(), r.best.end());
    v.insert(v.end(), r.step.begin(), r.step.end());
    return v;
}

Restart from_record(const double *v, std::int32_t nfree) {
    Restart r;
    r.seed1 = static_cast<std::int32_t>(v[0]);
    r.seed2 = static_cast<std::int32_t>(v[1]);
    r.value = v[2];
    r.temperature = v[3];
    r.status = static_cast<std::int32_t>(v[4]);
    r.evals = static_cast<std::int32_t>(v[5]);
    r.accepted = static_cast<std::int32_t>(v[6]);
    r.out_of_bounds = static_cast<std::int32_t>(v[7]);
    r.best.assign(v + 8, v + 8 + nfree);
    r.step.assign(v + 8 + nfree, v + 8 + 2 * nfree);
    return r;
}

Choice choose(const std::vector<Restart> &restarts, bool maximize, double tolerance) {
    Choice c;
    for (std::size_t r = 1; r < restarts.size(); ++r) {
        const double v = restarts[r].value, b = restarts[c.best].value;
        if (maximize ? v > b : v < b) c.best = r;
    }
    const double best = restarts[c.best].value;
    for (const Restart &r : restarts) c.reached += std::fabs(r.value - best) <= tolerance;
    return c;
}

double objective_at(const Module &module, const Problem &p, double quantile, const double *coef) {
    double value = 0;
    module.objective(p.module_y(), p.regressors, &p.nobs, &p.nreg, coef, &value, &quantile,
                     &p.fixed_coef);
    return value;
}

}  // namespace vimor_fit
