// What the host prints: a compact table for people (about 7 significant
// digits), JSON for scripts and for saving a model (every number in the
// shortest form that reads back as the same double).
#ifndef VIMOR_CLI_REPORT_H
#define VIMOR_CLI_REPORT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fitting.h"
#include "model.h"

struct Evaluation {
    std::vector<double> coef;  // K - 1 free coefficients
    double objective = 0;
    double correct = 0;  // weighted: the total weight
};

// A JSON object written in the order its members are added; values are
// already JSON text. Other features add their own members before printing.
struct JsonObject {
    std::vector<std::pair<std::string, std::string>> members;
    void add(const std::string &key, const std::string &json) { members.emplace_back(key, json); }
    std::string str(int indent = 0) const;
};
std::string json_string(const std::string &text);  // printable(text), quoted and escaped
std::string json_numbers(const std::vector<double> &values);

// An extra column of the coefficient table: one cell per regressor (the
// normalized one included), under `title`.
struct TableColumn {
    std::string title;
    std::vector<std::string> cells;
};

struct FitReport {
    const Problem &problem;
    const ModelTerms &terms;
    const FitResult &fit;
    std::string module_path;
    std::vector<TableColumn> columns;  // beside the coefficients
    // Members other features add to each regressor's JSON object (the
    // normalized one included), and lines they add below the fit's summary.
    std::vector<JsonObject> regressor_members = {};
    std::vector<std::string> notes = {};
};

std::string fit_text(const FitReport &r, bool verbose);
JsonObject fit_json(const FitReport &r);
std::string score_text(const Problem &problem, double quantile, const Evaluation &at);
JsonObject score_json(const Problem &problem, double quantile, const Evaluation &at);

#endif
