#include "model.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

#include "error.h"
#include "text.h"

const char *const kInterceptName = "(Intercept)";

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

namespace {

// Derived columns of the bundled data and the file columns they come from.
const char *const kDerived[] = {"nonwife_income", "experience_sq"};
const char *const kDerivedFrom[] = {"fincome", "hours", "wage", "experience"};

bool is_derived(const std::string &name) {
    for (const char *d : kDerived) {
        if (name == d) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> regressor_names(const ModelTerms &terms) {
    std::vector<std::string> names;
    if (terms.intercept) names.push_back(kInterceptName);
    const auto refuse_intercept_name = [&](const std::string &flag, const std::string &name) {
        if (terms.intercept && name == kInterceptName) {
            throw UsageError(flag + ": a column named " + kInterceptName +
                             " cannot be used with --intercept, which adds a constant of that "
                             "name; rename the column or drop --intercept");
        }
    };
    for (std::size_t j = 0; j < terms.regressors.size(); ++j) {
        const std::string &name = terms.regressors[j];
        if (name.empty()) throw UsageError("--x: empty column name");
        refuse_intercept_name("--x", name);
        for (std::size_t k = 0; k < j; ++k) {
            if (terms.regressors[k] == name) {
                throw UsageError("--x: column " + quote(name) + " is listed twice");
            }
        }
        if (name != terms.normalize) names.push_back(name);
    }
    refuse_intercept_name("--normalize", terms.normalize);
    names.push_back(terms.normalize);
    if (names.size() < 2) {
        throw UsageError(
            "--x: at least two regressors are needed (counting --normalize and "
            "--intercept), got 1");
    }
    return names;
}

std::vector<Wanted> wanted_columns(const ModelTerms &terms, bool bundled) {
    std::vector<Wanted> wanted;
    const auto add = [&](const std::string &name, const std::string &flag) {
        if (bundled && is_derived(name)) return;
        for (const Wanted &w : wanted) {
            if (w.name == name) return;
        }
        wanted.push_back({name, flag});
    };
    if (!terms.response.empty()) add(terms.response, "--y");
    const std::vector<std::string> names = regressor_names(terms);
    for (std::size_t j = terms.intercept ? 1 : 0; j < names.size(); ++j) {
        add(names[j], j + 1 == names.size() ? "--normalize" : "--x");
    }
    if (bundled) {
        for (const char *name : kDerivedFrom) add(name, "bundled data");
    }
    return wanted;
}

void add_derived_columns(Table &table) {
    const Column &fincome = table.column("fincome", "bundled data");
    const Column &hours = table.column("hours", "bundled data");
    const Column &wage = table.column("wage", "bundled data");
    const Column &experience = table.column("experience", "bundled data");
    Column income, experience_sq;
    for (std::size_t i = 0; i < table.size(); ++i) {
        income.push_back((fincome[i] - hours[i] * wage[i]) / 1000.0);
        experience_sq.push_back(experience[i] * experience[i]);
    }
    table.columns["nonwife_income"] = std::move(income);
    table.columns["experience_sq"] = std::move(experience_sq);
}

void parse_normalize(const std::string &text, ModelTerms &terms) {
    const auto eq = text.rfind('=');
    terms.normalize = trimmed(text.substr(0, eq));
    if (terms.normalize.empty()) {
        throw UsageError("--normalize: no column name in " + quote(text));
    }
    if (eq == std::string::npos) return;
    const std::string value = trimmed(text.substr(eq + 1));
    if (!parse_number(value, terms.fixed_coef) || terms.fixed_coef == 0.0) {
        throw UsageError("--normalize: the coefficient " + quote(value) +
                         " must be a finite non-zero decimal number (as in " +
                         printable(terms.normalize, 60) + "=-1)");
    }
}

Problem build_problem(Table &table, const ModelTerms &terms) {
    if (table.size() == 0) throw UsageError(table.path + ": empty data set: no data rows");
    Problem problem;
    problem.data = table.path;
    problem.response_name = terms.response;
    problem.nobs = static_cast<std::int32_t>(table.size());
    problem.fixed_coef = terms.fixed_coef;
    problem.intercept = terms.intercept;
    problem.names = regressor_names(terms);
    problem.nreg = static_cast<std::int32_t>(problem.names.size());

    if (!terms.response.empty()) {
        const Column &response = table.column(terms.response, "--y");
        for (std::size_t i = 0; i < table.size(); ++i) {
            const double y = response[i];
            if (y != 0.0 && y != 1.0) {
                throw UsageError(fmt::format(
                    "{}: line {}, column {}: response {} is neither 0 nor 1", table.path,
                    table.line(i), quote(terms.response), y));
            }
        }
        problem.response.assign(response.begin(), response.end());
    }

    problem.regressors.reserve(problem.names.size() * table.size());
    for (std::size_t j = 0; j < problem.names.size(); ++j) {
        const std::string &name = problem.names[j];
        const bool normalized = j + 1 == problem.names.size();
        const std::string flag = normalized ? "--normalize" : "--x";
        if (terms.intercept && j == 0) {
            problem.regressors.insert(problem.regressors.end(), table.size(), 1.0);
        } else {
            // Each column is used once (the response was copied above), so
            // its blocks are freed as soon as they are copied.
            const Column &column = table.column(name, flag);
            problem.regressors.insert(problem.regressors.end(), column.begin(), column.end());
            table.columns.erase(name);
        }
    }
    return problem;
}
