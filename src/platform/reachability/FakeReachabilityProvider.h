#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/MainExecutor.h"
#include "platform/reachability/Reachability.h"

namespace platform {

// A provider whose flags the test sets; every reference it made reports them, and scheduled references
// hear each change on the main queue, like the kernel-backed provider.
class FakeReachabilityProvider final : public ReachabilityProvider {
public:
    explicit FakeReachabilityProvider(MainExecutor& main);
    ~FakeReachabilityProvider() override;

    std::unique_ptr<Reachability> createWithAddress(const sockaddr* address) override;
    std::unique_ptr<Reachability> createWithName(const std::string& hostName) override;

    // Changes the flags and tells every scheduled reference (even when they did not change).
    void setFlags(std::uint32_t flags);
    // Makes getFlags fail until set back.
    void setFlagsUnavailable(bool unavailable);
    std::size_t scheduledCount() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace platform
