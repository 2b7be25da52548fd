#include "saved_model.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <new>
#include <nlohmann/json.hpp>

#include "error.h"
#include "text.h"

namespace {

using json = nlohmann::json;

[[noreturn]] void refuse(const std::string &path, const std::string &why) {
    throw UsageError("--model: " + printable(path) + ": " + why +
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

// The file's text, at most kMaxSavedModelBytes of it.
std::string read_text(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        throw UsageError("--model: " + printable(path) + ": cannot open: " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) refuse(path, "is a folder, not a saved model");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError("--model: " + printable(path) + ": cannot open");
    std::string text;
    char block[1 << 16];
    while (text.size() <= kMaxSavedModelBytes && file.read(block, sizeof block).gcount() > 0) {
        text.append(block, static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad()) refuse(path, "cannot read");
    if (text.size() > kMaxSavedModelBytes) {
        refuse(path, "larger than " + std::to_string(kMaxSavedModelBytes >> 20) +
                         " MiB, the most a saved model may be");
    }
    return text;
}

// Only "model" and "regressors" are kept: the restarts and everything else
// a fit writes are skipped as they are read.
json parse(const std::string &text, const std::string &path) {
    const json::parser_callback_t keep = [](int depth, json::parse_event_t event, json &parsed) {
        return !(depth == 1 && event == json::parse_event_t::key && parsed != "model" &&
                 parsed != "regressors");
    };
    try {
        return json::parse(text, keep);
    } catch (const json::exception &) {
        refuse(path, "not a JSON file");
    }
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A column name: its exact bytes from the "<key>_hex" member, which must
// agree with the name shown; a model saved before names carried their bytes
// has only the shown name.
std::string exact_name(const json &shown, const json *hex, const std::string &path) {
    if (!shown.is_string()) refuse(path, "a column name is not a string");
    if (!hex) return shown.get<std::string>();
    if (!hex->is_string()) refuse(path, "a column name's bytes are not a string");
    const std::string &digits = hex->get_ref<const std::string &>();
    std::string name;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const int hi = hex_digit(digits[i]), lo = hex_digit(digits[i + 1]);
        if (hi < 0 || lo < 0) break;
        name += static_cast<char>(hi * 16 + lo);
    }
    if (name.size() * 2 != digits.size()) {
        refuse(path, "a column name's bytes are not in lower-case hex");
    }
    if (printable(name) != shown.get_ref<const std::string &>()) {
        refuse(path, "the column name " + quote(shown.get<std::string>()) +
                         " does not match its bytes");
    }
    return name;
}

const json *optional(const json &object, const char *key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

}  // namespace

SavedModel read_saved_model(const std::string &path) {
    try {
        const json root = parse(read_text(path), path);
        if (!root.is_object()) refuse(path, "not a saved fit");
        const json &model = member(root, "model", path, &json::is_object, "object");
        SavedModel saved;
        ModelTerms &t = saved.terms;
        t.response = exact_name(member(model, "response", path, &json::is_string, "string"),
                                optional(model, "response_hex"), path);
        const json &x = member(model, "x", path, &json::is_array, "list");
        const json *x_hex = optional(model, "x_hex");
        if (x_hex && !(x_hex->is_array() && x_hex->size() == x.size())) {
            refuse(path, "\"x_hex\" does not match \"x\"");
        }
        for (std::size_t j = 0; j < x.size(); ++j) {
            t.regressors.push_back(exact_name(x[j], x_hex ? &(*x_hex)[j] : nullptr, path));
        }
        t.normalize = exact_name(member(model, "normalize", path, &json::is_string, "string"),
                                 optional(model, "normalize_hex"), path);
        if (const json *weights = optional(model, "weights")) {
            t.weights = exact_name(*weights, optional(model, "weights_hex"), path);
            if (t.weights.empty()) refuse(path, "\"weights\" names no column");
        }
        t.fixed_coef = member(model, "fixed_coef", path, &json::is_number, "number").get<double>();
        t.intercept = member(model, "intercept", path, &json::is_boolean, "flag").get<bool>();
        saved.quantile = member(model, "quantile", path, &json::is_number, "number").get<double>();
        if (!(saved.quantile > 0.0 && saved.quantile < 1.0) || !std::isfinite(t.fixed_coef) ||
            t.fixed_coef == 0.0 || t.normalize.empty()) {
            refuse(path, "the quantile or the normalization is out of range");
        }

        const std::vector<std::string> names = regressor_names(t, "--model");
        if (const json *derived = optional(model, "derived")) {
            if (!derived->is_object()) refuse(path, "\"derived\" is not an object");
            for (const auto &[name, formula] : derived->items()) {
                const char *known = derivation_formula(name);
                if (!known || formula != known) {
                    refuse(path, "the derived column " + quote(name) +
                                     " has a formula this vimor does not know");
                }
                if (std::find(names.begin(), names.end(), name) == names.end()) {
                    refuse(path, "the derived column " + quote(name) + " is not in the model");
                }
                t.derived.push_back(name);
            }
        }
        const json &regressors = member(root, "regressors", path, &json::is_array, "list");
        if (regressors.size() != names.size()) refuse(path, "\"regressors\" does not match \"model\"");
        for (std::size_t j = 0; j < names.size(); ++j) {
            const json &r = regressors[j];
            if (!r.is_object() || !r.contains("name") || r["name"] != printable(names[j]) ||
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
    } catch (const std::bad_alloc &) {
        refuse(path, "too large to read in the memory the system grants");
    } catch (const json::exception &) {
        refuse(path, "not a saved fit");
    }
}
