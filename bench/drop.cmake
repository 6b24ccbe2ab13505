rig_bench(bench_drop
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DropBench.cpp
  DEPS app_patch)
