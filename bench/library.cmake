rig_bench(bench_library
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LibraryBench.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/device/DeviceUnit.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/device/SimulatedDevice.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/device/SimulatedFileSystem.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/device/SimulatedPatchMemory.cpp
  DEPS library device platform_midi platform_files platform_dispatch)
