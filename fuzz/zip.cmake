rig_fuzz(fuzz_zip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_zip.cpp DEPS server)
