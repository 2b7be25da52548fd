#include "flags.h"

#include <fmt/format.h>

#include <cstdlib>

#include "defaults.h"
#include "error.h"
#include "table.h"
#include "text.h"

namespace defaults = vimor_fit::defaults;

double parse_real(const std::string &flag, const std::string &raw) {
    const std::string text = trimmed(raw);
    double value = 0;
    const char *why = nullptr;
    if (!parse_number(text.data(), text.data() + text.size(), value, why)) {
        throw UsageError(flag + ": " + quote(text) + " " + why);
    }
    return value;
}

std::vector<double> parse_list(const std::string &flag, const std::string &text) {
    std::vector<double> values;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        values.push_back(parse_real(flag, text.substr(pos, comma - pos)));  // trims
        if (comma == std::string::npos) return values;
        pos = comma + 1;
    }
}

namespace {

// Decimal digits only (strtoll's base 0 would read 010 as eight); the range
// is the core's to check.
double parse_whole(const std::string &flag, const std::string &text) {
    std::size_t digits = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool ok = digits < text.size() && text.size() - digits <= 18;
    for (std::size_t i = digits; ok && i < text.size(); ++i) ok = text[i] >= '0' && text[i] <= '9';
    if (!ok) throw UsageError(flag + ": " + quote(text) + " is not a whole number");
    return static_cast<double>(std::strtoll(text.c_str(), nullptr, 10));
}

// Each flag and the core's key for it: a number, a list, or a whole number.
enum class Kind { real, list, whole };
struct Flag {
    const char *flag, *key;
    Kind kind;
    std::string SearchFlags::*text;
};
const Flag kFlags[] = {
    {"--lower", "lower", Kind::list, &SearchFlags::lower},
    {"--upper", "upper", Kind::list, &SearchFlags::upper},
    {"--start", "start", Kind::list, &SearchFlags::start},
    {"--step", "step", Kind::list, &SearchFlags::step},
    {"--step-gain", "step_gain", Kind::list, &SearchFlags::step_gain},
    {"--box-scale", "box_scale", Kind::real, &SearchFlags::box_scale},
    {"--temperature", "temperature", Kind::real, &SearchFlags::temperature},
    {"--cooling", "cooling", Kind::real, &SearchFlags::cooling},
    {"--tolerance", "tolerance", Kind::real, &SearchFlags::tolerance},
    {"--sweeps", "sweeps", Kind::whole, &SearchFlags::sweeps},
    {"--adjustments", "adjustments", Kind::whole, &SearchFlags::adjustments},
    {"--history", "history_len", Kind::whole, &SearchFlags::history},
    {"--max-evals", "max_evals", Kind::whole, &SearchFlags::max_evals},
    {"--restarts", "restarts", Kind::whole, &SearchFlags::restarts},
    {"--seed", "seed", Kind::whole, &SearchFlags::seed},
    {"--seed2", "seed2", Kind::whole, &SearchFlags::seed2},
    {"--threads", "threads", Kind::whole, &SearchFlags::threads},
    {"--certify", "certify", Kind::real, &SearchFlags::certify},
    {"--subsamples", "subsamples", Kind::whole, &SearchFlags::subsamples},
    {"--subsample-size", "subsample_size", Kind::whole, &SearchFlags::subsample_size},
    {"--subsample-restarts", "subsample_restarts", Kind::whole, &SearchFlags::subsample_restarts},
    {"--level", "level", Kind::real, &SearchFlags::level},
    {"--bootstrap", "bootstrap", Kind::whole, &SearchFlags::bootstrap},
    {"--bootstrap-restarts", "bootstrap_restarts", Kind::whole, &SearchFlags::bootstrap_restarts},
    {"--bandwidth", "bandwidth", Kind::real, &SearchFlags::bandwidth},
};

}  // namespace

vimor_fit::Given given_settings(const SearchFlags &f, const std::string &quantile) {
    vimor_fit::Given given;
    if (!quantile.empty()) given.set("quantile", {parse_real("--quantile", quantile)});
    for (const Flag &flag : kFlags) {
        const std::string &text = f.*flag.text;
        if (text.empty()) continue;
        given.set(flag.key, flag.kind == Kind::list    ? parse_list(flag.flag, text)
                            : flag.kind == Kind::whole ? std::vector{parse_whole(flag.flag, text)}
                                                       : std::vector{parse_real(flag.flag, text)});
    }
    // A zero thread count is the core's "one per core", not a flag value.
    if (!f.threads.empty() && given["threads"][0] == 0.0) {
        throw UsageError("--threads: 0 is outside 1..256");
    }
    if (f.minimize) given.set("maximize", {0.0});
    if (!f.interval.empty()) given.set_text("interval", f.interval);
    if (!f.hessian.empty()) given.set_text("hessian", f.hessian);
    return given;
}

std::string flag_for(const std::string &argument) {
    if (argument.empty()) return "";
    if (argument == "fixed_coef") return "--normalize";
    if (argument == "names") return "--x";
    if (argument == "window") return "--profile-window";
    for (const Flag &flag : kFlags) {
        if (argument == flag.key) return flag.flag;
    }
    std::string flag = "--" + argument;
    for (char &c : flag) c = c == '_' ? '-' : c;
    return flag;
}

