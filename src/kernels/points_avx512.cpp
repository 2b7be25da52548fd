// The several-point objective kernel with 8 doubles per vector, for processors with AVX512.
#define VIMOR_LANES 8
#define VIMOR_POINTS_NAME points_avx512
#include "kernels/points-inl.h"
