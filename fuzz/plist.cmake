rig_fuzz(fuzz_plist SOURCES fuzz_plist.cpp DEPS platform_plist)
