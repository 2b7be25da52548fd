// The several-point objective kernel with 4 doubles per vector, for processors with AVX2.
#define VIMOR_LANES 4
#define VIMOR_POINTS_NAME points_avx2
#include "kernels/points-inl.h"
