#include "report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

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

// The coefficient table; with `extra`, each free coefficient's interval
// (when subsampling ran) and flat range beside it.
std::string coefficient_table(const Problem &problem, const std::vector<double> &coef,
                              const Uncertainty *extra = nullptr) {
    const std::size_t w = name_width(problem);
    std::vector<std::vector<std::string>> rows(coef.size());
    std::vector<std::string> heads = {"coefficient"};
    const Inference *inf = extra ? extra->inference : nullptr;
    if (inf) heads.push_back(fmt::format("{:g}% interval", 100 * inf->settings.level));
    if (extra) heads.push_back("flat range");
    for (std::size_t j = 0; j < coef.size(); ++j) {
        rows[j].push_back(fmt::format("{}", coef[j]));
        if (inf) rows[j].push_back(fmt::format("[{}, {}]", inf->lower[j], inf->upper[j]));
        if (extra) rows[j].push_back(fmt::format("[{}, {}]", extra->flat[j].lo, extra->flat[j].hi));
    }
    std::vector<std::size_t> widths;
    for (std::size_t c = 0; c < heads.size(); ++c) {
        std::size_t cw = heads[c].size();
        for (const auto &row : rows) cw = std::max(cw, row[c].size());
        widths.push_back(cw);
    }
    auto line = [&](const std::string &name, const std::vector<std::string> &cells) {
        std::string out = fmt::format("  {:<{}}", name, w);
        for (std::size_t c = 0; c < cells.size(); ++c) {
            out += c + 1 < cells.size() ? fmt::format("  {:<{}}", cells[c], widths[c])
                                        : "  " + cells[c];
        }
        return out + "\n";
    };
    std::string out = line("regressor", heads);
    for (std::size_t j = 0; j < coef.size(); ++j) out += line(problem.names[j], rows[j]);
    out += fmt::format("  {:<{}}  {}  (normalized)\n", problem.names.back(), w, problem.fixed_coef);
    return out;
}

// A JSON number, or null for an end that is not finite.
std::string finite_or_null(double x) { return std::isfinite(x) ? fmt::format("{}", x) : "null"; }

std::string regressors_json(const Problem &problem, const std::vector<double> &coef,
                            const Uncertainty *extra = nullptr) {
    std::string out = "[";
    for (std::size_t j = 0; j < problem.names.size(); ++j) {
        const bool normalized = j == coef.size();
        std::string more;
        if (extra) {
            const Inference *inf = extra->inference;
            if (normalized) {
                more = inf ? ", \"interval\": null, \"flat\": null" : ", \"flat\": null";
            } else {
                if (inf)
                    more = fmt::format(", \"interval\": [{}, {}]", inf->lower[j], inf->upper[j]);
                more += fmt::format(", \"flat\": [{}, {}]", finite_or_null(extra->flat[j].lo),
                                    finite_or_null(extra->flat[j].hi));
            }
        }
        out += fmt::format("{}{{\"name\": {}, \"coefficient\": {}, \"normalized\": {}{}}}",
                           j ? ", " : "", quoted(problem.names[j]),
                           normalized ? problem.fixed_coef : coef[j], normalized, more);
    }
    return out + "]";
}

std::string inference_text(const Inference &inf) {
    const InferenceSettings &s = inf.settings;
    std::string out = fmt::format(
        "  {:<22} subsampling, {} {} intervals from {} subsamples of {} observations, "
        "{} restarts each; {} of {} fits reached their best value more than once; "
        "{} draws redrawn (normalized column constant); {:.2f} s\n",
        "intervals", s.symmetric ? "symmetric" : "equal-tailed",
        fmt::format("{:g}%", 100 * s.level), s.subsamples, s.size, s.restarts, inf.multiple_best,
        s.subsamples, inf.redrawn, inf.seconds);
    if (inf.limit_hit > 0) {
        out += fmt::format("  {:<22} {} subsample fits hit the evaluation limit in every restart\n",
                           "", inf.limit_hit);
    }
    return out;
}

std::string inference_json(const Inference &inf) {
    const InferenceSettings &s = inf.settings;
    return fmt::format(
        "  \"inference\": {{\"method\": \"subsampling\", \"interval\": {}, \"level\": {}, "
        "\"subsamples\": {}, \"subsample_size\": {}, \"rate\": \"n^(1/3)\", "
        "\"restarts_per_fit\": {}, \"redrawn\": {}, \"fits_best_reached_more_than_once\": {}, "
        "\"fits_at_evaluation_limit\": {}, \"wall_seconds\": {}}},\n",
        quoted(s.symmetric ? "symmetric" : "equal-tailed"), s.level, s.subsamples, s.size,
        s.restarts, inf.redrawn, inf.multiple_best, inf.limit_hit, inf.seconds);
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
                     const Evaluation &best, const Uncertainty &extra,
                     const std::string &module_path) {
    std::string out = header("fit", problem, settings.quantile);
    out += coefficient_table(problem, best.coef, &extra);
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
    out += fmt::format("  {:<22} {} in {:.2f} s ({})\n", "evaluations", fit.evals, fit.seconds,
                       module_path);
    if (extra.inference) out += inference_text(*extra.inference);
    out += "\n";
    out += "  restart  seed1  seed2  objective               status            evaluations\n";
    for (std::size_t r = 0; r < fit.restarts.size(); ++r) {
        const Restart &x = fit.restarts[r];
        out += fmt::format("  {:>7}  {:>5}  {:>5}  {:<22}  {:<16}  {:>11}\n", r + 1, x.seed1,
                           x.seed2, x.value, status_name(x.status), x.evals);
    }
    return out;
}

std::string fit_json(const Problem &problem, const Settings &settings, const Fit &fit,
                     const Evaluation &best, const Uncertainty &extra,
                     const std::string &module_path) {
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
    out += fmt::format("  \"regressors\": {},\n", regressors_json(problem, best.coef, &extra));
    if (extra.inference) out += inference_json(*extra.inference);
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
