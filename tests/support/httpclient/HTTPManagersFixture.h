#pragma once

#include <gtest/gtest.h>
#include <algorithm>
#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>
#include <nlohmann/json.hpp>

#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/MultipartFormData.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "httpclient/session/HTTPSessionManager.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/URLError.h"
#include "support/server/LoopbackServer.h"
#include "support/server/RawHTTPRecorder.h"

// Both HTTP managers, the session-based and the operation-based, on one loopback server: a typed
// fixture whose managers make multipart boundaries that are known in advance.
namespace support::httpmanagers {

using namespace platform;
using support::LoopbackServer;

// How a test makes and ends each kind of manager. `Handle` is the manager's task or operation pointer.
struct SessionKind {
    using Manager = HTTPSessionManager;
    using Handle = URLSessionManager::TaskPtr;
    static std::shared_ptr<Manager> make(Dispatch& dispatch, NotificationCenter& center, std::optional<std::string> base)
    {
        return HTTPSessionManager::create(dispatch, center, std::move(base));
    }
    static void finish(Manager& manager, RunLoop& loop)
    {
        // Set on the delegate queue, read on the main thread.
        std::atomic<bool> invalid{false};
        manager.setSessionDidBecomeInvalidBlock([&](URLSession&, const std::optional<Error>&) { invalid = true; });
        manager.invalidateSessionCancelingTasks(true);
        loop.runUntil([&] { return invalid.load(); });
    }
};

struct OperationKind {
    using Manager = HTTPRequestOperationManager;
    using Handle = Manager::OperationPtr;
    static std::shared_ptr<Manager> make(Dispatch& dispatch, NotificationCenter&, std::optional<std::string> base)
    {
        return std::make_shared<Manager>(dispatch, std::move(base));
    }
    static void finish(Manager&, RunLoop&) {}
};

// What one call reported: which block ran, on which thread, with what; and the wait for either block.
template <typename Kind>
struct Call {
    using Manager = typename Kind::Manager;
    using Handle = typename Kind::Handle;
    struct Outcome {
        int successes = 0, failures = 0;
        bool onMain = false;
        Handle handle;
        std::any object;
        std::optional<Error> error;
    };
    RunLoop& loop;
    std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();

    typename Manager::SuccessBlock success() const
    {
        return [loop = &loop, outcome = outcome](const Handle& handle, const std::any& object) {
            ++outcome->successes;
            outcome->onMain = loop->isMainThread();
            outcome->handle = handle;
            outcome->object = object;
        };
    }
    typename Manager::FailureBlock failure() const
    {
        return [loop = &loop, outcome = outcome](const Handle& handle, const Error& error) {
            ++outcome->failures;
            outcome->onMain = loop->isMainThread();
            outcome->handle = handle;
            outcome->error = error;
        };
    }
    // False when neither block ran in time.
    bool wait() const
    {
        const bool ran = loop.runUntil([&] { return outcome->successes + outcome->failures > 0; });
        loop.runUntilIdle();
        return ran;
    }
};

// One HTTP method of a manager, called uniformly (HEAD's success block gets no object); `inQuery` tells
// whether its parameters belong in the URL.
template <typename Kind>
struct Verb {
    using Manager = typename Kind::Manager;
    using Handle = typename Kind::Handle;
    std::string method;
    std::function<Handle(Manager&, const std::string&, const std::optional<ParameterValue>&, typename Manager::SuccessBlock,
                         typename Manager::FailureBlock)>
        call;
    bool inQuery;

    static const std::vector<Verb>& all()
    {
        static const std::vector<Verb> verbs = {
            {"GET", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.GET(u, p, s, f); }, true},
            {"HEAD", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.HEAD(u, p, [s](const Handle& h) { s(h, std::any()); }, f); }, true},
            {"POST", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.POST(u, p, s, f); }, false},
            {"PUT", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.PUT(u, p, s, f); }, false},
            {"PATCH", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.PATCH(u, p, s, f); }, false},
            {"DELETE", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.DELETE(u, p, s, f); }, true},
        };
        return verbs;
    }
};

template <typename Kind>
struct HTTPManagers : ::testing::Test {
    using Manager = typename Kind::Manager;
    using Call = httpmanagers::Call<Kind>;
    using Verb = httpmanagers::Verb<Kind>;

    RunLoop loop;
    Dispatch dispatch{loop};
    NotificationCenter center;
    LoopbackServer server;
    std::vector<std::shared_ptr<Manager>> made;

    // Multipart boundaries come out as "Boundary+0000000A0000000B".
    std::shared_ptr<Manager> make(std::optional<std::string> base, std::shared_ptr<HTTPRequestSerializer> serializer = nullptr)
    {
        auto manager = Kind::make(dispatch, center, std::move(base));
        if (!serializer) {
            serializer = std::make_shared<HTTPRequestSerializer>(ProcessInfo{});
            serializer->randomSource = [n = 9u]() mutable { return ++n; };
        }
        manager->setRequestSerializer(serializer);
        made.push_back(manager);
        return manager;
    }
    void TearDown() override
    {
        for (const auto& manager : made) Kind::finish(*manager, loop);
        // A session's last task may still hold its manager on a pool thread, and a manager leaves the
        // notification centre as it goes: every one must be gone before the centre is.
        std::vector<std::weak_ptr<Manager>> gone(made.begin(), made.end());
        made.clear();
        EXPECT_TRUE(loop.runUntil([&] {
            return std::all_of(gone.begin(), gone.end(), [](const auto& manager) { return manager.expired(); });
        })) << "a finished manager is kept";
    }
};

}  // namespace support::httpmanagers
