# The measured kernels are built apart from everything else, at a fixed
# optimisation level and with every transformation that would change the work
# they do switched off: no auto-vectorisation, no unrolling or peeling, no
# floating-point contraction into fused multiply-adds, no loop-to-memset
# rewriting, and no link-time optimisation that could merge them with their
# callers.
set(ZEM_KERNEL_FLAGS
    -O2
    -fno-tree-vectorize
    -fno-tree-slp-vectorize
    -fno-unroll-loops
    -fno-peel-loops
    -ffp-contract=off
    -fno-tree-loop-distribute-patterns
    -fno-lto)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  # Keep single-precision values in single precision from sample to sample.
  list(APPEND ZEM_KERNEL_FLAGS -msse2 -mfpmath=sse)
endif()

function(zem_add_kernels target)
  add_library(${target} OBJECT ${ARGN})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${ZEM_KERNEL_FLAGS})
  set_target_properties(${target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION OFF)
  zem_warnings(${target})
endfunction()
