// The objective kernel with 4 doubles per vector, for processors with AVX2.
#define VIMOR_LANES 4
#define VIMOR_VECTORS_PER_PASS 4
#define VIMOR_KERNEL_NAME objective_avx2
#include "kernels/objective-inl.h"
