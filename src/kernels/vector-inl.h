// The vector type of a kernel body and its two helpers, for VIMOR_LANES
// doubles per vector. Included inside a kernel body's unnamed namespace, so
// each instruction set's copy keeps internal linkage.
typedef double Vec __attribute__((vector_size(8 * VIMOR_LANES)));
typedef long long Mask __attribute__((vector_size(8 * VIMOR_LANES)));

inline Vec load(const double *p) {
    Vec v;
    __builtin_memcpy(&v, p, sizeof v);  // no alignment assumed
    return v;
}

inline Vec splat(double x) {
#if VIMOR_LANES == 2
    return Vec{x, x};
#elif VIMOR_LANES == 4
    return Vec{x, x, x, x};
#elif VIMOR_LANES == 8
    return Vec{x, x, x, x, x, x, x, x};
#else
#error unsupported vector width
#endif
}
