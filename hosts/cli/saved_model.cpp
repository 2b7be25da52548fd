#include "saved_model.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "error.h"
#include "text.h"

namespace {

using json = nlohmann::json;

[[noreturn]] void refuse(const std::string &path, const std::string &why) {
    throw UsageError("--model: " + path + ": " + why +
                     " (save a model with vimor fit ... --json --output FILE)");
}

const json &member(const json &object, const char *key, const std::string &path,
                   bool (json::*is)() const noexcept, const char *what) {
    const auto found = object.find(key);
    if (found == object.end() || !((*found).*is)()) {
        refuse(path, std::string("no \"") + key + "\" " + what);
    }
    return *found;
}

}  // namespace

SavedModel read_saved_model(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError("--model: " + path + ": cannot open");
    json root;
    try {
        root = json::parse(file);
    } catch (const json::exception &) {
        refuse(path, "not a JSON file");
    }
    if (!root.is_object()) refuse(path, "not a saved fit");
    const json &model = member(root, "model", path, &json::is_object, "object");
    SavedModel saved;
    ModelTerms &t = saved.terms;
    t.response = member(model, "response", path, &json::is_string, "string").get<std::string>();
    for (const json &name : member(model, "x", path, &json::is_array, "list")) {
        if (!name.is_string()) refuse(path, "a name in \"x\" is not a string");
        t.regressors.push_back(name.get<std::string>());
    }
    t.normalize = member(model, "normalize", path, &json::is_string, "string").get<std::string>();
    t.fixed_coef = member(model, "fixed_coef", path, &json::is_number, "number").get<double>();
    t.intercept = member(model, "intercept", path, &json::is_boolean, "flag").get<bool>();
    saved.quantile = member(model, "quantile", path, &json::is_number, "number").get<double>();
    if (!(saved.quantile > 0.0 && saved.quantile < 1.0) || !std::isfinite(t.fixed_coef) ||
        t.fixed_coef == 0.0 || t.normalize.empty()) {
        refuse(path, "the quantile or the normalization is out of range");
    }

    const std::vector<std::string> names = regressor_names(t);
    const json &regressors = member(root, "regressors", path, &json::is_array, "list");
    if (regressors.size() != names.size()) refuse(path, "\"regressors\" does not match \"model\"");
    for (std::size_t j = 0; j < names.size(); ++j) {
        const json &r = regressors[j];
        if (!r.is_object() || !r.contains("name") || r["name"] != names[j] ||
            !r.contains("coefficient") || !r["coefficient"].is_number()) {
            refuse(path, "regressor " + std::to_string(j + 1) + " does not match \"model\"");
        }
        const double b = r["coefficient"].get<double>();
        if (j + 1 < names.size()) {
            if (!std::isfinite(b)) refuse(path, "a coefficient is not finite");
            saved.coef.push_back(b);
        } else if (b != t.fixed_coef) {
            refuse(path, "the normalized coefficient does not match \"model\"");
        }
    }
    return saved;
}
