rig_bench(bench_text
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextRulesBench.cpp
  DEPS library_text)
