// Fuzzes the objective: any data set and point within the caller's rules
// returns 0, leaves its inputs alone and gives the same value on every call.
#include <cstring>

#include "fuzz_input.h"

using vimor_fuzz::take_case;
using vimor_test::SearchCase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const SearchCase c = take_case(in);
    const SearchCase before = c;

    double first = 1.0, second = 2.0;
    VIMOR_FUZZ_CHECK(_fcna_(c.response.get(), c.regressors.get(), &c.nobs, &c.nreg, c.coef.get(),
                            &first, &c.quantile, &c.fixed_coef) == 0);
    VIMOR_FUZZ_CHECK(_fcna_(c.response.get(), c.regressors.get(), &c.nobs, &c.nreg, c.coef.get(),
                            &second, &c.quantile, &c.fixed_coef) == 0);
    VIMOR_FUZZ_CHECK(std::memcmp(&first, &second, sizeof first) == 0);
    if (c.nobs == 0) {
        const double zero = 0.0;
        VIMOR_FUZZ_CHECK(std::memcmp(&first, &zero, sizeof zero) == 0);
    }
    VIMOR_FUZZ_CHECK(c.response.same_bytes(before.response));
    VIMOR_FUZZ_CHECK(c.regressors.same_bytes(before.regressors));
    VIMOR_FUZZ_CHECK(c.coef.same_bytes(before.coef));
    return 0;
}
