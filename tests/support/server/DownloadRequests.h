#pragma once

#include <gtest/gtest.h>
#include <mutex>
#include <vector>

#include "server/DownloadAPIController.h"
#include "server/DownloadTempFolder.h"
#include "support/server/ServerFixture.h"
#include "support/server/ZipMaker.h"

// A download controller on a loopback server, each request's answer recorded with the thread it came on.
namespace support::downloadrequests {

namespace fs = std::filesystem;
using platform::Error;
using Reply = support::LoopbackServer::Reply;

struct Outcome {
    std::mutex mutex;
    int calls = 0;
    bool success = false;
    std::optional<nlohmann::json> document;
    std::optional<std::string> path;
    std::optional<Error> error;
    bool onBackground = false;
};

struct Requests : ServerFixture {
    std::shared_ptr<DownloadAPIController> controller = DownloadAPIController::create(dispatch, root.string(), configuration());

    std::shared_ptr<Outcome> wait(const std::shared_ptr<Outcome>& outcome)
    {
        loop.runUntil([&] {
            std::lock_guard lock(outcome->mutex);
            return outcome->calls > 0;
        });
        loop.runUntilIdle();
        return outcome;
    }
    DownloadAPIController::FileCompletion fileInto(const std::shared_ptr<Outcome>& outcome)
    {
        auto* background = &dispatch.global(platform::Priority::Background);
        return [outcome, background](bool success, std::optional<std::string> path, std::optional<Error> error) {
            std::lock_guard lock(outcome->mutex);
            ++outcome->calls;
            outcome->success = success;
            outcome->path = path;
            outcome->error = error;
            outcome->onBackground = background->isCurrent();
        };
    }
    std::shared_ptr<Outcome> document(const std::string& path)
    {
        auto outcome = std::make_shared<Outcome>();
        controller->requestGetAPI(
            [outcome](bool success, std::optional<nlohmann::json> document, std::optional<std::string> file, std::optional<Error> error) {
                std::lock_guard lock(outcome->mutex);
                ++outcome->calls;
                outcome->success = success;
                outcome->document = std::move(document);
                outcome->path = file;
                outcome->error = error;
            },
            server.url(path));
        return wait(outcome);
    }
    std::shared_ptr<Outcome> archive(const std::string& path, const std::string& type)
    {
        auto outcome = std::make_shared<Outcome>();
        controller->requestFile(fileInto(outcome), server.url(path), DownloadAPIController::TypeEffect{type});
        return wait(outcome);
    }
    std::shared_ptr<Outcome> picture(const std::string& link, const std::string& modelID)
    {
        auto outcome = std::make_shared<Outcome>();
        controller->requestImage(fileInto(outcome), link, modelID);
        return wait(outcome);
    }
    // Effect archives of numbered types, asked for at once from the links `linkFor` gives, not waited for.
    std::vector<std::shared_ptr<Outcome>> archives(DownloadAPIController& from, int count, const std::function<std::string(int)>& linkFor)
    {
        std::vector<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < count; ++i) {
            outcomes.push_back(std::make_shared<Outcome>());
            from.requestFile(fileInto(outcomes.back()), server.url(linkFor(i)), DownloadAPIController::TypeEffect{"0E0000" + std::to_string(10 + i)});
        }
        return outcomes;
    }
    std::string zip(std::vector<zipmaker::Entry> entries)
    {
        const fs::path file = root / "made.zip";
        EXPECT_TRUE(zipmaker::write(file, entries));
        return zipmaker::readFile(file);
    }
    std::size_t filesIn(const fs::path& relative)
    {
        std::error_code ec;
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(root / relative, ec), fs::directory_iterator()));
    }
};

}  // namespace support::downloadrequests
