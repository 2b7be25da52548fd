// The objective kernel with 2 doubles per vector, for processors with SSE2.
#define VIMOR_LANES 2
#define VIMOR_VECTORS_PER_PASS 4
#define VIMOR_KERNEL_NAME objective_sse2
#include "kernels/objective-inl.h"
