#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "httpclient/NetworkReachabilityManager.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "platform/url/URLError.h"
#include "server/NetworkingService.h"
#include "support/files/TemporaryFolder.h"
#include "support/server/LoopbackServer.h"

// A networking service on a loopback server, each call's outcome recorded.
namespace support::networking {

using namespace platform;
using support::LoopbackServer;

struct Fixture {
    RunLoop loop;
    Dispatch dispatch{loop};
    TemporaryFolder scratch;
    std::filesystem::path folder{scratch.path()};

    struct Outcome {
        std::mutex mutex;
        int calls = 0;
        bool succeeded = false;
        std::optional<Bytes> data;
        std::optional<Error> error;
        bool onBackground = false;
    };

    std::shared_ptr<Outcome> download(const std::string& url, const std::string& path,
                                      std::optional<NetworkingService::Limits> limits = std::nullopt)
    {
        return run(limits, [&](NetworkingService& service, auto success, auto failure) {
            service.downloadAPISuccess(success, failure, request(url), path);
        });
    }
    // The same download held in memory.
    std::shared_ptr<Outcome> hold(const std::string& url, std::optional<NetworkingService::Limits> limits = std::nullopt)
    {
        return run(limits, [&](NetworkingService& service, auto success, auto failure) {
            service.downloadIntoMemory(success, failure, request(url));
        });
    }

private:
    static URLRequest request(const std::string& url)
    {
        return URLRequest(url, 5.0, URLRequest::ReloadIgnoringLocalCacheData);
    }
    template <typename Start>
    std::shared_ptr<Outcome> run(std::optional<NetworkingService::Limits> limits, Start start)
    {
        auto outcome = std::make_shared<Outcome>();
        auto service = std::make_shared<NetworkingService>(dispatch, nullptr, limits);
        auto& background = dispatch.global(Priority::Background);
        start(
            *service,
            NetworkingService::SuccessBlock([outcome, &background](std::optional<Bytes> data) {
                std::lock_guard lock(outcome->mutex);
                ++outcome->calls;
                outcome->succeeded = true;
                outcome->data = std::move(data);
                outcome->onBackground = background.isCurrent();
            }),
            NetworkingService::FailureBlock([outcome, &background](const Error& error) {
                std::lock_guard lock(outcome->mutex);
                ++outcome->calls;
                outcome->error = error;
                outcome->onBackground = background.isCurrent();
            }));
        loop.runUntil([&] {
            std::lock_guard lock(outcome->mutex);
            return outcome->calls > 0;
        });
        loop.runUntilIdle();
        return outcome;
    }
};

}  // namespace support::networking
