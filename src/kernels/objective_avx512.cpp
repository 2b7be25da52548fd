// The objective kernel with 8 doubles per vector, for processors with AVX512.
#define VIMOR_LANES 8
#define VIMOR_VECTORS_PER_PASS 4
#define VIMOR_KERNEL_NAME objective_avx512
#include "kernels/objective-inl.h"
