// The one kind of failure the host reports: a mistake in what the user gave
// (a flag, a file, a cell). main() prints it on one line and exits with 2.
#ifndef VIMOR_CLI_ERROR_H
#define VIMOR_CLI_ERROR_H

#include <stdexcept>
#include <string>

struct UsageError : std::runtime_error {
    explicit UsageError(const std::string &message) : std::runtime_error(message) {}
};

#endif
