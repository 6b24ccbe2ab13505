#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "httpclient/NetworkReachabilityManager.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "platform/url/URLError.h"
#include "server/NetworkingService.h"
#include "support/server/HttpFixture.h"

// A networking service on a loopback server, each call's outcome recorded.
namespace support::networking {

using namespace platform;
using support::LoopbackServer;

struct Fixture : HttpFixture {
    LoopbackServer server;

    struct Outcome {
        std::mutex mutex;
        int calls = 0;
        bool succeeded = false;
        std::optional<Bytes> data;
        std::optional<Error> error;
        bool onBackground = false;
    };

    // The server's path downloaded into the file, or (with no file) held in memory.
    std::shared_ptr<Outcome> download(const std::string& path, std::optional<std::string> file,
                                      std::optional<NetworkingService::Limits> limits = std::nullopt)
    {
        auto outcome = std::make_shared<Outcome>();
        auto service = std::make_shared<NetworkingService>(dispatch, nullptr, limits);
        auto& background = dispatch.global(Priority::Background);
        const auto finish = [outcome, &background](bool succeeded, std::optional<Bytes> data, std::optional<Error> error) {
            std::lock_guard lock(outcome->mutex);
            ++outcome->calls;
            outcome->succeeded = succeeded;
            outcome->data = std::move(data);
            outcome->error = std::move(error);
            outcome->onBackground = background.isCurrent();
        };
        NetworkingService::SuccessBlock success = [finish](std::optional<Bytes> data) { finish(true, std::move(data), std::nullopt); };
        NetworkingService::FailureBlock failure = [finish](const Error& error) { finish(false, std::nullopt, error); };
        const URLRequest request(server.url(path), 5.0, URLRequest::ReloadIgnoringLocalCacheData);
        if (file) service->downloadAPISuccess(success, failure, request, *file);
        else service->downloadIntoMemory(success, failure, request);
        loop.runUntil([&] {
            std::lock_guard lock(outcome->mutex);
            return outcome->calls > 0;
        });
        loop.runUntilIdle();
        return outcome;
    }
};

}  // namespace support::networking
