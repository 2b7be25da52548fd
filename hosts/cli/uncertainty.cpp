#include "uncertainty.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace {

// A JSON number, or null for an end that is not finite.
std::string json_end(double x) { return std::isfinite(x) ? fmt::format("{}", x) : "null"; }

// Cells padded to a common width, the title included, so the columns line up.
TableColumn column(std::string title, std::vector<std::string> cells) {
    std::size_t w = title.size();
    for (const auto &c : cells) w = std::max(w, c.size());
    for (auto &c : cells) c.resize(w, ' ');
    title.resize(w, ' ');
    return TableColumn{title, cells};
}

}  // namespace

void add_uncertainty(FitReport &report) {
    const FitResult &fit = report.fit;
    const Settings &s = fit.settings();
    const bool intervals = s.subsamples > 0 || s.bootstrap > 0;
    const std::vector<double> flat_lo = fit.get("flat_lower"), flat_hi = fit.get("flat_upper");
    const std::vector<double> lower = intervals ? fit.get("interval_lower") : std::vector<double>();
    const std::vector<double> upper = intervals ? fit.get("interval_upper") : std::vector<double>();
    const std::size_t k = report.problem.names.size();
    std::vector<std::string> interval_cells(k), flat_cells(k);
    report.regressor_members.assign(k, JsonObject{});
    for (std::size_t j = 0; j < k; ++j) {
        JsonObject &m = report.regressor_members[j];
        if (j + 1 == k) {  // the normalized coefficient is given, not estimated
            if (intervals) m.add("interval", "null");
            m.add("flat", "null");
            continue;
        }
        if (intervals) {
            interval_cells[j] = fmt::format("[{:.7g}, {:.7g}]", lower[j], upper[j]);
            m.add("interval", fmt::format("[{}, {}]", lower[j], upper[j]));
        }
        flat_cells[j] = fmt::format("[{:.7g}, {:.7g}]", flat_lo[j], flat_hi[j]);
        m.add("flat", fmt::format("[{}, {}]", json_end(flat_lo[j]), json_end(flat_hi[j])));
    }
    if (intervals) {
        report.columns.push_back(
            column(fmt::format("{:g}% interval", 100 * s.level), interval_cells));
    }
    if (s.bootstrap > 0) {
        report.notes.push_back(fmt::format(
            "{:<22} reshaped bootstrap, {} {:g}%, {} draws, {} restarts each; curvature by {}{}; "
            "{} draws searched again in a wider box; {:.2f} s",
            "intervals", s.symmetric ? "symmetric" : "equal-tailed", 100 * s.level, s.bootstrap,
            s.bootstrap_restarts,
            s.hessian == vimor_fit::kHessianNumerical ? "second differences"
            : s.hessian == vimor_fit::kHessianCrossfit ? "kernel cross-fitted on halves, h = "
                                                       : "kernel, h = ",
            s.hessian != vimor_fit::kHessianNumerical
                ? fmt::format("{:.4g}", fit.get("bandwidth_used")[0]) : "",
            fit.count("edge_hits"), fit.get("subsample_seconds")[0]));
    }
    if (s.subsamples > 0) {
        report.notes.push_back(fmt::format(
            "{:<22} subsampling, {} {:g}%, {} subsamples of {} observations, {} restarts each; "
            "{} of {} fits reached their best value more than once; {} draws redrawn "
            "(normalized column constant); {:.2f} s",
            "intervals", s.symmetric ? "symmetric" : "equal-tailed", 100 * s.level, s.subsamples,
            s.subsample_size, s.subsample_restarts, fit.count("multiple_best"), s.subsamples,
            fit.count("redrawn"), fit.get("subsample_seconds")[0]));
        if (fit.count("limit_hit") > 0) {
            report.notes.push_back(
                fmt::format("{:<22} {} subsample fits hit the evaluation limit in every restart",
                            "", fit.count("limit_hit")));
        }
    }
    if (intervals && s.certify > 0) {
        report.notes.push_back(fmt::format(
            "{:<22} certified: {} proven optimal over their box, {} left with a bound; {} "
            "improved on their search",
            "", fit.count("certified_optimal"), fit.count("certified_bound"),
            fit.count("certified_improved")));
    }
    report.columns.push_back(column("flat range", flat_cells));
}

namespace {

// With --certify: how many subsample fits or draws were proven optimal,
// were left with a bound, and had their search's point improved.
std::string certified_json(const FitResult &fit) {
    return fmt::format("{{\"optimal\": {}, \"bound\": {}, \"improved\": {}}}",
                       fit.count("certified_optimal"), fit.count("certified_bound"),
                       fit.count("certified_improved"));
}

}  // namespace

std::string inference_json(const FitResult &fit) {
    const Settings &s = fit.settings();
    JsonObject o;
    if (s.bootstrap > 0) {
        o.add("method", "\"reshaped bootstrap\"");
        o.add("interval", s.symmetric ? "\"symmetric\"" : "\"equal-tailed\"");
        o.add("level", fmt::format("{}", s.level));
        o.add("draws", fmt::format("{}", s.bootstrap));
        o.add("restarts_per_draw", fmt::format("{}", s.bootstrap_restarts));
        o.add("hessian", fmt::format("\"{}\"", vimor_fit::hessian_name(s.hessian)));
        o.add("bandwidth_c", fmt::format("{}", s.bandwidth));
        o.add("h", s.hessian != vimor_fit::kHessianNumerical
                       ? fmt::format("{}", fit.get("bandwidth_used")[0]) : "null");
        o.add("curvature_eigenvalues", json_numbers(fit.get("curvature_eigenvalues")));
        o.add("curvature_floored", fit.count("curvature_floored") ? "true" : "false");
        o.add("curvature_fell_back", fit.count("curvature_fell_back") ? "true" : "false");
        o.add("box_half_widths", json_numbers(fit.get("draw_half_widths")));
        o.add("edge_hits", fmt::format("{}", fit.count("edge_hits")));
        o.add("draws_at_evaluation_limit", fmt::format("{}", fit.count("limit_hit")));
        if (s.certify > 0) o.add("certified", certified_json(fit));
        o.add("wall_seconds", fmt::format("{}", fit.get("subsample_seconds")[0]));
        return o.str(1);
    }
    o.add("method", "\"subsampling\"");
    o.add("interval", s.symmetric ? "\"symmetric\"" : "\"equal-tailed\"");
    o.add("level", fmt::format("{}", s.level));
    o.add("subsamples", fmt::format("{}", s.subsamples));
    o.add("subsample_size", fmt::format("{}", s.subsample_size));
    o.add("rate", "\"n^(1/3)\"");
    o.add("restarts_per_fit", fmt::format("{}", s.subsample_restarts));
    o.add("redrawn", fmt::format("{}", fit.count("redrawn")));
    o.add("fits_best_reached_more_than_once", fmt::format("{}", fit.count("multiple_best")));
    o.add("fits_at_evaluation_limit", fmt::format("{}", fit.count("limit_hit")));
    if (s.certify > 0) o.add("certified", certified_json(fit));
    o.add("wall_seconds", fmt::format("{}", fit.get("subsample_seconds")[0]));
    return o.str(1);
}
