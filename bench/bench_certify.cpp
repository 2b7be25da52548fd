// Time to proof: the certificate's branch and bound on models of the bundled
// Mroz data, each over the fit's default box from the best of a few restarts
// of the search (the core's default settings otherwise). One run per model;
// the proof is deterministic, so the time varies only with the machine.
//
//   vimor_bench_certify [budget seconds (default 60)] [restarts (default 20)]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit/src/certify.h"
#include "fit/src/restarts.h"
#include "fit/src/settings.h"
#include "vimor.h"

namespace {

using Columns = std::map<std::string, std::vector<double>>;

Columns read_csv(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::string line, cell;
    std::getline(in, line);
    std::vector<std::string> names;
    for (std::stringstream header(line); std::getline(header, cell, ',');) names.push_back(cell);
    Columns data;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        for (std::size_t j = 0; std::getline(row, cell, ','); ++j) data[names.at(j)].push_back(std::stod(cell));
    }
    return data;
}

struct Model {
    const char *label;
    std::vector<std::string> columns;  // the last normalized; "1" the intercept
    double fixed_coef;
};

}  // namespace

int main(int argc, char **argv) {
    const double budget = argc > 1 ? std::atof(argv[1]) : 60.0;
    const int restarts = argc > 2 ? std::atoi(argv[2]) : 20;
    Columns data = read_csv(VIMOR_MROZ_CSV);
    const std::size_t n = data["participation"].size();
    data["1"].assign(n, 1.0);
    data["nonwife_income"].resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        data["nonwife_income"][i] = (data["fincome"][i] - data["hours"][i] * data["wage"][i]) / 1000.0;
    }
    const std::vector<Model> models = {
        {"K=4 age youngkids | education", {"1", "age", "youngkids", "education"}, 1.0},
        {"K=4 age education | nonwife_income", {"1", "age", "education", "nonwife_income"}, -1.0},
        {"K=4 youngkids experience | nonwife_income",
         {"1", "youngkids", "experience", "nonwife_income"}, -1.0},
        {"K=4 education experience | age", {"1", "education", "experience", "age"}, -1.0},
        {"K=5 age youngkids experience | education",
         {"1", "age", "youngkids", "experience", "education"}, 1.0},
    };
    const vimor_fit::Module module{_fcna_, _saa_};
    std::printf("%-44s %5s %9s %9s %7s %10s %9s %9s\n", "model (| normalized)", "N",
                "search", "certified", "status", "nodes", "seconds", "improved");
    for (const Model &m : models) {
        std::vector<double> x;
        for (const std::string &c : m.columns) x.insert(x.end(), data.at(c).begin(), data.at(c).end());
        vimor_fit::Problem p;
        p.response = data["participation"].data();
        p.regressors = x.data();
        p.nobs = static_cast<std::int32_t>(n);
        p.nreg = static_cast<std::int32_t>(m.columns.size());
        p.fixed_coef = m.fixed_coef;
        p.names = m.columns;
        vimor_fit::Given given;
        given.set("restarts", {double(restarts)});
        const vimor_fit::Settings s = vimor_fit::resolve(given, p);
        std::vector<vimor_fit::Restart> runs;
        for (int r = 0; r < restarts; ++r) runs.push_back(vimor_fit::run_restart(module, p, s, s.seed2, r));
        const vimor_fit::Choice best = vimor_fit::choose(runs, true, s.tolerance);
        const std::vector<double> &estimate = runs[best.best].best;
        const double found = vimor_fit::objective_at(module, p, s.quantile, estimate.data());
        vimor_fit::CertifyOptions o;
        o.seconds = budget;
        const vimor_fit::Certificate c = vimor_fit::certify(
            module, p, s.quantile, s.lower.data(), s.upper.data(), estimate.data(), o);
        std::printf("%-44s %5zu %9.6f %9.6f %7s %10lld %9.3f %9s\n", m.label, n, found,
                    c.optimal ? c.value : c.upper_bound, c.optimal ? "optimal" : "bound",
                    static_cast<long long>(c.nodes), c.seconds, c.improved ? "yes" : "no");
        std::fflush(stdout);
    }
    return 0;
}
