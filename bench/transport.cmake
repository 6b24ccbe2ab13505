rig_bench(bench_transport SOURCES ${CMAKE_CURRENT_LIST_DIR}/TransportBench.cpp DEPS device platform_midi)
