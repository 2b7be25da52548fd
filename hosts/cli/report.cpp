#include "report.h"

#include <fmt/format.h>

#include <algorithm>

namespace {

const char *status_name(std::int32_t status) {
    return status == 0 ? "converged" : status == 1 ? "evaluation limit" : "unknown";
}

std::string quoted(const std::string &s) {
    std::string out = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += fmt::format("\\u{:04x}", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string numbers(const std::vector<double> &v) {
    return fmt::format("[{}]", fmt::join(v, ", "));
}

std::size_t name_width(const Problem &problem) {
    std::size_t w = 9;  // "regressor"
    for (const auto &name : problem.names) w = std::max(w, name.size());
    return w;
}

std::string coefficient_table(const Problem &problem, const std::vector<double> &coef) {
    const std::size_t w = name_width(problem);
    std::string out = fmt::format("  {:<{}}  coefficient\n", "regressor", w);
    for (std::size_t j = 0; j < coef.size(); ++j) {
        out += fmt::format("  {:<{}}  {}\n", problem.names[j], w, coef[j]);
    }
    out += fmt::format("  {:<{}}  {}  (normalized)\n", problem.names.back(), w, problem.fixed_coef);
    return out;
}

std::string regressors_json(const Problem &problem, const std::vector<double> &coef) {
    std::string out = "[";
    for (std::size_t j = 0; j < problem.names.size(); ++j) {
        const bool normalized = j == coef.size();
        out += fmt::format("{}{{\"name\": {}, \"coefficient\": {}, \"normalized\": {}}}",
                           j ? ", " : "", quoted(problem.names[j]),
                           normalized ? problem.fixed_coef : coef[j], normalized);
    }
    return out + "]";
}

std::string header(const char *command, const Problem &problem, double quantile) {
    return fmt::format("vimor {}: {}, {} observations, response {}, quantile {}\n\n", command,
                       problem.data, problem.nobs, problem.response_name, quantile);
}

std::string classified(const Problem &problem, std::int64_t correct) {
    return fmt::format("{:.4f} ({} of {})", static_cast<double>(correct) / problem.nobs, correct,
                       problem.nobs);
}

}  // namespace

std::string fit_text(const Problem &problem, const Settings &settings, const Fit &fit,
                     const Evaluation &best, const std::string &module_path) {
    std::string out = header("fit", problem, settings.quantile);
    out += coefficient_table(problem, best.coef);
    std::int32_t converged = 0;
    for (const auto &r : fit.restarts) converged += r.status == 0;
    out += fmt::format("\n  {:<22} {}\n",
                       settings.maximize ? "objective (maximized)" : "objective (minimized)",
                       best.objective);
    out += fmt::format("  {:<22} {}\n", "correctly classified", classified(problem, best.correct));
    out += fmt::format(
        "  {:<22} {} of {} reached the best value (restart {}); "
        "{} converged, {} hit the evaluation limit\n",
        "restarts", fit.reached, fit.restarts.size(), fit.best + 1, converged,
        fit.restarts.size() - converged);
    out += fmt::format("  {:<22} {} in {:.2f} s ({})\n\n", "evaluations", fit.evals, fit.seconds,
                       module_path);
    out += "  restart  seed1  seed2  objective               status            evaluations\n";
    for (std::size_t r = 0; r < fit.restarts.size(); ++r) {
        const Restart &x = fit.restarts[r];
        out += fmt::format("  {:>7}  {:>5}  {:>5}  {:<22}  {:<16}  {:>11}\n", r + 1, x.seed1,
                           x.seed2, x.value, status_name(x.status), x.evals);
    }
    return out;
}

std::string fit_json(const Problem &problem, const Settings &settings, const Fit &fit,
                     const Evaluation &best, const std::string &module_path) {
    std::string restarts;
    for (std::size_t r = 0; r < fit.restarts.size(); ++r) {
        const Restart &x = fit.restarts[r];
        restarts += fmt::format(
            "{}\n    {{\"seed1\": {}, \"seed2\": {}, \"objective\": {}, \"status\": {}, "
            "\"status_name\": {}, \"coefficients\": {}, \"evaluations\": {}, \"accepted\": {}, "
            "\"out_of_bounds\": {}, \"final_temperature\": {}}}",
            r ? "," : "", x.seed1, x.seed2, x.value, x.status, quoted(status_name(x.status)),
            numbers(x.best), x.evals, x.accepted, x.out_of_bounds, x.temperature);
    }
    std::string out = "{\n";
    out += fmt::format("  \"command\": \"fit\",\n  \"data\": {},\n  \"observations\": {},\n",
                       quoted(problem.data), problem.nobs);
    out += fmt::format("  \"response\": {},\n  \"quantile\": {},\n  \"maximize\": {},\n",
                       quoted(problem.response_name), settings.quantile, settings.maximize);
    out += fmt::format("  \"regressors\": {},\n", regressors_json(problem, best.coef));
    out += fmt::format("  \"objective\": {},\n", best.objective);
    out += fmt::format("  \"correctly_classified\": {{\"count\": {}, \"share\": {}}},\n",
                       best.correct, static_cast<double>(best.correct) / problem.nobs);
    out += fmt::format("  \"best_restart\": {},\n  \"reached_best\": {},\n", fit.best + 1,
                       fit.reached);
    out += fmt::format("  \"evaluations\": {},\n  \"wall_seconds\": {},\n", fit.evals, fit.seconds);
    out += fmt::format("  \"module\": {},\n", quoted(module_path));
    out += fmt::format(
        "  \"settings\": {{\"lower\": {}, \"upper\": {}, \"start\": {}, \"step\": {}, "
        "\"step_gain\": {}, \"temperature\": {}, \"cooling\": {}, \"tolerance\": {}, "
        "\"sweeps\": {}, \"adjustments\": {}, \"history_len\": {}, \"max_evals\": {}, "
        "\"restarts\": {}, \"seed\": {}, \"seed2\": {}}},\n",
        numbers(settings.lower), numbers(settings.upper), numbers(settings.start),
        numbers(settings.step), numbers(settings.step_gain), settings.temperature, settings.cooling,
        settings.tolerance, settings.sweeps, settings.adjustments, settings.history_len,
        settings.max_evals, settings.restarts, settings.seed, settings.seed2);
    out += fmt::format("  \"restarts\": [{}\n  ]\n}}\n", restarts);
    return out;
}

std::string score_text(const Problem &problem, double quantile, const Evaluation &at) {
    std::string out = header("score", problem, quantile);
    out += coefficient_table(problem, at.coef);
    out += fmt::format("\n  {:<22} {}\n", "objective", at.objective);
    out += fmt::format("  {:<22} {}\n", "correctly classified", classified(problem, at.correct));
    return out;
}

std::string score_json(const Problem &problem, double quantile, const Evaluation &at) {
    std::string out = "{\n";
    out += fmt::format("  \"command\": \"score\",\n  \"data\": {},\n  \"observations\": {},\n",
                       quoted(problem.data), problem.nobs);
    out += fmt::format("  \"response\": {},\n  \"quantile\": {},\n", quoted(problem.response_name),
                       quantile);
    out += fmt::format("  \"regressors\": {},\n", regressors_json(problem, at.coef));
    out += fmt::format("  \"objective\": {},\n", at.objective);
    out += fmt::format("  \"correctly_classified\": {{\"count\": {}, \"share\": {}}}\n}}\n",
                       at.correct, static_cast<double>(at.correct) / problem.nobs);
    return out;
}
