rig_bench(bench_command
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandBench.cpp
          ${RIG_BENCH_SIMULATED_UNIT}
  DEPS device platform_midi platform_files platform_dispatch)
