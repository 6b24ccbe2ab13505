# Readers of text and packets from outside: server headers, password challenges and dates, version texts, strings tables,
# encodings, names that become files, and the kernel's routing answers.
rig_fuzz(fuzz_http_header SOURCES fuzz_http_header.cpp DEPS platform_url)
rig_fuzz(fuzz_http_challenge SOURCES fuzz_http_challenge.cpp DEPS platform_url)
rig_fuzz(fuzz_date_text SOURCES fuzz_date_text.cpp DEPS platform_text)
rig_fuzz(fuzz_version SOURCES fuzz_version.cpp DEPS platform_text)
rig_fuzz(fuzz_text_encoding SOURCES fuzz_text_encoding.cpp DEPS platform_text)
rig_fuzz(fuzz_strings_table SOURCES fuzz_strings_table.cpp DEPS platform_bundle)
rig_fuzz(fuzz_string_format SOURCES fuzz_string_format.cpp DEPS platform_bundle)
rig_fuzz(fuzz_safe_name SOURCES fuzz_safe_name.cpp DEPS platform_files)
rig_fuzz(fuzz_rtnetlink SOURCES fuzz_rtnetlink.cpp DEPS platform_reachability)
rig_fuzz(fuzz_ping_reply SOURCES fuzz_ping_reply.cpp DEPS server platform_icmp)
