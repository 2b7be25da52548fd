// A fit in the steps a host may drive one by one: prepare the settings, run
// the restarts (or take their records from elsewhere), finish them (the best
// restart, its measures, flat ranges and warnings), then the same for the
// subsample fits and their intervals.
#ifndef VIMOR_FIT_FIT_H
#define VIMOR_FIT_FIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "bootstrap.h"
#include "certify.h"
#include "flat.h"
#include "problem.h"
#include "restarts.h"
#include "runner.h"
#include "settings.h"
#include "subsampling.h"

namespace vimor_fit {

class Fit {
   public:
    Fit(const Problem &problem, const Module &module) : problem_(problem), module_(module) {}

    Given given;

    void prepare();
    // Every unit on `threads` threads (0: the threads setting), then both
    // finishing steps.
    void run(std::int32_t threads, const Hooks &hooks);

    Restart run_restart(std::int32_t r) const;
    void finish_restarts(std::vector<Restart> restarts);
    const std::vector<std::int32_t> &subsample_rows(std::int32_t s) const;
    SubsampleFit run_subsample(std::int32_t s, const std::int32_t *rows) const;
    void finish_subsamples(std::vector<SubsampleFit> fits);

    // The result or resolved setting under `key`; false for an unknown key
    // or one whose step has not run.
    bool value(const std::string &key, std::vector<double> &out) const;
    void interval(std::int32_t j, double level, bool symmetric, double &lower,
                  double &upper) const;

    const Problem &problem() const { return problem_; }
    const Settings &settings() const { return settings_; }
    const std::vector<Restart> &restarts() const { return restarts_; }
    const std::vector<std::string> &warnings() const { return warnings_; }
    bool prepared() const { return prepared_; }
    bool restarts_done() const { return restarts_done_; }
    bool subsamples_done() const { return subsamples_done_; }

   private:
    const Problem &problem_;
    Problem data_;  // the host's problem, with the module's weighted response
    std::vector<double> module_response_;
    Module module_;
    Settings settings_;
    bool prepared_ = false, restarts_done_ = false, subsamples_done_ = false;

    std::vector<Restart> restarts_;
    Choice choice_;
    std::vector<double> coef_;
    double objective_ = 0, seconds_ = 0, subsample_seconds_ = 0;
    double correct_ = 0;
    std::int64_t evaluations_ = 0;
    // With the certify setting: the certificate, and the search's own
    // value when the certificate found a better point.
    bool certified_ = false;
    Certificate certificate_;
    double searched_objective_ = 0;
    const Hooks *hooks_ = nullptr;  // during run(): the host's cancel callback
    std::vector<FlatRange> flat_;
    std::vector<std::string> warnings_;

    std::vector<std::vector<std::int32_t>> draws_;
    // The bootstrap: each draw's generator state, V at the estimate and the
    // draws' box.
    std::vector<std::int64_t> states_;
    Curvature curvature_;
    std::vector<double> half_;
    std::int32_t resamples() const { return settings_.subsamples + settings_.bootstrap; }
    bool bootstrap() const { return settings_.bootstrap > 0; }
    std::int32_t redrawn_ = 0;
    std::vector<SubsampleFit> subsamples_;
    std::vector<double> lower_, upper_;
};

}  // namespace vimor_fit

#endif
