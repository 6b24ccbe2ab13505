rig_bench(bench_patch_library
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PatchLibraryBench.cpp
          ${RIG_BENCH_SIMULATED_UNIT}
  DEPS library device platform_midi platform_files platform_dispatch)
