// Run-time loading of libvimor.so: the host has no link-time dependency on
// the module, only on its header.
#ifndef VIMOR_CLI_MODULE_H
#define VIMOR_CLI_MODULE_H

#include <string>

#include "vimor.h"

using fcna_fn = decltype(&_fcna_);
using saa_fn = decltype(&_saa_);

struct Module {
    std::string path;  // the file loaded
    fcna_fn fcna = nullptr;
    saa_fn saa = nullptr;
};

// Loads the module named by `flag_path` (--library) when not empty, else by
// $VIMOR_LIBRARY when set, else "libvimor.so" through the run path. Resolves
// both exports; throws UsageError naming the source of the path when the
// module cannot be loaded or lacks a symbol.
Module load_module(const std::string &flag_path);

#endif
