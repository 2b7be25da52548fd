#include "fitting.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdio>

#include "error.h"
#include "output.h"
#include "progress.h"
#include "text.h"

vimor_fit::Problem core_problem(const Problem &problem) {
    vimor_fit::Problem view;
    view.response = problem.response.empty() ? nullptr : problem.response.data();
    view.regressors = problem.regressors.data();
    view.nobs = problem.nobs;
    view.nreg = problem.nreg;
    view.fixed_coef = problem.fixed_coef;
    view.names = problem.names;
    view.weights = problem.weights.empty() ? nullptr : problem.weights.data();
    return view;
}

vimor_fit::Module core_module(const Module &module) { return {module.fcna, module.saa}; }

std::vector<double> FitResult::get(const char *key) const {
    std::vector<double> v;
    fit->value(key, v);
    return v;
}

namespace {

// One progress line per phase: restarts, then subsample fits.
struct Lines {
    std::unique_ptr<Progress> line;
    std::int32_t phase = -1;
};

void progress(void *user, std::int32_t phase, std::int32_t done, std::int32_t total) {
    Lines &lines = *static_cast<Lines *>(user);
    if (phase != lines.phase) {
        lines.line.reset();
        lines.line = std::make_unique<Progress>(total, isatty(STDERR_FILENO) == 1,
                                                phase == 0 ? "restarts" : "subsample fits");
        lines.phase = phase;
    }
    lines.line->done(done);
}

}  // namespace

void check_settings(const Problem &problem, const vimor_fit::Given &given) {
    const vimor_fit::Problem view = core_problem(problem);
    vimor_fit::check_problem(view);
    vimor_fit::resolve(given, view);
}

std::unique_ptr<FitResult> run_fit(const Module &module, const Problem &problem,
                                   const vimor_fit::Given &given) {
    auto result = std::make_unique<FitResult>();
    result->view = core_problem(problem);
    vimor_fit::check_problem(result->view);
    result->fit = std::make_unique<vimor_fit::Fit>(result->view, core_module(module));
    result->fit->given = given;
    result->fit->prepare();
    {
        Lines lines;
        result->fit->run(0, vimor_fit::Hooks{nullptr, nullptr, progress, &lines});
    }
    result->coef = result->get("coef");
    result->objective = result->get("objective")[0];
    result->correct = result->get("correct")[0];
    return result;
}

void write_estimates(const std::string &path, const Problem &problem, const FitResult &fit) {
    std::vector<std::string> names;
    for (auto name = problem.names.begin(); name + 1 != problem.names.end(); ++name) {
        names.push_back(csv_field(*name));
    }
    const std::vector<double> estimates = fit.get("subsample_estimates");
    const std::size_t nfree = problem.names.size() - 1;
    std::string text = fmt::format("{}\n", fmt::join(names, ","));
    for (std::size_t row = 0; row + nfree <= estimates.size() && nfree > 0; row += nfree) {
        text += fmt::format("{}\n", fmt::join(estimates.begin() + row,
                                              estimates.begin() + row + nfree, ","));
    }
    Output out("--subsample-estimates", path);
    out.write(text);
    out.close();
}
