// vimor: fit or score a binary-response quantile regression by maximum score
// from a CSV file, through the module loaded at run time.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "defaults.h"
#include "error.h"
#include "flat.h"
#include "inference.h"
#include "model.h"
#include "module.h"
#include "report.h"
#include "search.h"
#include "table.h"

namespace {

struct CommonFlags {
    std::string data, y, x, normalize, quantile, library;
    bool intercept = false;
    bool json = false;
};

void add_common(CLI::App &app, CommonFlags &f) {
    app.add_option("data", f.data,
                   "CSV file with a header row; without it, the bundled Mroz (1987) data and "
                   "the default model")
        ->type_name("FILE");
    app.add_option("--y", f.y, "response column, coded 0 and 1")->type_name("COLUMN");
    app.add_option("--x", f.x, "regressor columns, comma-separated")->type_name("COLUMNS");
    app.add_option("--normalize", f.normalize,
                   "the regressor whose coefficient is held at VALUE "
                   "(default +1) to fix the scale; handed to the module last")
        ->type_name("COLUMN[=VALUE]");
    app.add_flag("--intercept", f.intercept, "add a constant column, named (intercept)");
    app.add_option("--quantile", f.quantile,
                   fmt::format("quantile level, in (0, 1); default {}", defaults::quantile))
        ->type_name("A");
    app.add_option("--library", f.library,
                   "path of libvimor.so; default $VIMOR_LIBRARY, else found by name")
        ->type_name("PATH");
    app.add_flag("--json", f.json, "print JSON instead of a table");
}

// The bundled data: beside an installed binary, else in the source tree.
std::string bundled_data() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto installed = exe.parent_path() / "../share/vimor/mroz_psid1976.csv";
        if (std::filesystem::exists(installed, ec)) return installed.lexically_normal().string();
    }
    return VIMOR_SOURCE_DATA;
}

std::vector<std::string> split_names(const std::string &text) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        names.push_back(text.substr(pos, comma - pos));
        if (comma == std::string::npos) return names;
        pos = comma + 1;
    }
}

Problem load_problem(const CommonFlags &f) {
    ModelTerms terms;
    Table table;
    const bool custom = !f.y.empty() || !f.x.empty() || !f.normalize.empty() || f.intercept;
    if (f.data.empty()) {
        table = read_csv(bundled_data());
        add_derived_columns(table);
        if (!custom) return build_problem(table, default_model());
    } else {
        table = read_csv(f.data);
    }
    if (f.y.empty())
        throw UsageError("--y: name the response column (needed with a data file or a model)");
    if (f.normalize.empty())
        throw UsageError(
            "--normalize: name the column that carries the scale (needed with a data file or a "
            "model)");
    terms.response = f.y;
    if (!f.x.empty()) terms.regressors = split_names(f.x);
    terms.fixed_coef = defaults::fixed_coef;
    parse_normalize(f.normalize, terms);
    terms.intercept = f.intercept;
    return build_problem(table, terms);
}

Evaluation evaluate(const Module &module, const Problem &problem, double quantile,
                    const std::vector<double> &coef) {
    Evaluation at;
    at.coef = coef;
    module.fcna(problem.response.data(), problem.regressors.data(), &problem.nobs, &problem.nreg,
                at.coef.data(), &at.objective, &quantile, &problem.fixed_coef);
    at.correct = correctly_classified(problem, at.coef);
    return at;
}

int fit(const CommonFlags &f, const SearchFlags &sf, const InferenceFlags &inf) {
    const double quantile = parse_quantile(f.quantile);
    const Problem problem = load_problem(f);
    const Settings settings = resolve_settings(sf, quantile, problem);
    const InferenceSettings inference =
        resolve_inference(inf, settings, !sf.threads.empty(), problem);
    const Module module = load_module(f.library);

    // Progress goes to a terminal only, and only once the run has taken a
    // while; pipes and files get the result alone.
    const bool tty = isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    bool shown = false;
    const auto progress = [&](int done) {
        if (!tty) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (elapsed < 0.5 && done < settings.restarts) return;
        if (!shown && done == settings.restarts) return;
        std::fprintf(stderr, "\rvimor: %d of %d restarts done, %.1f s", done, settings.restarts,
                     elapsed);
        if (done == settings.restarts) std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown = true;
    };
    const Fit result = run_fit(module, problem, settings, progress);
    const Evaluation best = evaluate(module, problem, quantile, result.restarts[result.best].best);
    Uncertainty extra;
    extra.flat = flat_ranges(module, problem, quantile, best.coef, best.objective);
    Inference intervals;
    if (inference.subsamples > 0) {
        const auto subsample_progress = [&](int done) {
            if (!tty) return;
            std::fprintf(stderr, "\rvimor: %d of %d subsample fits done", done,
                         inference.subsamples);
            if (done == inference.subsamples) std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        };
        intervals =
            run_inference(module, problem, settings, inference, best.coef, subsample_progress);
        extra.inference = &intervals;
        if (!inf.estimates_file.empty()) write_estimates(inf.estimates_file, problem, intervals);
    }
    const std::string out = f.json ? fit_json(problem, settings, result, best, extra, module.path)
                                   : fit_text(problem, settings, result, best, extra, module.path);
    std::fputs(out.c_str(), stdout);
    return 0;
}

