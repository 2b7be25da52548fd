// vimor: fit, score or predict with a binary-response quantile regression by
// maximum score from a CSV file, through the module loaded at run time.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#include "defaults.h"
#include "error.h"
#include "fit/src/error.h"
#include "fitting.h"
#include "flags.h"
#include "model.h"
#include "module.h"
#include "output.h"
#include "profile.h"
#include "progress.h"
#include "report.h"
#include "saved_model.h"
#include "table.h"
#include "text.h"
#include "uncertainty.h"

namespace defaults = vimor_fit::defaults;

namespace {

struct CommonFlags {
    std::string data, y, x, normalize, quantile, library, output, model, weights;
    bool intercept = false;
    bool json = false;
    bool verbose = false;
};

void add_data(CLI::App &app, CommonFlags &f) {
    app.add_option("data", f.data,
                   "CSV file with a header row, or - for standard input; without it, the "
                   "bundled Mroz (1987) data")
        ->type_name("FILE");
    app.add_option("--library", f.library,
                   "path of libvimor.so; default $VIMOR_LIBRARY, else found by name")
        ->type_name("PATH");
    app.add_option("--output", f.output, "write the result to FILE instead of standard output")
        ->type_name("FILE");
}

void add_model(CLI::App &app, CommonFlags &f) {
    app.add_option("--y", f.y, "response column, coded 0 and 1")->type_name("COLUMN");
    app.add_option("--x", f.x, "regressor columns, comma-separated")->type_name("COLUMNS");
    app.add_option("--normalize", f.normalize,
                   "the regressor whose coefficient is held at VALUE "
                   "(default +1) to fix the scale; handed to the module last")
        ->type_name("COLUMN[=VALUE]");
    app.add_flag("--intercept", f.intercept, "add a constant column, named (Intercept)");
    app.add_option("--weights", f.weights,
                   "weigh each observation by this column (finite, not negative); the objective "
                   "and the accuracy are then weighted")
        ->type_name("COLUMN");
    app.add_option("--quantile", f.quantile,
                   fmt::format("quantile level, in (0, 1); default {}", defaults::quantile))
        ->type_name("A");
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

// The model as the flags give it; the default model when none is given
// without a data file. On the bundled data, its derived columns are marked.
ModelTerms terms_from_flags(const CommonFlags &f) {
    const bool custom = !f.y.empty() || !f.x.empty() || !f.normalize.empty() || f.intercept;
    ModelTerms terms;
    if (f.data.empty() && !custom) {
        terms = default_model();
    } else {
        if (trimmed(f.y).empty())
            throw UsageError("--y: name the response column (needed with a data file or a model)");
        if (f.normalize.empty())
            throw UsageError(
                "--normalize: name the column that carries the scale (needed with a data file or "
                "a model)");
        terms.response = trimmed(f.y);
        if (!f.x.empty()) terms.regressors = split_list(f.x);
        terms.fixed_coef = defaults::fixed_coef;
        parse_normalize(f.normalize, terms);
        terms.intercept = f.intercept;
    }
    terms.weights = trimmed(f.weights);
    if (f.data.empty()) derive_bundled(terms);
    return terms;
}

// The data for `terms`: derived columns computed from their sources (a
// saved model names its own; models saved before they did, the bundled
// data's).
Problem load_problem(const CommonFlags &f, ModelTerms terms) {
    const bool bundled = f.data.empty();
    if (bundled && terms.derived.empty()) derive_bundled(terms);
    std::vector<Wanted> wanted = wanted_columns(terms, f.model.empty() ? "bundled data" : "--model");
    if (!f.model.empty()) {
        for (Wanted &w : wanted) w.flag = "--model";
    }
    Table table = read_csv(bundled ? bundled_data() : f.data, wanted);
    add_derived_columns(table, terms.derived);
    return build_problem(table, terms);
}

// With --model, the model comes from the file: flags that would change it
// are refused rather than silently ignored.
SavedModel saved_model(const CommonFlags &f) {
    for (const auto &[flag, given] :
         {std::pair{"--y", !f.y.empty()}, {"--x", !f.x.empty()},
          {"--normalize", !f.normalize.empty()}, {"--intercept", f.intercept},
          {"--weights", !f.weights.empty()},
          {"--quantile", !f.quantile.empty()}}) {
        if (given) throw UsageError(std::string(flag) + ": the model comes from --model; drop " + flag);
    }
    return read_saved_model(f.model);
}

// The objective and the accuracy at `coef`, as the core scores them.
Evaluation evaluate(const Module &module, const Problem &problem, double quantile,
                    const std::vector<double> &coef) {
    const vimor_fit::Problem view = core_problem(problem);
    if (coef.size() + 1 != problem.names.size()) {
        std::vector<std::string> free(problem.names.begin(), problem.names.end() - 1);
        throw UsageError(fmt::format("--coef: expected {} values, one for each of {}, got {}",
                                     free.size(), fmt::join(free, ","), coef.size()));
    }
    vimor_fit::check_problem(view);
    std::vector<double> weighted;
    vimor_fit::Problem scored = view;
    if (view.weights) vimor_fit::weigh_response(scored, quantile, weighted);
    Evaluation at{coef, vimor_fit::objective_at(core_module(module), scored, quantile, coef.data()),
                  0};
    if (std::isnan(at.objective)) {
        throw vimor_fit::ArgumentError("x", "the objective is not a number because an index "
                                            "x.b overflows; rescale the regressors");
    }
    at.correct = vimor_fit::correctly_classified(view, at.coef.data());
    return at;
}

// Before any work: no output may replace an input or another output.
void check_outputs(const CommonFlags &f, const std::string &estimates_file = {},
                   const std::string &profile_file = {}) {
    refuse_overwriting({{"the data file", f.data}, {"--model", f.model}, {"--library", f.library}},
                       {{"--output", f.output},
                        {"--subsample-estimates", estimates_file},
                        {"--profile", profile_file}});
}

void write_result(const CommonFlags &f, const std::string &text) {
    Output out("--output", f.output);
    out.write(text);
    out.close();
}

int fit(const CommonFlags &f, const SearchFlags &sf) {
    check_outputs(f, sf.estimates_file, sf.profile_file);
    if (!sf.profile_window.empty() && sf.profile_file.empty()) {
        throw UsageError("--profile-window: give --profile FILE too");
    }
    const vimor_fit::Given given = given_settings(sf, f.quantile);
    const ModelTerms terms = terms_from_flags(f);
    const Problem problem = load_problem(f, terms);
    check_settings(problem, given);  // before any work, even loading the module
    const Module module = load_module(f.library);
    const std::unique_ptr<FitResult> result = run_fit(module, problem, given);
    const bool intervals = result->settings().subsamples > 0 || result->settings().bootstrap > 0;
    if (intervals && !sf.estimates_file.empty()) write_estimates(sf.estimates_file, problem, *result);
    if (!sf.profile_file.empty()) {
        write_profiles(sf.profile_file, sf.profile_window, module, problem, *result);
    }
    FitReport report{problem, terms, *result, module.path, {}};
    add_uncertainty(report);
    std::string text;
    if (f.json) {
        JsonObject o = fit_json(report);
        if (intervals) o.add("inference", inference_json(*result));
        text = o.str() + "\n";
    } else {
        text = fit_text(report, f.verbose);
    }
    write_result(f, text);
    for (const std::string &w : result->fit->warnings()) {
        std::fprintf(stderr, "vimor: warning: %s\n", spelled(w).c_str());
    }
    return 0;
}

int score(const CommonFlags &f, const std::string &coef_text) {
    ModelTerms terms;
    double quantile = 0;
    std::vector<double> coef;
    check_outputs(f);
    if (!f.model.empty()) {
        if (!coef_text.empty()) throw UsageError("--coef: the coefficients come from --model");
        SavedModel saved = saved_model(f);
        terms = saved.terms;
        quantile = saved.quantile;
        coef = saved.coef;
    } else {
        if (coef_text.empty()) throw UsageError("--coef: give the coefficients, or a --model");
        quantile = f.quantile.empty() ? defaults::quantile : parse_real("--quantile", f.quantile);
        if (!(quantile > 0.0 && quantile < 1.0)) {
            throw UsageError("--quantile: " + quote(f.quantile) + " is outside (0, 1)");
        }
        terms = terms_from_flags(f);
    }
    const Problem problem = load_problem(f, terms);
    if (f.model.empty()) coef = parse_list("--coef", coef_text);
    const Module module = load_module(f.library);
    const Evaluation at = evaluate(module, problem, quantile, coef);
    write_result(f, f.json ? score_json(problem, quantile, at).str() + "\n"
                           : score_text(problem, quantile, at));
    return 0;
}

// Writes each row's index x·β (every digit) and predicted class 1[x·β >= 0].
int predict(const CommonFlags &f) {
    if (f.model.empty()) throw UsageError("--model: name a fit saved with --json --output");
    check_outputs(f);
    SavedModel saved = saved_model(f);
    saved.terms.response.clear();  // new data need not have it, nor weights
    saved.terms.weights.clear();
    const Problem problem = load_problem(f, saved.terms);
    const vimor_fit::Problem view = core_problem(problem);
    vimor_fit::check_problem(view);
    Output out("--output", f.output);
    std::string chunk = "index,class\n";
    for (std::int32_t i = 0; i < problem.nobs; ++i) {
        const double v = vimor_fit::observation_index(view, saved.coef.data(), i);
        if (std::isnan(v)) {
            throw UsageError(fmt::format(
                "the index of observation {} is not a number because x·β overflows; rescale "
                "the regressors",
                i + 1));
        }
        chunk += fmt::format("{},{}\n", v, v >= 0.0 ? 1 : 0);
        if (chunk.size() > (1 << 16)) {
            out.write(chunk);
            chunk.clear();
        }
    }
    out.write(chunk);
    out.close();
    return 0;
}

// Edit distance, for suggesting the flag meant.
std::size_t distance(const std::string &a, const std::string &b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The message for words a command does not take: names the first, points to
// the command's help, and suggests the nearest flag when one is close.
std::string unexpected(const CLI::App &command, const std::vector<std::string> &extras) {
    const std::string word = extras.front();
    const std::string name = command.get_parent() ? command.get_name() : "";
    const std::string help = name.empty() ? "vimor --help" : "vimor " + name + " --help";
    const std::string where = name.empty() ? "" : name + ": ";
    if (word.empty() || word[0] != '-' || word == "-") {
        return fmt::format("{}unexpected argument {} (see {})", where, quote(word), help);
    }
    const std::string flag = word.substr(0, word.find('='));
    std::string best;
    std::size_t best_distance = 3;
    for (const CLI::Option *option : command.get_options()) {
        for (const std::string &long_name : option->get_lnames()) {
            const std::size_t d = distance(flag, "--" + long_name);
            if (d < best_distance) {
                best_distance = d;
                best = "--" + long_name;
            }
        }
    }
    std::string message = fmt::format("{}unknown flag {} (see {})", where, quote(flag), help);
    if (!best.empty()) message += "; did you mean " + best + "?";
    return message;
}

// The three commands, their flags bound to `c`.
struct Commands {
    CommonFlags fit, score, predict;
    SearchFlags search;
    std::string coef;
    CLI::App *fit_cmd = nullptr, *score_cmd = nullptr, *predict_cmd = nullptr;
};

void declare(CLI::App &app, Commands &c) {
    c.fit_cmd = app.add_subcommand("fit", "estimate the coefficients");
    add_data(*c.fit_cmd, c.fit);
    add_model(*c.fit_cmd, c.fit);
    c.fit_cmd->add_flag("--json", c.fit.json,
                        "print JSON (every digit, every restart); with --output, a saved model");
    c.fit_cmd->add_flag("--verbose", c.fit.verbose,
                        "also list the evaluations, the time and every restart");
    add_search_flags(*c.fit_cmd, c.search);

    c.score_cmd = app.add_subcommand(
        "score", "evaluate the objective and the accuracy at given or saved coefficients");
    add_data(*c.score_cmd, c.score);
    add_model(*c.score_cmd, c.score);
    c.score_cmd->add_flag("--json", c.score.json, "print JSON instead of a table");
    c.score_cmd
        ->add_option("--coef", c.coef,
                     "the free coefficients, comma-separated, in the order fit prints them")
        ->type_name("LIST");
    c.score_cmd->add_option("--model", c.score.model, "a fit saved with --json --output")
        ->type_name("FILE");

    c.predict_cmd = app.add_subcommand(
        "predict", "write each row's index x·β and predicted class (CSV: index,class)");
    add_data(*c.predict_cmd, c.predict);
    c.predict_cmd->add_option("--model", c.predict.model, "a fit saved with --json --output")
        ->type_name("FILE");
    for (CLI::App *command : {&app, c.fit_cmd, c.score_cmd, c.predict_cmd}) command->allow_extras();
}

// Runs the command given; every failure becomes one line and exit status 2.
int run(const CLI::App &app, const Commands &c) {
    try {
        const CLI::App *commands[] = {c.fit_cmd, c.score_cmd, c.predict_cmd, &app};
        for (const CLI::App *command : commands) {
            if ((command == &app || *command) && !command->remaining().empty()) {
                throw UsageError(unexpected(*command, command->remaining()));
            }
        }
        if (*c.fit_cmd) return fit(c.fit, c.search);
        if (*c.score_cmd) return score(c.score, c.coef);
        return predict(c.predict);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "vimor: %s\n", e.what());
    } catch (const vimor_fit::ArgumentError &e) {
        const std::string flag = flag_for(e.argument);
        std::fprintf(stderr, "vimor: %s%s\n", flag.empty() ? "" : (flag + ": ").c_str(),
                     spelled(e.what()).c_str());
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr,
                     "vimor: out of memory: the data or the settings need more memory than the "
                     "system grants\n");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vimor: %s\n", printable(e.what(), 200).c_str());
    }
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "vimor: binary-response quantile regression by maximum score, "
        "optimised by simulated annealing"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "vimor " VIMOR_VERSION);
    Commands commands;
    declare(app, commands);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        // A word the program does not know explains the error best.
        const std::string message = app.remaining().empty()
                                        ? printable(e.what(), 200) + " (see vimor --help)"
                                        : unexpected(app, app.remaining());
        std::fprintf(stderr, "vimor: %s\n", message.c_str());
        return 2;
    }
    return run(app, commands);
}
