#include "report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "text.h"

namespace {

const char *status_name(std::int32_t status) {
    return status == 0 ? "converged" : status == 1 ? "evaluation limit" : "unknown";
}

std::string coefficient_table(const Problem &problem, const std::vector<double> &coef,
                              const std::vector<TableColumn> &extra) {
    std::vector<std::string> names;
    std::size_t w = 9;  // "regressor"
    for (const auto &name : problem.names) {
        names.push_back(printable(name));
        w = std::max(w, names.back().size());
    }
    std::string out = fmt::format("  {:<{}}  {:>13}", "regressor", w, "coefficient");
    for (const TableColumn &c : extra) out += "  " + c.title;
    out.erase(out.find_last_not_of(' ') + 1);
    out += "\n";
    for (std::size_t j = 0; j < names.size(); ++j) {
        const bool normalized = j == coef.size();
        out += fmt::format("  {:<{}}  {:>13.7g}", names[j], w,
                           normalized ? problem.fixed_coef : coef[j]);
        for (const TableColumn &c : extra) out += fmt::format("  {:<{}}", c.cells[j], c.title.size());
        // Empty cells leave no trailing blanks, so the mark follows the value.
        out.erase(out.find_last_not_of(' ') + 1);
        if (normalized) out += "  (normalized)";
        out += "\n";
    }
    return out;
}

std::string regressors_json(const Problem &problem, const std::vector<double> &coef,
                            const std::vector<JsonObject> &more = {}) {
    std::string out = "[";
    for (std::size_t j = 0; j < problem.names.size(); ++j) {
        const bool normalized = j == coef.size();
        std::string extra;
        if (j < more.size()) {
            for (const auto &m : more[j].members) {
                extra += ", " + json_string(m.first) + ": " + m.second;
            }
        }
        out += fmt::format("{}{{\"name\": {}, \"coefficient\": {}, \"normalized\": {}{}}}",
                           j ? ", " : "", json_string(problem.names[j]),
                           normalized ? problem.fixed_coef : coef[j], normalized, extra);
    }
    return out + "]";
}

std::string header(const char *command, const Problem &problem, double quantile) {
    return fmt::format("vimor {}: {}, {} observations, response {}, quantile {}\n\n", command,
                       printable(problem.data), problem.nobs, printable(problem.response_name),
                       quantile);
}

std::string accuracy_text(const Problem &problem, double correct) {
    if (!problem.weights.empty()) {
        return fmt::format("{:.4f} (weighted share correct)", correct / problem.nobs);
    }
    return fmt::format("{:.4f} ({} of {} correct)", correct / problem.nobs, correct, problem.nobs);
}

void add_fit_measures(JsonObject &o, const Problem &problem, const Evaluation &at) {
    o.add("objective", fmt::format("{}", at.objective));
    o.add("accuracy", fmt::format("{}", at.correct / problem.nobs));
    o.add("correct", fmt::format("{}", at.correct));
}

// A name's bytes in hex: JSON carries them exactly, whatever the encoding.
std::string hex_bytes(const std::string &name) {
    std::string out;
    for (const unsigned char c : name) out += fmt::format("{:02x}", c);
    return out;
}

// What predict and score need to rebuild the model on other data: the names
// as shown, each beside its exact bytes, and the formulas of the derived
// columns.
std::string model_json(const FitReport &r) {
    const ModelTerms &t = r.terms;
    JsonObject m;
    m.add("response", json_string(t.response));
    m.add("response_hex", json_string(hex_bytes(t.response)));
    std::string names = "[", hexes = "[";
    for (std::size_t j = 0; j < t.regressors.size(); ++j) {
        names += (j ? ", " : "") + json_string(t.regressors[j]);
        hexes += (j ? ", " : "") + json_string(hex_bytes(t.regressors[j]));
    }
    m.add("x", names + "]");
    m.add("x_hex", hexes + "]");
    m.add("normalize", json_string(t.normalize));
    m.add("normalize_hex", json_string(hex_bytes(t.normalize)));
    m.add("fixed_coef", fmt::format("{}", t.fixed_coef));
    m.add("intercept", t.intercept ? "true" : "false");
    if (!t.weights.empty()) {
        m.add("weights", json_string(t.weights));
        m.add("weights_hex", json_string(hex_bytes(t.weights)));
    }
    m.add("quantile", fmt::format("{}", r.fit.settings().quantile));
    m.add("maximize", r.fit.settings().maximize ? "true" : "false");
    if (!t.derived.empty()) {
        JsonObject derived;
        for (const std::string &name : t.derived) {
            derived.add(name, json_string(derivation_formula(name)));
        }
        m.add("derived", derived.str(2));
    }
    return m.str(1);
}

// The certificate's line: what it proved, at what cost.
std::string certificate_text(const FitResult &fit) {
    const bool optimal = fit.get("certificate_status")[0] == 1.0;
    const double upper = fit.get("certificate_upper_bound")[0];
    std::string line =
        optimal ? std::string("optimal: no point of the box does better")
                : fmt::format("bound: no point of the box above {:.7g} ({:g} correct), gap {:.3g}",
                              upper, fit.get("certificate_upper_correct")[0],
                              std::fabs(upper - fit.objective));
    line += fmt::format("; {} sub-boxes in {:.2f} s", fit.count("certificate_nodes"),
                        fit.get("certificate_seconds")[0]);
    if (fit.count("certificate_improved")) line += "; the search missed the maximum, this is the certificate's point";
    return fmt::format("  {:<22} {}\n", "certificate", line);
}

// "bound" when time ran out: no point of the box has a larger objective than
// upper_bound, nor classifies more than upper_correct correctly while doing
// better than the estimate.
std::string certificate_json(const FitResult &fit) {
    JsonObject c;
    c.add("status", fit.get("certificate_status")[0] == 1.0 ? "\"optimal\"" : "\"bound\"");
    c.add("upper_bound", fmt::format("{}", fit.get("certificate_upper_bound")[0]));
    c.add("upper_correct", fmt::format("{}", fit.get("certificate_upper_correct")[0]));
    c.add("nodes", fmt::format("{}", fit.count("certificate_nodes")));
    c.add("seconds", fmt::format("{}", fit.get("certificate_seconds")[0]));
    c.add("improved", fit.count("certificate_improved") ? "true" : "false");
    c.add("box", fmt::format("{{\"lower\": {}, \"upper\": {}}}", json_numbers(fit.settings().lower),
                             json_numbers(fit.settings().upper)));
    return c.str(1);
}

}  // namespace

