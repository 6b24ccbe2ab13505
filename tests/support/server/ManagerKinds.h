#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/session/HTTPSessionManager.h"
#include "platform/dispatch/RunLoop.h"

namespace support {

// How a test makes and ends each kind of HTTP manager, so one typed test covers both.
struct SessionKind {
    using Manager = HTTPSessionManager;
    using Handle = URLSessionManager::TaskPtr;
    static std::shared_ptr<Manager> make(platform::Dispatch& dispatch, platform::NotificationCenter& center, std::optional<std::string> base)
    {
        return HTTPSessionManager::create(dispatch, center, std::move(base));
    }
    static void finish(Manager& manager, platform::RunLoop& loop)
    {
        // Set on the delegate queue, read on the main thread.
        std::atomic<bool> invalid{false};
        manager.setSessionDidBecomeInvalidBlock([&](platform::URLSession&, const std::optional<platform::Error>&) { invalid = true; });
        manager.invalidateSessionCancelingTasks(true);
        loop.runUntil([&] { return invalid.load(); });
    }
};

struct OperationKind {
    using Manager = HTTPRequestOperationManager;
    using Handle = Manager::OperationPtr;
    static std::shared_ptr<Manager> make(platform::Dispatch& dispatch, platform::NotificationCenter&, std::optional<std::string> base)
    {
        return std::make_shared<Manager>(dispatch, std::move(base));
    }
    static void finish(Manager&, platform::RunLoop&) {}
};

}  // namespace support
