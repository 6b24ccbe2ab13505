rig_bench(bench_patch_library
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PatchLibraryBench.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/device/SimulatedPatchMemory.cpp
  DEPS library device platform_midi platform_files platform_dispatch)
