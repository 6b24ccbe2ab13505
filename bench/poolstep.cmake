rig_bench(bench_pool_step
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PoolStepBench.cpp
          ${RIG_BENCH_SIMULATED_UNIT}
  DEPS app_patch library device platform_midi platform_files platform_dispatch)
