# Readers of data that arrive from the server, the device or files the user hands us.
rig_fuzz(fuzz_server_json SOURCES fuzz_server_json.cpp DEPS server)
rig_fuzz(fuzz_effect_list SOURCES fuzz_effect_list.cpp DEPS device)
rig_fuzz(fuzz_effect_module SOURCES fuzz_effect_module.cpp DEPS device)
rig_fuzz(fuzz_patch_data SOURCES fuzz_patch_data.cpp DEPS device)
