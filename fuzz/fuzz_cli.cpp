// Fuzzes the command-line host's own handling of what a user types: the CSV
// reader, the model built from named columns, and the parsing and checking
// of every flag value. Any input must either be refused with a UsageError
// (the one-line message main() prints) or give a problem and settings the
// module can take; any other exception, crash or inconsistency is a fault.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "error.h"
#include "memory_file.h"
#include "fit/src/error.h"
#include "fitting.h"
#include "flags.h"
#include "model.h"
#include "table.h"

namespace {

// The CSV text goes to a file in memory, so the reader opens a real path.
const vimor_fuzz::MemoryFile &csv_file() {
    static const vimor_fuzz::MemoryFile file("fuzz.csv");
    return file;
}
const std::string &csv_path() { return csv_file().path(); }
void write_csv(const std::string &text) { csv_file().write(text.data(), text.size()); }

// A column name: mostly one of the header's, so that models get built.
std::string pick_name(FuzzedDataProvider &in, const Table &table) {
    const std::size_t k = in.ConsumeIntegralInRange<std::size_t>(0, table.header.size() + 1);
    if (k < table.header.size()) return table.header[k];
    if (k == table.header.size()) return kInterceptName;
    return in.ConsumeRandomLengthString(12);
}

// A flag value: often absent, else any short text.
std::string flag(FuzzedDataProvider &in) {
    return in.ConsumeBool() ? std::string() : in.ConsumeRandomLengthString(24);
}

void check_table(const Table &t, const std::vector<Wanted> &wanted) {
    CHECK(t.columns.size() == wanted.size());
    for (const Wanted &w : wanted) CHECK(t.columns.at(w.name).size() == t.rows);
    for (std::size_t i = 0; i < t.rows; ++i) {
        CHECK(t.line(i) >= 2 && (i == 0 || t.line(i) > t.line(i - 1)));
    }
}

// An empty response name is a model for prediction only: no responses.
void check_problem(const Problem &p, bool has_response) {
    CHECK(p.nobs >= 1 && p.nreg >= 1);
    CHECK(p.names.size() == std::size_t(p.nreg));
    CHECK(p.response.size() == (has_response ? std::size_t(p.nobs) : 0));
    CHECK(p.regressors.size() == std::size_t(p.nobs) * std::size_t(p.nreg));
    for (double y : p.response) CHECK(y == 0.0 || y == 1.0);
    for (double x : p.regressors) CHECK(std::isfinite(x));
    CHECK(std::isfinite(p.fixed_coef) && p.fixed_coef != 0.0);
}

void check_settings(const Settings &s, const Problem &p) {
    const std::size_t nfree = std::size_t(p.nreg - 1);
    CHECK(s.lower.size() == nfree && s.upper.size() == nfree && s.start.size() == nfree);
    CHECK(s.step.size() == nfree && s.step_gain.size() == nfree);
    for (std::size_t j = 0; j < nfree; ++j) {
        CHECK(std::isfinite(s.lower[j]) && std::isfinite(s.upper[j]));
        CHECK(s.lower[j] <= s.start[j] && s.start[j] <= s.upper[j]);
        CHECK(std::isfinite(s.step[j]) && s.step[j] >= 0.0);
        CHECK(std::isfinite(s.step_gain[j]) && s.step_gain[j] >= 0.0);
    }
    CHECK(s.quantile > 0.0 && s.quantile < 1.0);
    CHECK(std::isfinite(s.temperature) && s.temperature > 0.0);
    CHECK(s.cooling > 0.0 && s.cooling <= 1.0);
    CHECK(std::isfinite(s.tolerance) && s.tolerance >= 0.0);
    CHECK(s.sweeps >= 1 && s.adjustments >= 1 && s.history_len >= 1 && s.max_evals >= 1);
    CHECK(s.restarts >= 1 && s.threads >= 0);
    CHECK(s.seed >= 0 && s.seed2 >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    write_csv(in.ConsumeRandomLengthString(4096));
    // The header first, to pick the model's columns from; then the model's
    // columns, as the host reads them.
    Table table;
    try {
        table = read_csv(csv_path(), {});
    } catch (const UsageError &) {
        return 0;
    }
    check_table(table, {});

    try {
        const bool bundled = in.ConsumeIntegralInRange<int>(0, 7) == 0;
        ModelTerms terms;
        terms.response = pick_name(in, table);
        const int nx = in.ConsumeIntegralInRange<int>(0, 4);
        for (int i = 0; i < nx; ++i) terms.regressors.push_back(pick_name(in, table));
        std::string normalize = pick_name(in, table);
        if (in.ConsumeBool()) normalize += "=" + in.ConsumeRandomLengthString(12);
        parse_normalize(normalize, terms);
        terms.intercept = in.ConsumeBool();
        if (bundled) derive_bundled(terms);
        const std::vector<Wanted> wanted = wanted_columns(terms);
        table = read_csv(csv_path(), wanted);
        check_table(table, wanted);
        add_derived_columns(table, terms.derived);
        const Problem problem = build_problem(table, terms);
        check_problem(problem, !terms.response.empty());

        const std::string quantile = flag(in);
        SearchFlags f;
        for (std::string *s : {&f.lower, &f.upper, &f.start, &f.step, &f.step_gain, &f.box_scale,
                               &f.temperature, &f.cooling, &f.tolerance, &f.sweeps,
                               &f.adjustments, &f.history, &f.max_evals, &f.restarts, &f.seed,
                               &f.seed2, &f.threads})
            *s = flag(in);
        f.minimize = in.ConsumeBool();
        const vimor_fit::Problem view = core_problem(problem);
        if (!problem.response.empty()) {
            vimor_fit::check_problem(view);
            check_settings(vimor_fit::resolve(given_settings(f, quantile), view), problem);
        }
    } catch (const UsageError &) {
    } catch (const vimor_fit::ArgumentError &) {
    }
    return 0;
}
