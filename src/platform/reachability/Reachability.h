#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Reachability flag bits, with the meanings the status mapping reads.
enum ReachabilityFlag : std::uint32_t {
    kReachabilityFlagTransientConnection = 1u << 0,
    kReachabilityFlagReachable = 1u << 1,
    kReachabilityFlagConnectionRequired = 1u << 2,
    kReachabilityFlagConnectionOnTraffic = 1u << 3,
    kReachabilityFlagInterventionRequired = 1u << 4,
    kReachabilityFlagConnectionOnDemand = 1u << 5,
    kReachabilityFlagIsLocalAddress = 1u << 16,
    kReachabilityFlagIsDirect = 1u << 17,
};

// Whether one address or host name can be reached, and notice when that changes.
class Reachability {
public:
    using Callback = std::function<void(std::uint32_t flags)>;

    virtual ~Reachability() = default;
    // The current flags; false when they cannot be found out.
    virtual bool getFlags(std::uint32_t& flags) = 0;
    // Starts calling `callback` on the main queue whenever the flags change; replaces an earlier schedule.
    virtual void schedule(Callback callback) = 0;
    // Stops the calls; a change already on its way to the main queue is dropped.
    virtual void unschedule() = 0;
};

// Makes reachability references for addresses and names.
class ReachabilityProvider {
public:
    virtual ~ReachabilityProvider() = default;
    // The address must be AF_INET or AF_INET6; nullptr for anything else.
    virtual std::unique_ptr<Reachability> createWithAddress(const sockaddr* address) = 0;
    virtual std::unique_ptr<Reachability> createWithName(const std::string& hostName) = 0;
};

}  // namespace platform
