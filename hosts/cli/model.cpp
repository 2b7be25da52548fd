#include "model.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

#include "error.h"

const char *const kInterceptName = "(intercept)";

ModelTerms default_model() {
    ModelTerms terms;
    terms.response = "participation";
    terms.regressors = {"education", "experience", "experience_sq", "age", "youngkids", "oldkids"};
    // Non-wife income is the one continuously distributed regressor (the
    // others count years or children), which identification of the
    // maximum-score coefficients needs, and more of it lowers participation.
    terms.normalize = "nonwife_income";
    terms.fixed_coef = -1.0;
    terms.intercept = true;
    return terms;
}

void add_derived_columns(Table &table) {
    const auto fincome = table.numbers("fincome", "bundled data");
    const auto hours = table.numbers("hours", "bundled data");
    const auto wage = table.numbers("wage", "bundled data");
    const auto experience = table.numbers("experience", "bundled data");
    std::vector<double> income(table.size()), experience_sq(table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        income[i] = (fincome[i] - hours[i] * wage[i]) / 1000.0;
        experience_sq[i] = experience[i] * experience[i];
    }
    table.derived["nonwife_income"] = std::move(income);
    table.derived["experience_sq"] = std::move(experience_sq);
}

void parse_normalize(const std::string &text, ModelTerms &terms) {
    const auto eq = text.rfind('=');
    terms.normalize = text.substr(0, eq);
    if (terms.normalize.empty()) throw UsageError("--normalize: no column name in '" + text + "'");
    if (eq == std::string::npos) return;
    const std::string value = text.substr(eq + 1);
    if (!parse_number(value, terms.fixed_coef) || terms.fixed_coef == 0.0) {
        throw UsageError("--normalize: the coefficient '" + value +
                         "' must be a finite non-zero number (as in " + terms.normalize + "=-1)");
    }
}

Problem build_problem(const Table &table, const ModelTerms &terms) {
    if (table.size() == 0) throw UsageError(table.path + ": empty data set: no data rows");
    if (table.size() > std::size_t(std::numeric_limits<std::int32_t>::max())) {
        throw UsageError(table.path + ": too many rows for the module (at most 2^31 - 1)");
    }
    Problem problem;
    problem.data = table.path;
    problem.response_name = terms.response;
    problem.nobs = static_cast<std::int32_t>(table.size());
    problem.fixed_coef = terms.fixed_coef;

    problem.response = table.numbers(terms.response, "--y");
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double y = problem.response[i];
        if (y != 0.0 && y != 1.0) {
            throw UsageError(fmt::format("{}: line {}, column '{}': response {} is neither 0 nor 1",
                                         table.path, table.lines[i], terms.response, y));
        }
    }

    std::vector<std::string> names;
    if (terms.intercept) names.push_back(kInterceptName);
    for (std::size_t j = 0; j < terms.regressors.size(); ++j) {
        const std::string &name = terms.regressors[j];
        if (name.empty()) throw UsageError("--x: empty column name");
        for (std::size_t k = 0; k < j; ++k) {
            if (terms.regressors[k] == name) {
                throw UsageError("--x: column '" + name + "' is listed twice");
            }
        }
        if (name != terms.normalize) names.push_back(name);
    }
    names.push_back(terms.normalize);
    if (names.size() < 2) {
        throw UsageError(
            "--x: at least two regressors are needed (counting --normalize and "
            "--intercept), got 1");
    }
    problem.names = names;
    problem.nreg = static_cast<std::int32_t>(names.size());
    problem.regressors.reserve(names.size() * table.size());

    for (std::size_t j = 0; j < names.size(); ++j) {
        const bool normalized = j + 1 == names.size();
        std::vector<double> values;
        if (terms.intercept && j == 0) {
            values.assign(table.size(), 1.0);
        } else {
            values = table.numbers(names[j], normalized ? "--normalize" : "--x");
        }
        bool all_zero = true, constant = true;
        for (double v : values) {
            all_zero = all_zero && v == 0.0;
            constant = constant && v == values[0];
        }
        if (all_zero) {
            throw UsageError(fmt::format(
                "{}: column '{}' is zero in every row of {}: {}",
                normalized ? "--normalize" : "--x", names[j], table.path,
                normalized ? "it cannot carry the scale" : "its coefficient is not identified"));
        }
        if (normalized && constant) {
            throw UsageError(
                fmt::format("--normalize: column '{}' is constant ({} in every row of "
                            "{}): the scale needs a regressor that varies",
                            names[j], values[0], table.path));
        }
        problem.regressors.insert(problem.regressors.end(), values.begin(), values.end());
    }
    return problem;
}

std::int64_t correctly_classified(const Problem &problem, const std::vector<double> &coef) {
    std::int64_t count = 0;
    const std::int32_t last = problem.nreg - 1;
    for (std::int32_t i = 0; i < problem.nobs; ++i) {
        double index = 0.0;
        for (std::int32_t j = 0; j < last; ++j) index = problem.column(j)[i] * coef[j] + index;
        index = problem.column(last)[i] * problem.fixed_coef + index;
        const bool predicted = index >= 0.0;
        if (predicted == (problem.response[i] == 1.0)) ++count;
    }
    return count;
}
