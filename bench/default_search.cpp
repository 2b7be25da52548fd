#include "default_search.h"

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

#include "defaults.h"

namespace {

// Population moments in observation order, as the hosts compute them.
void moments(const double *x, int32_t n, double &mean, double &sd) {
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) sum = sum + x[i];
    mean = sum / n;
    double squares = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double d = x[i] - mean;
        squares = squares + d * d;
    }
    sd = std::sqrt(squares / n);
}

// The default box, start, step and settings for a problem whose data are set.
void apply_defaults(DefaultSearch &p) {
    const int32_t n = p.nobs, nfree = p.nreg - 1;
    const double *last = p.regressors.data() + static_cast<size_t>(nfree) * n;
    double mean_k = 0, sd_k = 0;
    moments(last, n, mean_k, sd_k);
    const double scale = defaults::box_scale * std::fabs(p.fixed_coef);
    for (int32_t j = 0; j < nfree; ++j) {
        const double *x = p.regressors.data() + static_cast<size_t>(j) * n;
        double mean_j = 0, sd_j = 0;
        moments(x, n, mean_j, sd_j);
        bool constant = true;
        for (int32_t i = 1; i < n; ++i) constant = constant && x[i] == x[0];
        const double half = constant ? scale * (std::fabs(mean_k) + sd_k) / std::fabs(x[0])
                                     : scale * sd_k / sd_j;
        p.lower.push_back(-half);
        p.upper.push_back(half);
        p.start.push_back(0.5 * -half + 0.5 * half);
        p.step.push_back(defaults::step_fraction * (half - -half));
        p.step_gain.push_back(defaults::step_gain);
    }
    p.quantile = defaults::quantile;
    p.maximize = defaults::maximize ? 1 : 0;
    p.temperature = defaults::temperature;
    p.cooling = defaults::cooling;
    p.tolerance = defaults::tolerance_fraction * std::fmin(p.quantile, 1.0 - p.quantile) / n;
    p.sweeps = static_cast<int32_t>(defaults::sweeps);
    p.adjustments = static_cast<int32_t>(defaults::adjustments);
    p.history_len = static_cast<int32_t>(defaults::history_len);
    p.max_evals = static_cast<int32_t>(defaults::max_evals);
    p.seed1 = static_cast<int32_t>(defaults::seed % 31329);
    p.seed2 = static_cast<int32_t>(defaults::seed2 % 30082);
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
