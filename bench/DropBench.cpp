// The check a drop of files from another program goes through on the main thread, at the drag's entry and
// again at the drop: 10,000 patch files from one folder, beside resolving each path alone (what the check
// once did for every file).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "app/patch/DroppedPaths.h"

namespace {

namespace fs = std::filesystem;

struct DropFolder {
    DropFolder()
    {
        fs::create_directories(own / "Temp/Local");
        fs::create_directories(root / "Music/Patches/Drop");
        for (int i = 0; i < 10000; ++i) {
            const fs::path file = root / "Music/Patches/Drop" / ("Patch " + std::to_string(i) + ".qptc");
            std::ofstream(file) << "patch";
            paths.push_back(file.string());
        }
    }
    ~DropFolder()
    {
        std::error_code error;
        fs::remove_all(root, error);
    }
    fs::path root = fs::temp_directory_path() / ("rig-bench-drop-" + std::to_string(getpid()));
    fs::path own = root / "PEXO Rigmora";
    std::vector<std::string> paths;
};

DropFolder& folder()
{
    static DropFolder made;
    return made;
}

void BM_RefusesDrop(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(DroppedPaths::refusesDrop(folder().paths, folder().own.string()));
    state.counters["per_file_us"] = benchmark::Counter(static_cast<double>(state.iterations()) * 10000,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                                                       benchmark::Counter::kIs1000);
}
BENCHMARK(BM_RefusesDrop)->Unit(benchmark::kMillisecond);

void BM_ResolveEachPath(benchmark::State& state)
{
    for (auto _ : state) {
        for (const std::string& path : folder().paths) {
            std::error_code error;
            benchmark::DoNotOptimize(fs::weakly_canonical(path, error));
        }
    }
}
BENCHMARK(BM_ResolveEachPath)->Unit(benchmark::kMillisecond);

}  // namespace
