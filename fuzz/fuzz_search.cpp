// Fuzzes the search: any arguments within the caller's rules must end with
// status 0 or 1 and consistent counters, and a repeated call must give the
// same outputs to the bit, also with another search run in between, with
// the objective computed by another kernel, and with each trial evaluated
// alone instead of with the candidates for the next one.
#include <algorithm>
#include <cstring>

#include "fuzz_input.h"
#include "vimor_internal.h"

using vimor_fuzz::take_case;
using vimor_test::SearchCase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const SearchCase start = take_case(in);
    // The kernels of the two identical calls; an unavailable one leaves the
    // previous choice in place.
    const auto kernel_first = static_cast<vimor::Kernel>(in.ConsumeIntegralInRange<int>(0, 3));
    const auto kernel_second = static_cast<vimor::Kernel>(in.ConsumeIntegralInRange<int>(0, 3));
    const auto points_first = static_cast<vimor::Kernel>(in.ConsumeIntegralInRange<int>(0, 3));
    vimor::select_best_kernel();
    vimor::select_kernel(kernel_first);
    if (!vimor::select_points_kernel(points_first)) vimor::select_points_kernel(vimor::Kernel::avx2);

    SearchCase first = start;
    VIMOR_FUZZ_CHECK(first.run() == 0);
    VIMOR_FUZZ_CHECK(first.status == 0 || first.status == 1);
    VIMOR_FUZZ_CHECK(first.n_evals >= 1);
    VIMOR_FUZZ_CHECK(first.n_evals <= std::max(first.max_evals, 2));
    VIMOR_FUZZ_CHECK(first.limit_hit == first.status);
    VIMOR_FUZZ_CHECK(first.n_accepted >= 0 && first.n_accepted <= first.n_evals - 1);
    VIMOR_FUZZ_CHECK(first.n_out_of_bounds >= 0);
    // best_value is the objective at best, in the caller's sign, to the bit.
    const double at_best = first.objective(first.best);
    VIMOR_FUZZ_CHECK(std::memcmp(&at_best, &first.best_value, sizeof at_best) == 0);
    if (first.status == 0) VIMOR_FUZZ_CHECK(first.coef.same_bytes(first.best));
    VIMOR_FUZZ_CHECK(first.response.same_bytes(start.response));
    VIMOR_FUZZ_CHECK(first.regressors.same_bytes(start.regressors));
    VIMOR_FUZZ_CHECK(first.lower.same_bytes(start.lower));
    VIMOR_FUZZ_CHECK(first.upper.same_bytes(start.upper));
    VIMOR_FUZZ_CHECK(first.step_gain.same_bytes(start.step_gain));

    // Another search on other seeds, then the first one again.
    SearchCase other = start;
    other.seed1 = start.seed2;
    other.seed2 = start.seed1 ^ 0x5a5a;
    other.max_evals = std::min(start.max_evals, 100);
    other.limit_hit = 0x5a5a;  // left alone unless the limit ends the run
    VIMOR_FUZZ_CHECK(other.run() == 0);
    VIMOR_FUZZ_CHECK(other.limit_hit == (other.status == 1 ? 1 : 0x5a5a));

    vimor::select_kernel(kernel_second);
    SearchCase second = start;
    VIMOR_FUZZ_CHECK(second.run() == 0);
    VIMOR_FUZZ_CHECK(second.outputs() == first.outputs());

    // One point at a time.
    const vimor::Kernel points = vimor::active_points_kernel();
    vimor::select_points_kernel(vimor::Kernel::scalar);
    SearchCase plain = start;
    VIMOR_FUZZ_CHECK(plain.run() == 0);
    vimor::select_points_kernel(points);
    VIMOR_FUZZ_CHECK(plain.outputs() == first.outputs());
    return 0;
}
