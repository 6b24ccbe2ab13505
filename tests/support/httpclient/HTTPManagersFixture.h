#pragma once

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>
#include <nlohmann/json.hpp>

#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/MultipartFormData.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "httpclient/session/HTTPSessionManager.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/URLError.h"
#include "support/server/LoopbackServer.h"
#include "support/server/ManagerCalls.h"
#include "support/server/ManagerKinds.h"
#include "support/server/RawHTTPRecorder.h"

// Both HTTP managers, the session-based and the operation-based, on one loopback server: a typed
// fixture whose managers make multipart boundaries that are known in advance.
namespace support::httpmanagers {

using namespace platform;
using support::LoopbackServer;

template <typename Kind>
struct HTTPManagers : ::testing::Test {
    using Manager = typename Kind::Manager;
    using Call = support::ManagerCall<Manager, typename Kind::Handle>;
    using Verb = support::ManagerVerb<Manager, typename Kind::Handle, std::optional<ParameterValue>>;

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
