// The estimation problem as the module takes it: 0/1 responses and a
// column-major regressor matrix whose last column is the normalized one.
#ifndef VIMOR_CLI_MODEL_H
#define VIMOR_CLI_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "table.h"

struct ModelTerms {
    std::string response;                 // empty when only predicting
    std::vector<std::string> regressors;  // --x, in the user's order
    std::string normalize;                // carries the scale; may also be in `regressors`
    double fixed_coef = 1.0;
    bool intercept = false;
    std::string weights;  // --weights: the column of observation weights, if any
    // Regressors computed from other columns (the bundled data's derived
    // columns), not read from the file.
    std::vector<std::string> derived;
};

struct Problem {
    std::string data;  // file the data came from
    std::string response_name;
    std::vector<std::string> names;  // K regressor names; the last is the normalized one
    std::vector<double> response;    // N values, each 0 or 1; empty when predicting
    std::vector<double> weights;     // N weights scaled to mean 1 by the core; empty: unweighted
    std::vector<double> regressors;  // N * K, column-major
    std::int32_t nobs = 0;
    std::int32_t nreg = 0;
    double fixed_coef = 1.0;
    bool intercept = false;  // the first regressor is the constant (Intercept)

    const double *column(std::int32_t j) const { return regressors.data() + std::size_t(j) * nobs; }
};

extern const char *const kInterceptName;

// The model fitted when no data file is given: labour-force participation of
// the bundled Mroz (1987) data, with the scale carried by non-wife income.
ModelTerms default_model();

// The K regressor names in the module's order: (Intercept) first when
// asked for, the normalized column last. Throws UsageError naming the flag
// (`flag` for every one when given) for an empty or repeated name, a file
// column named like the intercept together with --intercept, or fewer than
// two regressors.
std::vector<std::string> regressor_names(const ModelTerms &terms, const std::string &flag = {});

// The file columns the model reads, each with the flag that named it; a
// derived column is replaced by those it comes from (named by `source_flag`).
std::vector<Wanted> wanted_columns(const ModelTerms &terms,
                                   const std::string &source_flag = "bundled data");

// The bundled data set's derived columns: nonwife_income, the family's
// income other than the wife's earnings in thousands of dollars,
// (fincome - hours * wage) / 1000, and experience_sq = experience * experience.
// derive_bundled() marks those the model uses as derived; the formula is the
// text a saved model carries, so that it applies to any file with the
// source columns.
void derive_bundled(ModelTerms &terms);
const char *derivation_formula(const std::string &name);  // nullptr: not derivable
void add_derived_columns(Table &table, const std::vector<std::string> &derived);

// Parses --normalize COLUMN[=VALUE] into `terms`.
void parse_normalize(const std::string &text, ModelTerms &terms);

// Builds the problem from a table read with wanted_columns(), moving the
// columns out of it to keep one copy of the data in memory. Throws
// UsageError naming the flag, or the file, line and column, of a response
// that is not 0 or 1; the estimation core checks the rest.
Problem build_problem(Table &table, const ModelTerms &terms);

#endif
