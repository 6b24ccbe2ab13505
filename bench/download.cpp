// Fifty 1 MiB archives served on the loopback interface, over HTTP or HTTPS: downloaded in parallel by the
// download service (and unpacked into the effect store as the program does, or not), and in the same
// iteration fetched in parallel by the curl command-line tool. Over HTTPS both trust the server through a
// CA bundle: the system's bundle with the test authority added, or the test authority alone.
// curl is started before its timed region and waits for its list of transfers on its input; only the
// transfers are timed, from handing it the list until it exits. The two take turns going first. Each
// result is checked outside the timed region: every unpacked file, or every downloaded archive, and
// every file curl wrote, byte for byte.
// Each case runs a fixed number of rounds and reports medians with their quartiles: a single slow curl
// run (or a slow round of the service) among one to five iterations used to decide a whole ratio.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/bundle/Configuration.h"
#include "platform/bundle/StringsTable.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/url/URLRequest.h"
#include "server/DownloadAPIController.h"
#include "server/NetworkingService.h"
#include "server/ZipArchive.h"
#include "support/server/LoopbackServer.h"
#include "support/server/TestCertificates.h"

#include "Spread.h"

extern char** environ;

namespace {

constexpr int kFiles = 50;
constexpr std::size_t kFileSize = 1 << 20;
// Rounds per case: enough for quartiles, few enough for the system bundle's slow curl runs.
constexpr int kRounds = 9;
using Clock = std::chrono::steady_clock;

// How the archives are served: over HTTP, or over HTTPS with a CA bundle of the system's size or of one
// certificate.
enum class Transport { Http = 0, HttpsSystemBundle = 1, HttpsOneCertificate = 2 };

constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

struct Catalogue {
    support::TestIdentity authority = support::TestCertificates::makeAuthority("Bench Root");
    support::LoopbackServer server;
    support::LoopbackServer secureServer{
        support::TestCertificates::makeServer(authority, "127.0.0.1", {"DNS:localhost", "IP:127.0.0.1"})};
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("rig-bench-download-" + std::to_string(getpid()));
    std::vector<Bytes> contents;  // what each archive unpacks to
    std::vector<Bytes> archives;  // what is served

    Catalogue()
    {
        std::filesystem::create_directories(folder / "source");
        std::mt19937 random(7);
        platform::LocalFileManager files;
        for (int i = 0; i < kFiles; ++i) {
            Bytes content(kFileSize);
            for (auto& byte : content) byte = static_cast<std::uint8_t>(random() & 0x3F);  // compresses somewhat
            const auto archive = folder / "source" / (std::to_string(i) + ".zip");
            ZipArchive writer(archive.string());
            writer.open();
            writer.writeData(content, "effect.bin");
            writer.close();
            archives.push_back(files.readFile(archive.string()).value_or(Bytes{}));
            contents.push_back(std::move(content));
            const std::string body(archives.back().begin(), archives.back().end());
            server.serve(path(i), body, "application/zip");
            secureServer.serve(path(i), body, "application/zip");
        }
        const auto system = files.readFile(kSystemBundle).value_or(Bytes{});
        writeText(bundle(Transport::HttpsSystemBundle),
                  std::string(system.begin(), system.end()) + "\n" + authority.certificatePEM);
        writeText(bundle(Transport::HttpsOneCertificate), authority.certificatePEM);
    }
    ~Catalogue() { std::filesystem::remove_all(folder); }

    static std::string path(int i) { return "/qfx/" + std::to_string(i) + ".zip"; }
    std::string url(Transport transport, int i) const
    {
        return (transport == Transport::Http ? server : secureServer).url(path(i));
    }
    std::string bundle(Transport transport) const
    {
        return transport == Transport::Http ? std::string()
               : (folder / (transport == Transport::HttpsSystemBundle ? "system.pem" : "one.pem")).string();
    }
    static void writeText(const std::string& file, const std::string& text)
    {
        platform::LocalFileManager().writeAtomically(file, Bytes(text.begin(), text.end()));
    }

