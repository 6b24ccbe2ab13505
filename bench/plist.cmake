rig_bench(bench_plist SOURCES PlistBench.cpp DEPS platform_plist)