int score(const CommonFlags &f, const std::string &coef_text) {
    const double quantile = parse_quantile(f.quantile);
    const Problem problem = load_problem(f);
    const std::vector<std::string> free_names(problem.names.begin(), problem.names.end() - 1);
    const std::vector<double> coef = parse_list("--coef", coef_text, free_names, false);
    const Module module = load_module(f.library);
    const Evaluation at = evaluate(module, problem, quantile, coef);
    const std::string out =
        f.json ? score_json(problem, quantile, at) : score_text(problem, quantile, at);
    std::fputs(out.c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "vimor: binary-response quantile regression by maximum score, "
        "optimised by simulated annealing"};
    app.require_subcommand(1);

    CommonFlags fit_flags, score_flags;
    SearchFlags sf;
    CLI::App *fit_cmd = app.add_subcommand("fit", "estimate the coefficients");
    add_common(*fit_cmd, fit_flags);
    fit_cmd
        ->add_option(
            "--lower", sf.lower,
            "lower bounds of the free coefficients, comma-separated; default from the data")
        ->type_name("LIST");
    fit_cmd->add_option("--upper", sf.upper, "upper bounds; default from the data")
        ->type_name("LIST");
    fit_cmd
        ->add_option("--box-scale", sf.box_scale,
                     fmt::format("width of the default box, in standard deviations of the "
                                 "normalized term; default {}",
                                 defaults::box_scale))
        ->type_name("NUM");
    fit_cmd->add_option("--start", sf.start, "start point; default the centre of the box")
        ->type_name("LIST");
    fit_cmd
        ->add_option("--step", sf.step,
                     fmt::format("start step sizes (one value, or one per coefficient); "
                                 "default {} of the box width",
                                 defaults::step_fraction))
        ->type_name("LIST");
    fit_cmd
        ->add_option("--step-gain", sf.step_gain,
                     fmt::format("gain of the step adaptation; default {}", defaults::step_gain))
        ->type_name("LIST");
    fit_cmd
        ->add_option("--temperature", sf.temperature,
                     fmt::format("start temperature, > 0; default {}", defaults::temperature))
        ->type_name("NUM");
    fit_cmd
        ->add_option(
            "--cooling", sf.cooling,
            fmt::format("temperature factor per stage, in (0, 1]; default {}", defaults::cooling))
        ->type_name("NUM");
    fit_cmd
        ->add_option("--tolerance", sf.tolerance,
                     fmt::format("convergence tolerance; default {} min(a, 1-a) / N, below the "
                                 "smallest change of the objective",
                                 defaults::tolerance_fraction))
        ->type_name("NUM");
    fit_cmd
        ->add_option("--sweeps", sf.sweeps,
                     fmt::format("sweeps per step adjustment; default {}", defaults::sweeps))
        ->type_name("N");
    fit_cmd
        ->add_option("--adjustments", sf.adjustments,
                     fmt::format("step adjustments per temperature stage; default {}",
                                 defaults::adjustments))
        ->type_name("N");
    fit_cmd
        ->add_option("--history", sf.history,
                     fmt::format("stage-end values the convergence test compares; default {}",
                                 defaults::history_len))
        ->type_name("N");
    fit_cmd
        ->add_option("--max-evals", sf.max_evals,
                     fmt::format("evaluation limit per restart; default {}", defaults::max_evals))
        ->type_name("N");
    fit_cmd
        ->add_option("--restarts", sf.restarts,
                     fmt::format("searches from different seeds; the best is reported; default {}",
                                 defaults::restarts))
        ->type_name("N");
    fit_cmd
        ->add_option("--seed", sf.seed,
                     fmt::format("first seed, 0..31328; restart r uses seed + r; default {}",
                                 defaults::seed))
        ->type_name("N");
    fit_cmd
        ->add_option("--seed2", sf.seed2,
                     fmt::format("second seed, 0..30081; default {}", defaults::seed2))
        ->type_name("N");
    fit_cmd
        ->add_option("--threads", sf.threads,
                     "threads for the restarts (results do not depend on it); default: cores")
        ->type_name("N");
    fit_cmd->add_flag("--minimize", sf.minimize, "minimize the objective instead");
    InferenceFlags inf;
    fit_cmd
        ->add_option("--subsamples", inf.subsamples,
                     "subsamples for confidence intervals by subsampling; default 0: none")
        ->type_name("B");
    fit_cmd
        ->add_option("--subsample-size", inf.subsample_size,
                     fmt::format("observations per subsample, {}..N-1; default floor(N^(2/3))",
                                 kMinSubsampleSize))
        ->type_name("b");
    fit_cmd
        ->add_option("--subsample-restarts", inf.subsample_restarts,
                     "restarts of each subsample fit; default as --restarts")
        ->type_name("N");
    fit_cmd->add_option("--level", inf.level, "confidence level, in (0, 1); default 0.95")
        ->type_name("L");
    fit_cmd->add_option("--interval", inf.interval, "symmetric (default) or equal-tailed")
        ->type_name("KIND");
    fit_cmd
        ->add_option("--subsample-estimates", inf.estimates_file,
                     "write each subsample fit's coefficients to FILE as CSV")
        ->type_name("FILE");

    std::string coef;
    CLI::App *score_cmd =
        app.add_subcommand("score", "evaluate the objective at given coefficients");
    add_common(*score_cmd, score_flags);
    score_cmd
        ->add_option("--coef", coef,
                     "the free coefficients, comma-separated, in the order fit prints them")
        ->type_name("LIST")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "vimor: %s (see vimor --help)\n", e.what());
        return 2;
    }
    try {
        if (*fit_cmd) return fit(fit_flags, sf, inf);
        return score(score_flags, coef);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "vimor: %s\n", e.what());
        return 2;
    }
}
