#include "module.h"

#include <dlfcn.h>

#include <cstdlib>

#include "error.h"
#include "text.h"

Module load_module(const std::string &flag_path) {
    std::string source = "--library";
    std::string path = flag_path;
    if (path.empty()) {
        const char *env = std::getenv("VIMOR_LIBRARY");
        if (env != nullptr && *env != '\0') {
            path = env;
            source = "VIMOR_LIBRARY";
        } else {
            path = "libvimor.so";
            source.clear();
        }
    }
    const std::string prefix = source.empty() ? "" : source + ": ";
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        throw UsageError(prefix + "cannot load " + printable(path) + ": " + printable(why ? why : "unknown error") +
                         " (give its path with --library or VIMOR_LIBRARY)");
    }
    // Resolve both exports now so a wrong file fails before any work is done.
    auto resolve = [&](const char *name) {
        void *symbol = dlsym(handle, name);
        if (symbol == nullptr) {
            dlclose(handle);
            throw UsageError(prefix + printable(path) + " lacks the symbol " + name +
                             ": it is not a vimor module");
        }
        return symbol;
    };
    Module module;
    module.path = path;
    module.fcna = reinterpret_cast<fcna_fn>(resolve("_fcna_"));
    module.saa = reinterpret_cast<saa_fn>(resolve("_saa_"));
    // Report the file the loader actually chose, not just the name asked for.
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(module.saa), &info) != 0 && info.dli_fname != nullptr) {
        module.path = info.dli_fname;
    }
    // The handle stays open for the life of the process.
    return module;
}
