#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "httpclient/HTTPRequestOperation.h"
#include "platform/dispatch/RunLoop.h"
#include "support/files/TemporaryFolder.h"
#include "support/server/LoopbackServer.h"

// A main run loop, queues and a scratch folder for one test, and HTTP operations run on them.
struct HttpFixture {
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop};
    TemporaryFolder scratch;
    std::filesystem::path folder{scratch.path()};

    struct Outcome {
        bool done = false;
        bool succeeded = false;
        std::any object;
        std::optional<platform::Error> error;
        bool ranOnMain = false;
    };

    // Generous: a TLS handshake under the thread sanitizer on a loaded machine can take seconds.
    std::shared_ptr<HTTPRequestOperation> operation(const std::string& url, double timeout = 30.0)
    {
        return std::make_shared<HTTPRequestOperation>(dispatch, platform::URLRequest(url, timeout));
    }

    // Sets the operation's blocks to fill an outcome the test can wait on.
    std::shared_ptr<Outcome> watch(const std::shared_ptr<HTTPRequestOperation>& operation)
    {
        auto outcome = std::make_shared<Outcome>();
        operation->setCompletionBlockWithSuccess(
            [this, outcome](HTTPRequestOperation&, const std::any& object) {
                outcome->done = outcome->succeeded = true;
                outcome->object = object;
                outcome->ranOnMain = loop.isMainThread();
            },
            [this, outcome](HTTPRequestOperation&, const platform::Error& error) {
                outcome->done = true;
                outcome->error = error;
                outcome->ranOnMain = loop.isMainThread();
            });
        return outcome;
    }

    // Starts the operation and runs the main loop until one of its blocks has run.
    Outcome run(const std::shared_ptr<HTTPRequestOperation>& operation, bool start = true)
    {
        auto outcome = watch(operation);
        if (start) operation->start();
        loop.runUntil([&] { return outcome->done; });
        loop.runUntilIdle();
        return *outcome;
    }
};
