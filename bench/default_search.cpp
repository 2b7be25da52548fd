#include "default_search.h"

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

#include "fit/src/settings.h"

namespace {

// The default box, start, step and settings, from the estimation core.
void apply_defaults(DefaultSearch &p) {
    vimor_fit::Problem view;
    view.response = p.response.data();
    view.regressors = p.regressors.data();
    view.nobs = p.nobs;
    view.nreg = p.nreg;
    view.fixed_coef = p.fixed_coef;
    view.names.assign(p.nreg, "x");
    const vimor_fit::Settings s = vimor_fit::resolve(vimor_fit::Given(), view);
    p.lower = s.lower;
    p.upper = s.upper;
    p.start = s.start;
    p.step = s.step;
    p.step_gain = s.step_gain;
    p.quantile = s.quantile;
    p.maximize = s.maximize ? 1 : 0;
    p.temperature = s.temperature;
    p.cooling = s.cooling;
    p.tolerance = s.tolerance;
    p.sweeps = s.sweeps;
    p.adjustments = s.adjustments;
    p.history_len = s.history_len;
    p.max_evals = s.max_evals;
    p.seed1 = s.seed;  // restart 0
    p.seed2 = s.seed2;
}

}  // namespace

DefaultSearch mroz_default_model(const std::string &csv_path) {
    std::ifstream in(csv_path);
    if (!in) throw std::runtime_error("cannot read " + csv_path);
    std::string line;
    std::getline(in, line);
    std::map<std::string, size_t> column;
    {
        std::stringstream header(line);
        std::string name;
        for (size_t j = 0; std::getline(header, name, ','); ++j) column[name] = j;
    }
    std::map<std::string, std::vector<double>> data;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        std::string cell;
        std::vector<double> values;
        while (std::getline(row, cell, ',')) values.push_back(std::stod(cell));
        for (const auto &[name, j] : column) data[name].push_back(values.at(j));
    }
    auto get = [&](const char *name) -> const std::vector<double> & {
        const auto it = data.find(name);
        if (it == data.end()) throw std::runtime_error(std::string("no column ") + name);
        return it->second;
    };
    DefaultSearch p;
    p.nobs = static_cast<int32_t>(get("participation").size());
    p.response = get("participation");
    std::vector<double> income(p.nobs), experience_sq(p.nobs);
    for (int32_t i = 0; i < p.nobs; ++i) {
        income[i] = (get("fincome")[i] - get("hours")[i] * get("wage")[i]) / 1000.0;
        experience_sq[i] = get("experience")[i] * get("experience")[i];
    }
    p.regressors.assign(p.nobs, 1.0);  // (Intercept)
    for (const char *name : {"education", "experience"})
        p.regressors.insert(p.regressors.end(), get(name).begin(), get(name).end());
    p.regressors.insert(p.regressors.end(), experience_sq.begin(), experience_sq.end());
    for (const char *name : {"age", "youngkids", "oldkids"})
        p.regressors.insert(p.regressors.end(), get(name).begin(), get(name).end());
    p.regressors.insert(p.regressors.end(), income.begin(), income.end());
    p.nreg = 8;
    p.fixed_coef = -1.0;
    apply_defaults(p);
    return p;
}

DefaultSearch simulated_problem(int32_t nobs, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform(1e-12, 1.0 - 1e-12);
    const double beta[6] = {0.5, 1.0, -1.0, 0.5, -0.25, 1.0};
    DefaultSearch p;
    p.nobs = nobs;
    p.nreg = 6;
    p.regressors.assign(static_cast<size_t>(nobs) * 6, 1.0);
    for (int32_t i = 0; i < nobs; ++i) {
        double index = beta[0];
        for (int32_t j = 1; j < 6; ++j) {
            const double x = normal(rng);
            p.regressors[static_cast<size_t>(j) * nobs + i] = x;
            index += beta[j] * x;
        }
        const double u = uniform(rng);
        p.response.push_back(index + std::log(u / (1.0 - u)) >= 0.0 ? 1.0 : 0.0);
    }
    apply_defaults(p);
    return p;
}
