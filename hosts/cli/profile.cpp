#include "profile.h"

#include <fmt/format.h>

#include "error.h"
#include "fit/src/profile.h"
#include "flags.h"
#include "output.h"
#include "text.h"

namespace {

// "LO:HI,,LO:HI": one window per free coefficient, the box where empty.
void read_windows(const std::string &text, const Problem &problem, std::vector<double> &lower,
                  std::vector<double> &upper) {
    if (text.empty()) return;
    const std::vector<std::string> parts = split_list(text);
    if (parts.size() != lower.size()) {
        throw UsageError(fmt::format("--profile-window: expected {} windows LO:HI (one per free "
                                     "coefficient, empty for the box), got {}",
                                     lower.size(), parts.size()));
    }
    for (std::size_t j = 0; j < parts.size(); ++j) {
        if (parts[j].empty()) continue;
        const std::size_t colon = parts[j].find(':');
        if (colon == std::string::npos) {
            throw UsageError("--profile-window: " + quote(parts[j]) + " for " +
                             quote(problem.names[j]) + " is not LO:HI");
        }
        lower[j] = parse_real("--profile-window", parts[j].substr(0, colon));
        upper[j] = parse_real("--profile-window", parts[j].substr(colon + 1));
    }
}

}  // namespace

void write_profiles(const std::string &path, const std::string &windows, const Module &module,
                    const Problem &problem, const FitResult &fit) {
    std::vector<double> lower = fit.settings().lower, upper = fit.settings().upper;
    read_windows(windows, problem, lower, upper);
    const double quantile = fit.settings().quantile;
    vimor_fit::Problem scored = fit.view;
    std::vector<double> weighted;
    if (scored.weights) vimor_fit::weigh_response(scored, quantile, weighted);
    std::string text = "coefficient,left,right,objective,correct\n";
    for (std::size_t j = 0; j < lower.size(); ++j) {
        const std::string name = csv_field(problem.names[j]);
        for (const vimor_fit::ProfileStep &s :
             vimor_fit::profile(core_module(module), scored, quantile, fit.coef.data(),
                                static_cast<std::int32_t>(j), lower[j], upper[j])) {
            text += fmt::format("{},{},{},{},{}\n", name, s.left, s.right, s.objective, s.correct);
        }
    }
    Output out("--profile", path);
    out.write(text);
    out.close();
}
