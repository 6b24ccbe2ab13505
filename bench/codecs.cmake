rig_bench(bench_codecs SOURCES CodecBench.cpp DEPS device)
