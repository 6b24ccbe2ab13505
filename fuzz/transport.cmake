# The reply recogniser, fed through reassembly: anything a device may send.
rig_fuzz(fuzz_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/ReplyFuzz.cpp DEPS device platform_midi)
