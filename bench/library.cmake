rig_bench(bench_library
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LibraryBench.cpp
          ${RIG_BENCH_SIMULATED_UNIT}
  DEPS library device platform_midi platform_files platform_dispatch)
