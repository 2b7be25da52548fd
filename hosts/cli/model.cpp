#include "model.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "error.h"
#include "fit/src/problem.h"
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

// A derived column of the bundled data: the file columns it comes from, and
// its value in row i of them (in this order of operations).
struct Derivation {
    const char *name;
    const char *formula;
    std::vector<const char *> sources;
    double (*value)(const std::vector<const Column *> &source, std::size_t i);
};

const Derivation kDerivations[] = {
    {"nonwife_income", "(fincome - hours * wage) / 1000", {"fincome", "hours", "wage"},
     [](const std::vector<const Column *> &s, std::size_t i) {
         return ((*s[0])[i] - (*s[1])[i] * (*s[2])[i]) / 1000.0;
     }},
    {"experience_sq", "experience * experience", {"experience"},
     [](const std::vector<const Column *> &s, std::size_t i) { return (*s[0])[i] * (*s[0])[i]; }},
};

const Derivation *derivation(const std::string &name) {
    for (const Derivation &d : kDerivations) {
        if (name == d.name) return &d;
    }
    return nullptr;
}

bool contains(const std::vector<std::string> &names, const std::string &name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::vector<std::string> regressor_names(const ModelTerms &terms, const std::string &flag) {
    const std::string x_flag = flag.empty() ? "--x" : flag;
    const std::string normalize_flag = flag.empty() ? "--normalize" : flag;
    std::vector<std::string> names;
    if (terms.intercept) names.push_back(kInterceptName);
    const auto refuse_intercept_name = [&](const std::string &by, const std::string &name) {
        if (terms.intercept && name == kInterceptName) {
            throw UsageError(by + ": a column named " + kInterceptName +
                             " cannot be used with --intercept, which adds a constant of that "
                             "name; rename the column or drop --intercept");
        }
    };
    std::unordered_set<std::string> seen;
    for (const std::string &name : terms.regressors) {
        if (name.empty()) throw UsageError(x_flag + ": empty column name");
        refuse_intercept_name(x_flag, name);
        if (!seen.insert(name).second) {
            throw UsageError(x_flag + ": column " + quote(name) + " is listed twice");
        }
        if (name != terms.normalize) names.push_back(name);
    }
    refuse_intercept_name(normalize_flag, terms.normalize);
    names.push_back(terms.normalize);
    if (names.size() < 2) {
        throw UsageError(x_flag +
                         ": at least two regressors are needed (counting --normalize and "
                         "--intercept), got 1");
    }
    return names;
}

std::vector<Wanted> wanted_columns(const ModelTerms &terms, const std::string &source_flag) {
    std::vector<Wanted> wanted;
    std::unordered_set<std::string> added;
    const auto add = [&](const std::string &name, const std::string &flag) {
        if (added.insert(name).second) wanted.push_back({name, flag});
    };
    if (!terms.response.empty()) add(terms.response, "--y");
    if (!terms.weights.empty() && !terms.response.empty()) add(terms.weights, "--weights");
    const std::vector<std::string> names = regressor_names(terms);
    for (std::size_t j = terms.intercept ? 1 : 0; j < names.size(); ++j) {
        if (contains(terms.derived, names[j])) {
            for (const char *source : derivation(names[j])->sources) add(source, source_flag);
        } else {
            add(names[j], j + 1 == names.size() ? "--normalize" : "--x");
        }
    }
    return wanted;
}

void derive_bundled(ModelTerms &terms) {
    terms.derived.clear();
    for (const std::string &name : regressor_names(terms)) {
        if (derivation(name) && !contains(terms.derived, name)) terms.derived.push_back(name);
    }
}

const char *derivation_formula(const std::string &name) {
    const Derivation *d = derivation(name);
    return d ? d->formula : nullptr;
}

void add_derived_columns(Table &table, const std::vector<std::string> &derived) {
    for (const std::string &name : derived) {
        const Derivation &d = *derivation(name);
        std::vector<const Column *> sources;
        for (const char *source : d.sources) sources.push_back(&table.column(source, "bundled data"));
        Column values;
        for (std::size_t i = 0; i < table.size(); ++i) values.push_back(d.value(sources, i));
        table.columns[name] = std::move(values);
    }
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
        if (!terms.weights.empty()) {
            const Column &column = table.column(terms.weights, "--weights");
            const std::vector<double> weights(column.begin(), column.end());
            vimor_fit::Problem view;
            view.response = problem.response.data();
            view.nobs = problem.nobs;
            vimor_fit::scale_weights(view, weights.data(), problem.weights);
        }
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
