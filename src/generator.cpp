// The Marsaglia-Zaman universal generator: seeding and drawing. All its
// arithmetic is on multiples of 2^-24, exact in single precision.
#include "vimor_internal.h"

namespace vimor {

thread_local GeneratorState raset1_;

void rmarin_(std::int32_t seed1, std::int32_t seed2) {
    // C++ division truncates toward zero and % takes the dividend's sign,
    // which is the arithmetic negative seeds rely on.
    std::int32_t i = (seed1 / 177) % 177 + 2;
    std::int32_t j = seed1 % 177 + 2;
    std::int32_t k = (seed2 / 169) % 178 + 1;
    std::int32_t l = seed2 % 169;
    for (int ii = 0; ii < 97; ++ii) {
        float s = 0.0f;
        float t = 0.5f;
        for (int bit = 0; bit < 24; ++bit) {
            const std::int32_t m = ((i * j) % 179 * k) % 179;
            i = j;
            j = k;
            k = m;
            l = (53 * l + 1) % 169;
            if ((l * m) % 64 >= 32) s = t + s;
            t = 0.5f * t;
        }
        raset1_.table[ii] = s;
    }
    raset1_.shift = 362436.0f / 16777216.0f;
    raset1_.shift_step = 7654321.0f / 16777216.0f;
    raset1_.shift_wrap = 16777213.0f / 16777216.0f;
    raset1_.lag1 = 97;
    raset1_.lag2 = 33;
}

float draw(GeneratorState &g) {
    float u = g.table[g.lag1 - 1] - g.table[g.lag2 - 1];
    if (u < 0.0f) u = u + 1.0f;
    g.table[g.lag1 - 1] = u;
    if (--g.lag1 == 0) g.lag1 = 97;
    if (--g.lag2 == 0) g.lag2 = 97;
    g.shift = g.shift - g.shift_step;
    if (g.shift < 0.0f) g.shift = g.shift_wrap + g.shift;
    u = u - g.shift;
    if (u < 0.0f) u = u + 1.0f;
    return u;
}

float ranmar_() { return draw(raset1_); }

// A draw writes the table entry of its first lag, which the stream reads
// again 33 draws later (as the second lag: the lags stay 64 apart modulo
// 97) and 97 draws later (as the first). So the first 33 draws ahead read
// only entries as they are now.
float ReadAhead::next() {
    std::int32_t lag1 = g.lag1 - taken, lag2 = g.lag2 - taken;
    if (lag1 <= 0) lag1 = lag1 + 97;
    if (lag2 <= 0) lag2 = lag2 + 97;
    float u = g.table[lag1 - 1] - g.table[lag2 - 1];
    if (u < 0.0f) u = u + 1.0f;
    shift = shift - g.shift_step;
    if (shift < 0.0f) shift = g.shift_wrap + shift;
    u = u - shift;
    if (u < 0.0f) u = u + 1.0f;
    ++taken;
    return u;
}

}  // namespace vimor
