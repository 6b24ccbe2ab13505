#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>

#include "httpclient/HTTPResponseSerializer.h"
#include "httpclient/session/URLSessionManager.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/url/URLError.h"
#include "support/server/LoopbackServer.h"

// A session manager on a loopback server, each task's outcome recorded with the thread it came on.
namespace support::sessionmanager {

using namespace platform;
using support::LoopbackServer;

struct Outcome {
    bool done = false;
    bool onMain = false;
    std::optional<URLResponse> response;
    std::any object;
    std::optional<Error> error;
};

struct ManagerFixture : ::testing::Test {
    RunLoop loop;
    Dispatch dispatch{loop};
    NotificationCenter center;
    LoopbackServer server;
    std::shared_ptr<URLSessionManager> manager = URLSessionManager::create(dispatch, center);
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("rig-session-manager-" + std::to_string(getpid()));
    // Invalidation and move failures are posted on the delegate queue, the rest on the main queue.
    mutable std::mutex postedLock;
    std::vector<Notification> posted;

    void SetUp() override
    {
        // The bodies here are plain bytes; the default JSON serializer has its own test.
        manager->setResponseSerializer(HTTPResponseSerializer::serializer());
        std::filesystem::create_directories(folder);
        for (const char* name : {NetworkingTaskDidResumeNotification, NetworkingTaskDidSuspendNotification, NetworkingTaskDidCompleteNotification,
                                 URLSessionDidInvalidateNotification, URLSessionDownloadTaskDidFailToMoveFileNotification})
            center.addObserver(name, nullptr, [this](const Notification& n) {
                std::lock_guard lock(postedLock);
                posted.push_back(loop.isMainThread() ? n : Notification{n.name + " off main", n.sender, n.userInfo});
            });
    }
    void TearDown() override
    {
        manager->invalidateSessionCancelingTasks(true);
        const void* session = manager->session().get();
        loop.runUntil([&] { return invalidated(session) > 0; });
        // The session's last task may still hold the manager on a pool thread, and the manager leaves the
        // notification centre as it goes: it must be gone before the centre is.
        std::weak_ptr<URLSessionManager> gone = manager;
        manager.reset();
        EXPECT_TRUE(loop.runUntil([&] { return gone.expired(); })) << "an invalidated session keeps its manager";
        std::filesystem::remove_all(folder);
    }
    int count(const std::string& name, const void* sender = nullptr) const
    {
        std::lock_guard lock(postedLock);
        return static_cast<int>(std::count_if(posted.begin(), posted.end(),
                                              [&](const Notification& n) { return n.name == name && (!sender || n.sender == sender); }));
    }
    // How often a session (any, given none) said it became invalid.
    int invalidated(const void* session = nullptr) const { return count(URLSessionDidInvalidateNotification + std::string(" off main"), session); }
    URLSessionManager::CompletionHandler collect(std::shared_ptr<Outcome> outcome)
    {
        return [this, outcome](const std::optional<URLResponse>& response, const std::any& object, const std::optional<Error>& error) {
            *outcome = {true, loop.isMainThread(), response, object, error};
        };
    }
    Outcome run(const URLSessionManager::TaskPtr& task, const std::shared_ptr<Outcome>& outcome)
    {
        task->resume();
        EXPECT_TRUE(loop.runUntil([&] { return outcome->done && count(NetworkingTaskDidCompleteNotification) > 0; }));
        return *outcome;
    }
    // A data task for the server's path, run to its end.
    Outcome fetch(const std::string& path)
    {
        auto outcome = std::make_shared<Outcome>();
        return run(manager->dataTaskWithRequest(URLRequest(server.url(path), 5), collect(outcome)), outcome);
    }
    Notification last() const
    {
        std::lock_guard lock(postedLock);
        return posted.back();
    }
    void forget()
    {
        std::lock_guard lock(postedLock);
        posted.clear();
    }
    static std::string text(const std::any& object)
    {
        const auto* bytes = std::any_cast<Bytes>(&object);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<not bytes>");
    }
};

}  // namespace support::sessionmanager
