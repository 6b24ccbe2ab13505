#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/RunLoop.h"
#include "platform/error/Error.h"

namespace support {

// What one call of an HTTP manager reported: which block ran, on which thread, with what. `Handle` is
// the manager's task or operation pointer.
template <typename Handle>
struct ManagerOutcome {
    int successes = 0;
    int failures = 0;
    bool onMain = false;
    Handle handle;
    std::any object;
    std::optional<platform::Error> error;
};

// The blocks of one call, recording into an outcome, and the wait for either of them.
template <typename Manager, typename Handle>
struct ManagerCall {
    platform::RunLoop& loop;
    std::shared_ptr<ManagerOutcome<Handle>> outcome = std::make_shared<ManagerOutcome<Handle>>();

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
        return [loop = &loop, outcome = outcome](const Handle& handle, const platform::Error& error) {
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
template <typename Manager, typename Handle, typename Parameters>
struct ManagerVerb {
    std::string method;
    std::function<Handle(Manager&, const std::string&, const Parameters&, typename Manager::SuccessBlock,
                         typename Manager::FailureBlock)>
        call;
    bool inQuery;

    static const std::vector<ManagerVerb>& all()
    {
        static const std::vector<ManagerVerb> verbs = {
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

}  // namespace support
