// The one kind of failure the core reports: a value it cannot work with.
// It blames one argument by its neutral name; other arguments the message
// mentions are written {key}, for each host to spell its own way.
#ifndef VIMOR_FIT_ERROR_H
#define VIMOR_FIT_ERROR_H

#include <stdexcept>
#include <string>

namespace vimor_fit {

struct ArgumentError : std::runtime_error {
    ArgumentError(std::string argument, const std::string &message)
        : std::runtime_error(message), argument(std::move(argument)) {}
    std::string argument;  // "" when no argument is to blame
};

// Raised between units of work when the host asked to stop.
struct Cancelled : std::exception {};

}  // namespace vimor_fit

#endif
