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

void add_uncertainty(FitReport &report, const std::vector<FlatRange> &flat,
                     const Inference *inference) {
    const std::size_t k = report.problem.names.size();
    std::vector<std::string> interval_cells(k), flat_cells(k);
    report.regressor_members.assign(k, JsonObject{});
    for (std::size_t j = 0; j < k; ++j) {
        JsonObject &m = report.regressor_members[j];
        if (j + 1 == k) {  // the normalized coefficient is given, not estimated
            if (inference) m.add("interval", "null");
            m.add("flat", "null");
            continue;
        }
        if (inference) {
            const double lo = inference->lower[j], hi = inference->upper[j];
            interval_cells[j] = fmt::format("[{:.7g}, {:.7g}]", lo, hi);
            m.add("interval", fmt::format("[{}, {}]", lo, hi));
        }
        flat_cells[j] = fmt::format("[{:.7g}, {:.7g}]", flat[j].lo, flat[j].hi);
        m.add("flat", fmt::format("[{}, {}]", json_end(flat[j].lo), json_end(flat[j].hi)));
    }
    if (inference) {
        const InferenceSettings &s = inference->settings;
        report.columns.push_back(
            column(fmt::format("{:g}% interval", 100 * s.level), interval_cells));
        report.notes.push_back(fmt::format(
            "{:<22} subsampling, {} {:g}%, {} subsamples of {} observations, {} restarts each; "
            "{} of {} fits reached their best value more than once; {} draws redrawn "
            "(normalized column constant); {:.2f} s",
            "intervals", s.symmetric ? "symmetric" : "equal-tailed", 100 * s.level, s.subsamples,
            s.size, s.restarts, inference->multiple_best, s.subsamples, inference->redrawn,
            inference->seconds));
        if (inference->limit_hit > 0) {
            report.notes.push_back(
                fmt::format("{:<22} {} subsample fits hit the evaluation limit in every restart",
                            "", inference->limit_hit));
        }
    }
    report.columns.push_back(column("flat range", flat_cells));
}

std::string inference_json(const Inference &inf) {
    const InferenceSettings &s = inf.settings;
    JsonObject o;
    o.add("method", "\"subsampling\"");
    o.add("interval", s.symmetric ? "\"symmetric\"" : "\"equal-tailed\"");
    o.add("level", fmt::format("{}", s.level));
    o.add("subsamples", fmt::format("{}", s.subsamples));
    o.add("subsample_size", fmt::format("{}", s.size));
    o.add("rate", "\"n^(1/3)\"");
    o.add("restarts_per_fit", fmt::format("{}", s.restarts));
    o.add("redrawn", fmt::format("{}", inf.redrawn));
    o.add("fits_best_reached_more_than_once", fmt::format("{}", inf.multiple_best));
    o.add("fits_at_evaluation_limit", fmt::format("{}", inf.limit_hit));
    o.add("wall_seconds", fmt::format("{}", inf.seconds));
    return o.str(1);
}
