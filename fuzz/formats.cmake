# Readers of data that arrive from the server, the device or files the user hands us.
rig_fuzz(fuzz_server_json SOURCES fuzz_server_json.cpp DEPS server)