    static Catalogue& shared()
    {
        static Catalogue catalogue;
        return catalogue;
    }
};

// The download service fetching every archive into `target`; true when all succeeded. Unpacked, they go
// the program's way: the effect downloads of the server client, each archive unpacked into the effect
// folder of its own type under `target`.
bool downloadAll(platform::RunLoop& loop, platform::Dispatch& dispatch, const std::filesystem::path& target, bool unpack,
                 Transport transport)
{
    Catalogue& catalogue = Catalogue::shared();
    std::atomic<int> done{0}, failed{0};
    const auto controller =
        unpack ? DownloadAPIController::create(dispatch, target.string(),
                                               platform::Configuration(platform::StringsTable::parse(
                                                   "\"kDownload_Time_Out\" = \"30\";\n")))
               : nullptr;
    for (int i = 0; i < kFiles; ++i) {
        const std::string link = catalogue.url(transport, i);
        if (controller) {
            controller->requestFile(
                [&](bool ok, std::optional<std::string>, std::optional<platform::Error>) {
                    if (!ok) ++failed;
                    ++done;
                },
                link, DownloadAPIController::TypeEffect{"effect" + std::to_string(i)});
            continue;
        }
        auto service = std::make_shared<NetworkingService>(dispatch);
        service->downloadAPISuccess([&](std::optional<Bytes>) { ++done; },
                                    [&](const platform::Error&) {
                                        ++failed;
                                        ++done;
                                    },
                                    platform::URLRequest(link, 30.0), (target / (std::to_string(i) + ".zip")).string());
    }
    loop.runUntil([&] { return done.load() == kFiles; }, std::chrono::seconds(120));
    return done.load() == kFiles && failed.load() == 0;
}

// What the service left in `target` is what the server holds.
bool checkService(const std::filesystem::path& target, bool unpack)
{
    Catalogue& catalogue = Catalogue::shared();
    platform::LocalFileManager files;
    const auto effects = target / DownloadAPIController::kEffectFolder;
    for (int i = 0; i < kFiles; ++i) {
        const auto n = std::to_string(i);
        if (unpack ? files.readFile((effects / ("effect" + n) / "effect.bin").string()) != catalogue.contents[std::size_t(i)] ||
                         std::filesystem::exists(target / DownloadAPIController::kTempFolder / (n + ".zip"))
                   : files.readFile((target / (n + ".zip")).string()) != catalogue.archives[std::size_t(i)])
            return false;
    }
    return true;
}

// curl, started and waiting for its transfers on its input.
class WaitingCurl {
public:
    WaitingCurl(const std::filesystem::path& target, Transport transport)
    {
        Catalogue& catalogue = Catalogue::shared();
        if (transport != Transport::Http) m_config += "cacert = \"" + catalogue.bundle(transport) + "\"\n";
        for (int i = 0; i < kFiles; ++i)
            m_config += "url = \"" + catalogue.url(transport, i) + "\"\noutput = \"" +
                        (target / (std::to_string(i) + ".zip")).string() + "\"\n";
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"curl", "--silent", "--fail", "--parallel", "--parallel-max", "50", "--config", "-", nullptr};
        if (posix_spawnp(&m_pid, "curl", &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        m_input = fds[1];
        // Let it load and reach the read of its input, so the timed region holds only the transfers.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~WaitingCurl()
    {
        if (m_input >= 0) ::close(m_input);
        if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
    }

    // Hands over the transfers and waits for the exit; true when every transfer succeeded.
    bool run()
    {
        if (m_pid <= 0) return false;
        const bool written = ::write(m_input, m_config.data(), m_config.size()) == static_cast<ssize_t>(m_config.size());
        ::close(m_input);
        m_input = -1;
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return written && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    std::string m_config;
    pid_t m_pid = -1;
    int m_input = -1;
};

bool checkCurl(const std::filesystem::path& target)
{
    Catalogue& catalogue = Catalogue::shared();
    platform::LocalFileManager files;
    for (int i = 0; i < kFiles; ++i)
        if (files.readFile((target / (std::to_string(i) + ".zip")).string()) != catalogue.archives[std::size_t(i)])
            return false;
    return true;
}

double secondsSince(Clock::time_point begin)
{
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

void fresh(const std::filesystem::path& folder)
{
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
}

void reportSpread(benchmark::State& state, const char* name, const Spread& spread)
{
    state.counters[name] = spread.median;
    state.counters[std::string(name) + "_q1"] = spread.firstQuartile;
    state.counters[std::string(name) + "_q3"] = spread.thirdQuartile;
}

// Args: unpack (0 or 1) and the transport. The iteration time is the service's (its mean, as the library
// reports it); the counters give the medians and quartiles of the rounds: the service's time (ms), curl's
// (curl_ms) and the ratio of the two in each round (over_curl), whose median is the comparison.
void BM_DownloadVersusCurl(benchmark::State& state)
{
    const bool unpack = state.range(0) != 0;
    const auto transport = static_cast<Transport>(state.range(1));
    Catalogue& catalogue = Catalogue::shared();
    // The service trusts the server through the default store, which these point at.
    if (transport == Transport::Http) {
        unsetenv("SSL_CERT_FILE");
    } else {
        setenv("SSL_CERT_FILE", catalogue.bundle(transport).c_str(), 1);
        setenv("SSL_CERT_DIR", catalogue.folder.string().c_str(), 1);
    }
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    const auto ours = catalogue.folder / "service";
    const auto theirs = catalogue.folder / "curl";
    std::vector<double> serviceMs, curlMs, ratios;
    bool curlFirst = false;
    for (auto _ : state) {
        fresh(ours);
        fresh(theirs);
        WaitingCurl curl(theirs, transport);
        double service = 0, other = 0;
        bool serviceOk = true, curlOk = true;
        const auto runService = [&] {
            const auto begin = Clock::now();
            serviceOk = downloadAll(loop, dispatch, ours, unpack, transport);
            service = secondsSince(begin);
        };
        const auto runCurl = [&] {
            const auto begin = Clock::now();
            curlOk = curl.run();
            other = secondsSince(begin);
        };
        if (curlFirst) runCurl(), runService();
        else runService(), runCurl();
        curlFirst = !curlFirst;
        if (!serviceOk || !checkService(ours, unpack)) return state.SkipWithError("the service's files differ from the server's");
        if (!curlOk || !checkCurl(theirs)) return state.SkipWithError("curl's files differ from the server's");
        state.SetIterationTime(service);
        serviceMs.push_back(service * 1e3);
        curlMs.push_back(other * 1e3);
        ratios.push_back(other > 0 ? service / other : 0);
    }
    reportSpread(state, "ms", Spread::of(serviceMs));
    reportSpread(state, "curl_ms", Spread::of(curlMs));
    reportSpread(state, "over_curl", Spread::of(ratios));
    state.SetBytesProcessed(state.iterations() * kFiles * static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_DownloadVersusCurl)
    ->ArgNames({"unpack", "tls"})
    ->ArgsProduct({{1, 0}, {0, 1, 2}})
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
