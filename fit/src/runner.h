// Runs units of work 0..count-1 on threads, the calling thread among them: it
// polls the host's cancel callback and reports progress between its units.
#ifndef VIMOR_FIT_RUNNER_H
#define VIMOR_FIT_RUNNER_H

#include <cstdint>
#include <functional>

namespace vimor_fit {

struct Hooks {
    int (*cancel)(void *) = nullptr;
    void *cancel_user = nullptr;
    void (*progress)(void *, std::int32_t, std::int32_t, std::int32_t) = nullptr;
    void *progress_user = nullptr;
};

// unit(i) for every i, on `threads` threads (0: one per core), at most one
// thread per unit. The units must not depend on the order they run in.
// Throws Cancelled when the host asked to stop (after the units under way
// have ended), or the first exception a unit threw.
void run_units(std::int32_t count, std::int32_t threads, std::int32_t phase, const Hooks &hooks,
               const std::function<void(std::int32_t)> &unit);

}  // namespace vimor_fit

#endif
