// The fit's profiles as CSV (--profile): for each free coefficient, the
// objective along it with the others at the estimate, one row per step.
#ifndef VIMOR_CLI_PROFILE_H
#define VIMOR_CLI_PROFILE_H

#include <string>

#include "fitting.h"

// Writes coefficient,left,right,objective,correct rows to `path` (every
// digit): over the fit's box, or over the windows `windows` gives
// (LO:HI per free coefficient, comma-separated; an empty entry keeps the box).
void write_profiles(const std::string &path, const std::string &windows, const Module &module,
                    const Problem &problem, const FitResult &fit);

#endif
