// Fuzzes the objective: any data set and point within the caller's rules
// returns 0, leaves its inputs alone, gives the same value on every call, and
// every vector kernel the processor has gives the plain kernel's bits.
#include <cstring>

#include "fuzz_input.h"
#include "vimor_internal.h"

using vimor_fuzz::take_case;
using vimor_test::SearchCase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const SearchCase c = take_case(in);
    const SearchCase before = c;

    double reference = 0.0;
    bool have_reference = false;
    for (vimor::Kernel k : {vimor::Kernel::scalar, vimor::Kernel::sse2, vimor::Kernel::avx2,
                            vimor::Kernel::avx512}) {
        if (!vimor::select_kernel(k)) continue;
        double first = 1.0, second = 2.0;
        VIMOR_FUZZ_CHECK(_fcna_(c.response.get(), c.regressors.get(), &c.nobs, &c.nreg,
                                c.coef.get(), &first, &c.quantile, &c.fixed_coef) == 0);
        VIMOR_FUZZ_CHECK(_fcna_(c.response.get(), c.regressors.get(), &c.nobs, &c.nreg,
                                c.coef.get(), &second, &c.quantile, &c.fixed_coef) == 0);
        VIMOR_FUZZ_CHECK(std::memcmp(&first, &second, sizeof first) == 0);
        if (!have_reference) {
            reference = first;
            have_reference = true;
        }
        // Kernel k must give the plain kernel's double, NaN payload included.
        VIMOR_FUZZ_CHECK(std::memcmp(&first, &reference, sizeof first) == 0);
        if (c.nobs == 0) {
            const double zero = 0.0;
            VIMOR_FUZZ_CHECK(std::memcmp(&first, &zero, sizeof zero) == 0);
        }
    }
    vimor::select_best_kernel();
    VIMOR_FUZZ_CHECK(have_reference);
    VIMOR_FUZZ_CHECK(c.response.same_bytes(before.response));
    VIMOR_FUZZ_CHECK(c.regressors.same_bytes(before.regressors));
    VIMOR_FUZZ_CHECK(c.coef.same_bytes(before.coef));
    return 0;
}