std::string JsonObject::str(int indent) const {
    const std::string pad(2 * (indent + 1), ' ');
    std::string out = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i) {
        out += pad + json_string(members[i].first) + ": " + members[i].second;
        out += i + 1 < members.size() ? ",\n" : "\n";
    }
    return out + std::string(2 * indent, ' ') + "}";
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (const char c : printable(text)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string json_numbers(const std::vector<double> &v) {
    return fmt::format("[{}]", fmt::join(v, ", "));
}

std::string fit_text(const FitReport &r, bool verbose) {
    const Problem &problem = r.problem;
    const std::vector<Restart> &restarts = r.fit.fit->restarts();
    std::string out = header("fit", problem, r.fit.settings().quantile);
    out += coefficient_table(problem, r.fit.coef, r.columns);
    const std::size_t converged = static_cast<std::size_t>(r.fit.get("converged")[0]);
    out += fmt::format("\n  {:<22} {:.7g}\n",
                       r.fit.settings().maximize ? "objective (maximized)" : "objective (minimized)",
                       r.fit.objective);
    out += fmt::format("  {:<22} {}\n", "accuracy", accuracy_text(problem, r.fit.correct));
    out += fmt::format("  {:<22} {} of {} reached the best value; {} converged", "restarts",
                       r.fit.count("reached"), restarts.size(), converged);
    if (converged < restarts.size()) {
        out += fmt::format(", {} hit the evaluation limit", restarts.size() - converged);
    }
    out += "\n";
    if (r.fit.settings().certify > 0) out += certificate_text(r.fit);
    for (const std::string &note : r.notes) out += "  " + note + "\n";
    if (!verbose) return out;
    out += fmt::format("  {:<22} {} in {:.2f} s ({})\n", "evaluations",
                       r.fit.count("evaluations"), r.fit.get("seconds")[0],
                       printable(r.module_path));
    out += fmt::format("  {:<22} restart {}\n\n", "best", r.fit.count("best_restart") + 1);
    out += "  restart  seed1  seed2  objective               status            evaluations\n";
    for (std::size_t i = 0; i < restarts.size(); ++i) {
        const Restart &x = restarts[i];
        out += fmt::format("  {:>7}  {:>5}  {:>5}  {:<22}  {:<16}  {:>11}\n", i + 1, x.seed1,
                           x.seed2, x.value, status_name(x.status), x.evals);
    }
    return out;
}

JsonObject fit_json(const FitReport &r) {
    const Problem &problem = r.problem;
    const Settings &settings = r.fit.settings();
    const std::vector<Restart> &all = r.fit.fit->restarts();
    std::string restarts = "[";
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Restart &x = all[i];
        restarts += fmt::format(
            "{}\n    {{\"seed1\": {}, \"seed2\": {}, \"objective\": {}, \"status\": {}, "
            "\"status_name\": \"{}\", \"coefficients\": {}, \"evaluations\": {}, "
            "\"accepted\": {}, \"out_of_bounds\": {}, \"final_temperature\": {}}}",
            i ? "," : "", x.seed1, x.seed2, x.value, x.status, status_name(x.status),
            json_numbers(x.best), x.evals, x.accepted, x.out_of_bounds, x.temperature);
    }
    restarts += "\n  ]";
    JsonObject o;
    o.add("command", "\"fit\"");
    o.add("data", json_string(problem.data));
    o.add("observations", fmt::format("{}", problem.nobs));
    o.add("response", json_string(problem.response_name));
    o.add("quantile", fmt::format("{}", settings.quantile));
    o.add("maximize", settings.maximize ? "true" : "false");
    o.add("model", model_json(r));
    o.add("regressors", regressors_json(problem, r.fit.coef, r.regressor_members));
    add_fit_measures(o, problem, Evaluation{r.fit.coef, r.fit.objective, r.fit.correct});
    o.add("best_restart", fmt::format("{}", r.fit.count("best_restart") + 1));
    o.add("reached_best", fmt::format("{}", r.fit.count("reached")));
    o.add("evaluations", fmt::format("{}", r.fit.count("evaluations")));
    o.add("wall_seconds", fmt::format("{}", r.fit.get("seconds")[0]));
    if (settings.certify > 0) o.add("certificate", certificate_json(r.fit));
    o.add("module", json_string(r.module_path));
    o.add("settings",
          fmt::format("{{\"lower\": {}, \"upper\": {}, \"start\": {}, \"step\": {}, "
                      "\"step_gain\": {}, \"temperature\": {}, \"cooling\": {}, "
                      "\"tolerance\": {}, \"sweeps\": {}, \"adjustments\": {}, "
                      "\"history_len\": {}, \"max_evals\": {}, \"restarts\": {}, \"seed\": {}, "
                      "\"seed2\": {}}}",
                      json_numbers(settings.lower), json_numbers(settings.upper),
                      json_numbers(settings.start), json_numbers(settings.step),
                      json_numbers(settings.step_gain), settings.temperature, settings.cooling,
                      settings.tolerance, settings.sweeps, settings.adjustments,
                      settings.history_len, settings.max_evals, settings.restarts, settings.seed,
                      settings.seed2));
    o.add("restarts", restarts);
    return o;
}

std::string score_text(const Problem &problem, double quantile, const Evaluation &at) {
    std::string out = header("score", problem, quantile);
    out += coefficient_table(problem, at.coef, {});
    out += fmt::format("\n  {:<22} {:.7g}\n", "objective", at.objective);
    out += fmt::format("  {:<22} {}\n", "accuracy", accuracy_text(problem, at.correct));
    return out;
}

JsonObject score_json(const Problem &problem, double quantile, const Evaluation &at) {
    JsonObject o;
    o.add("command", "\"score\"");
    o.add("data", json_string(problem.data));
    o.add("observations", fmt::format("{}", problem.nobs));
    o.add("response", json_string(problem.response_name));
    o.add("quantile", fmt::format("{}", quantile));
    o.add("regressors", regressors_json(problem, at.coef));
    add_fit_measures(o, problem, at);
    return o;
}
