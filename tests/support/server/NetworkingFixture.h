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
        auto outcome = std::make_shared<Outcome>();
        auto service = std::make_shared<NetworkingService>(dispatch, nullptr, limits);
        auto& background = dispatch.global(Priority::Background);
        service->downloadAPISuccess(
            [outcome, &background](std::optional<Bytes> data) {
                std::lock_guard lock(outcome->mutex);
                ++outcome->calls;
                outcome->succeeded = true;
                outcome->data = std::move(data);
                outcome->onBackground = background.isCurrent();
            },
            [outcome, &background](const Error& error) {
                std::lock_guard lock(outcome->mutex);
                ++outcome->calls;
                outcome->error = error;
                outcome->onBackground = background.isCurrent();
            },
            URLRequest(url, 5.0, URLRequest::ReloadIgnoringLocalCacheData), path);
        loop.runUntil([&] {
            std::lock_guard lock(outcome->mutex);
            return outcome->calls > 0;
        });
        loop.runUntilIdle();
        return outcome;
    }
};

}  // namespace support::networking
