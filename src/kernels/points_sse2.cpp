// The several-point objective kernel with 2 doubles per vector, for processors with SSE2.
#define VIMOR_LANES 2
#define VIMOR_POINTS_NAME points_sse2
#include "kernels/points-inl.h"
