// The built module as a host sees it: loaded by name, exactly two exports,
// inert when loaded and unloaded, and the same results as the library itself.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "search_run.h"

namespace {

std::set<std::string> defined_dynamic_symbols(const std::string &path) {
    std::set<std::string> names;
    const std::string command = std::string(VIMOR_NM) + " -D --defined-only " + path;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const size_t space = s.rfind(' ');
        names.insert(space == std::string::npos ? s : s.substr(space + 1));
    }
    EXPECT_EQ(pclose(pipe), 0);
    return names;
}

}  // namespace

TEST(Module, ExportsExactlyTheTwoEntryPoints) {
    EXPECT_EQ(defined_dynamic_symbols(VIMOR_MODULE_PATH),
              (std::set<std::string>{"_fcna_", "_saa_"}));
}

TEST(Module, LoadsByNameAndMatchesTheLibrary) {
    // Loading and unloading alone must leave no trace.
    for (int i = 0; i < 50; ++i) {
        void *h = dlopen(VIMOR_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(h, nullptr) << dlerror();
        ASSERT_EQ(dlclose(h), 0);
    }
    void *module = dlopen(VIMOR_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto fcna = reinterpret_cast<decltype(&_fcna_)>(dlsym(module, "_fcna_"));
    auto saa = reinterpret_cast<decltype(&_saa_)>(dlsym(module, "_saa_"));
    ASSERT_NE(fcna, nullptr);
    ASSERT_NE(saa, nullptr);
    EXPECT_EQ(dlsym(module, "rmarin_"), nullptr);
    EXPECT_EQ(dlsym(module, "ranmar_"), nullptr);

    const double y[] = {1, 0}, x[] = {1, -1, 1, 1}, coef[] = {1};
    const int32_t n = 2, k = 2;
    const double alpha = 0.5, fixed = 0.0;
    double score = 0;
    EXPECT_EQ(fcna(y, x, &n, &k, coef, &score, &alpha, &fixed), 0);
    EXPECT_EQ(score, 0.5);

    SearchRun base;
    base.nobs = 64;
    base.nreg = 3;
    for (int i = 0; i < 64; ++i) base.response.push_back((i * 7) % 3 == 0 ? 1 : 0);
    for (int i = 0; i < 64 * 3; ++i) base.regressors.push_back(((i * 37) % 19) / 9.0 - 1.0);
    base.set_box(-3, 3, 0.5, 1.0);
    SearchRun through_module = base, direct = base;
    through_module.run(saa);
    direct.run();
    EXPECT_EQ(through_module.returned, 0);
    EXPECT_TRUE(through_module.same_outcome(direct));
    EXPECT_EQ(dlclose(module), 0);
}
