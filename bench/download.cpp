// Fifty 1 MiB archives served on the loopback interface: downloaded in parallel by the download service
// and unpacked, and, side by side, fetched in parallel by the curl command-line tool. Compare the two
// times per iteration for the ratio.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

#include "CurlCommandLine.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/url/URLRequest.h"
#include "server/NetworkingService.h"
#include "server/ZipArchive.h"
#include "server/ZipArchiveService.h"
#include "support/server/LoopbackServer.h"

namespace {

constexpr int kFiles = 50;
constexpr std::size_t kFileSize = 1 << 20;

struct Catalogue {
    support::LoopbackServer server;
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("rig-bench-download-" + std::to_string(getpid()));

    Catalogue()
    {
        std::filesystem::create_directories(folder / "source");
        std::mt19937 random(7);
        for (int i = 0; i < kFiles; ++i) {
            std::vector<std::uint8_t> content(kFileSize);
            for (auto& byte : content) byte = static_cast<std::uint8_t>(random() & 0x3F);  // compresses somewhat
            const auto archive = folder / "source" / (std::to_string(i) + ".zip");
            ZipArchive writer(archive.string());
            writer.open();
            writer.writeData(content, "effect.bin");
            writer.close();
            std::ifstream in(archive, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            server.serve("/qfx/" + std::to_string(i) + ".zip", std::move(bytes), "application/zip");
        }
    }
    ~Catalogue() { std::filesystem::remove_all(folder); }

    static Catalogue& shared()
    {
        static Catalogue catalogue;
        return catalogue;
    }
};

void downloadAll(benchmark::State& state, bool unpack)
{
    Catalogue& catalogue = Catalogue::shared();
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    const auto target = catalogue.folder / "service";
    for (auto _ : state) {
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(target);
        std::atomic<int> done{0}, failed{0};
        for (int i = 0; i < kFiles; ++i) {
            const std::string archive = (target / (std::to_string(i) + ".zip")).string();
            const std::string destination = (target / ("effect" + std::to_string(i))).string();
            auto service = std::make_shared<NetworkingService>(dispatch);
            service->downloadAPISuccess(
                [&, archive, destination](std::optional<Bytes>) {
                    if (unpack)
                        ZipArchiveService::unzipFileAtPath(archive, destination,
                                                       [&](bool ok, std::optional<std::string>, std::optional<platform::Error>) {
                                                           if (!ok) ++failed;
                                                       });
                    ++done;
                },
                [&](const platform::Error&) {
                    ++failed;
                    ++done;
                },
                platform::URLRequest(catalogue.server.url("/qfx/" + std::to_string(i) + ".zip"), 30.0), archive);
        }
        loop.runUntil([&] { return done.load() == kFiles; }, std::chrono::seconds(120));
        if (failed.load() != 0) state.SkipWithError("a download or unpack failed");
    }
    state.SetBytesProcessed(state.iterations() * kFiles * static_cast<std::int64_t>(kFileSize));
}
void BM_DownloadServiceAndUnpack(benchmark::State& state)
{
    downloadAll(state, true);
}
BENCHMARK(BM_DownloadServiceAndUnpack)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DownloadServiceOnly(benchmark::State& state)
{
    downloadAll(state, false);
}
BENCHMARK(BM_DownloadServiceOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlCommandLine(benchmark::State& state)
{
    Catalogue& catalogue = Catalogue::shared();
    std::vector<std::string> urls;
    for (int i = 0; i < kFiles; ++i) urls.push_back(catalogue.server.url("/qfx/" + std::to_string(i) + ".zip"));
    timeCurlCommandLine(state, urls, catalogue.folder / "curl", static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_CurlCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
