# The objective's vector kernels: one body compiled per instruction set, each
# file with its own flags, so the module still runs on any x86-64 processor
# and picks the best kernel at run time. Never tuned to the build machine; no fused
# multiply-add even where the flags allow it (-ffp-contract=off, no intrinsics).
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
#if !defined(__x86_64__)
#error not x86-64
#endif
int main() { return 0; }" VIMOR_TARGET_X86_64)

if(VIMOR_TARGET_X86_64 AND NOT VIMOR_FORCE_SCALAR)
  set(vimor_kernel_dir ${PROJECT_SOURCE_DIR}/src/kernels)
  target_sources(vimor_objects PRIVATE
    ${vimor_kernel_dir}/objective_sse2.cpp
    ${vimor_kernel_dir}/objective_avx2.cpp
    ${vimor_kernel_dir}/objective_avx512.cpp
    ${vimor_kernel_dir}/points_sse2.cpp
    ${vimor_kernel_dir}/points_avx2.cpp
    ${vimor_kernel_dir}/points_avx512.cpp)
  # 64-bit Windows keeps the stack 16-byte aligned, but GCC may spill wide
  # registers with aligned moves; the assembler turns those into unaligned ones.
  set(vimor_wide_extra "")
  if(MINGW)
    set(vimor_wide_extra "-Wa,-muse-unaligned-vector-move")
  endif()
  set_source_files_properties(${vimor_kernel_dir}/objective_avx2.cpp
    ${vimor_kernel_dir}/points_avx2.cpp
    PROPERTIES COMPILE_OPTIONS "-mavx2;${vimor_wide_extra}")
  set_source_files_properties(${vimor_kernel_dir}/objective_avx512.cpp
    ${vimor_kernel_dir}/points_avx512.cpp
    PROPERTIES COMPILE_OPTIONS "-mavx512f;${vimor_wide_extra}")
  target_compile_definitions(vimor_objects PRIVATE VIMOR_SIMD_KERNELS=1)
endif()
