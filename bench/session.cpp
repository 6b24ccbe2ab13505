// Fifty 1 MiB files served on the loopback interface: downloaded at once through download tasks of one
// session manager (each moved to its destination) and, side by side, fetched in parallel by the curl
// command-line tool. Compare the two times per iteration for the ratio.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "CurlCommandLine.h"
#include "httpclient/session/URLSessionManager.h"
#include "platform/dispatch/RunLoop.h"
#include "support/server/LoopbackServer.h"

namespace {

constexpr int kFiles = 50;
constexpr std::size_t kFileSize = 1 << 20;

struct Files {
    support::LoopbackServer server;
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("rig-bench-session-" + std::to_string(getpid()));

    Files()
    {
        std::mt19937 random(11);
        for (int i = 0; i < kFiles; ++i) {
            std::string content(kFileSize, '\0');
            for (auto& byte : content) byte = static_cast<char>(random());
            server.serve(path(i), std::move(content));
        }
    }
    ~Files() { std::filesystem::remove_all(folder); }
    static std::string path(int i) { return "/file/" + std::to_string(i) + ".bin"; }
    static Files& shared()
    {
        static Files files;
        return files;
    }
};

void BM_SessionDownloadTasks(benchmark::State& state)
{
    Files& files = Files::shared();
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    platform::NotificationCenter center;
    auto manager = URLSessionManager::create(dispatch, center);
    const auto target = files.folder / "session";
    for (auto _ : state) {
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(target);
        int done = 0, failed = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string destination = (target / (std::to_string(i) + ".bin")).string();
            manager
                ->downloadTaskWithRequest(
                    platform::URLRequest(files.server.url(Files::path(i)), 30.0), nullptr,
                    [destination](const std::string&, const std::optional<platform::URLResponse>&) {
                        return std::optional<std::string>(destination);
                    },
                    [&](const std::optional<platform::URLResponse>&, const std::any&, const std::optional<platform::Error>& error) {
                        if (error) ++failed;
                        ++done;
                    })
                ->resume();
        }
        loop.runUntil([&] { return done == kFiles; }, std::chrono::seconds(120));
        if (failed != 0 || done != kFiles) state.SkipWithError("a download failed");
    }
    manager->invalidateSessionCancelingTasks(true);
    std::weak_ptr<URLSessionManager> gone = manager;
    manager.reset();
    loop.runUntil([&] { return gone.expired(); });
    state.SetBytesProcessed(state.iterations() * kFiles * static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_SessionDownloadTasks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlCommandLine(benchmark::State& state)
{
    Files& files = Files::shared();
    std::vector<std::string> urls;
    for (int i = 0; i < kFiles; ++i) urls.push_back(files.server.url(Files::path(i)));
    timeCurlCommandLine(state, urls, files.folder / "curl", static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_CurlCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
