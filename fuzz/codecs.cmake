rig_fuzz(fuzz_codecs SOURCES CodecFuzz.cpp DEPS device ZLIB::ZLIB)