std::string spelled(const std::string &message) {
    std::string out;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const std::size_t close = message.find('}', i);
        if (message[i] == '{' && close != std::string::npos) {
            out += flag_for(message.substr(i + 1, close - i - 1));
            i = close;
        } else {
            out += message[i];
        }
    }
    return out;
}

void add_search_flags(CLI::App &fit, SearchFlags &sf) {
    const auto option = [&](const char *name, std::string &into, const std::string &help,
                            const char *type) {
        fit.add_option(name, into, help)->type_name(type);
    };
    option("--lower", sf.lower,
           "lower bounds of the free coefficients, comma-separated; default from the data", "LIST");
    option("--upper", sf.upper, "upper bounds; default from the data", "LIST");
    option("--box-scale", sf.box_scale,
           fmt::format("width of the default box, in standard deviations of the normalized "
                       "term; default {}",
                       defaults::box_scale),
           "NUM");
    option("--start", sf.start, "start point; default the centre of the box", "LIST");
    option("--step", sf.step,
           fmt::format("start step sizes (one value, or one per coefficient); default {} of the "
                       "box width",
                       defaults::step_fraction),
           "LIST");
    option("--step-gain", sf.step_gain,
           fmt::format("gain of the step adaptation; default {}", defaults::step_gain), "LIST");
    option("--temperature", sf.temperature,
           fmt::format("start temperature, > 0; default {}", defaults::temperature), "NUM");
    option("--cooling", sf.cooling,
           fmt::format("temperature factor per stage, in (0, 1]; default {}", defaults::cooling),
           "NUM");
    option("--tolerance", sf.tolerance,
           fmt::format("convergence tolerance; default {} min(a, 1-a) / N, below the smallest "
                       "change of the objective",
                       defaults::tolerance_fraction),
           "NUM");
    option("--sweeps", sf.sweeps,
           fmt::format("sweeps per step adjustment; default {}", defaults::sweeps), "N");
    option("--adjustments", sf.adjustments,
           fmt::format("step adjustments per temperature stage; default {}", defaults::adjustments),
           "N");
    option("--history", sf.history,
           fmt::format("stage-end values the convergence test compares; default {}",
                       defaults::history_len),
           "N");
    option("--max-evals", sf.max_evals,
           fmt::format("evaluation limit per restart; default {}", defaults::max_evals), "N");
    option("--restarts", sf.restarts,
           fmt::format("searches from different seeds; the best is reported; default {}",
                       defaults::restarts),
           "N");
    option("--seed", sf.seed,
           fmt::format("first seed, 0..31328; restart r uses seed + r; default {}", defaults::seed),
           "N");
    option("--seed2", sf.seed2, fmt::format("second seed, 0..30081; default {}", defaults::seed2),
           "N");
    option("--threads", sf.threads,
           "threads for the restarts (results do not depend on it); default: cores", "N");
    fit.add_flag("--minimize", sf.minimize, "minimize the objective instead");
    fit.add_option("--certify", sf.certify,
                   "prove the estimate the maximum over the box by branch and bound, or bound "
                   "how far off it is, within SECONDS (10 when given alone); a better point "
                   "found becomes the estimate")
        ->type_name("[SECONDS]")
        ->expected(0, 1)
        ->default_str("10");
    option("--subsamples", sf.subsamples,
           "subsamples for confidence intervals by subsampling; default 0: none", "B");
    option("--subsample-size", sf.subsample_size,
           fmt::format("observations per subsample, {}..N-1; default floor(N^(2/3))",
                       vimor_fit::kMinSubsampleSize),
           "b");
    option("--subsample-restarts", sf.subsample_restarts,
           "restarts of each subsample fit; default as --restarts", "N");
    option("--bootstrap", sf.bootstrap,
           "draws of the reshaped bootstrap for confidence intervals (instead of "
           "--subsamples); default 0: none",
           "B");
    option("--bootstrap-restarts", sf.bootstrap_restarts,
           fmt::format("restarts of each bootstrap draw's search; default {}",
                       vimor_fit::kBootstrapRestarts),
           "N");
    option("--bandwidth", sf.bandwidth,
           "c of the kernel bandwidth h = c sd(x.b) N^(-1/7) of the bootstrap's curvature; "
           "default 0.5",
           "C");
    option("--hessian", sf.hessian,
           "the bootstrap's curvature: crossfit (default: the kernel estimate of each half of the "
           "rows at the other half's estimate), kernel (at the estimate) or numerical (second "
           "differences)",
           "KIND");
    option("--level", sf.level, "confidence level, in (0, 1); default 0.95", "L");
    option("--interval", sf.interval, "symmetric (default) or equal-tailed", "KIND");
    option("--subsample-estimates", sf.estimates_file,
           "write each subsample fit's coefficients to FILE as CSV", "FILE");
    option("--profile", sf.profile_file,
           "write the objective along each free coefficient, the others at the estimate, to "
           "FILE as CSV: coefficient,left,right,objective,correct, one row per step",
           "FILE");
    option("--profile-window", sf.profile_window,
           "the ranges the profiles cover, one LO:HI per free coefficient (empty: the box)",
           "LIST");
}
