#pragma once

#include <memory>

#include "platform/dispatch/MainExecutor.h"
#include "platform/icmp/IcmpSocket.h"

namespace platform {

// Unprivileged ICMP sockets (SOCK_DGRAM, IPPROTO_ICMP). The kernel uses the socket's bound port as the
// echo identifier and delivers replies without their IPv4 header, so the socket binds to the identifier
// and puts a plain IPv4 header back in front of each reply. An identifier another socket holds (or 0) is
// left to the kernel to choose, and the socket reports the one it got. Machines whose ping_group_range excludes us
// refuse the socket with EACCES, which open() reports like any other failure.
class LinuxIcmpProvider final : public IcmpProvider {
public:
    explicit LinuxIcmpProvider(MainExecutor& main);
    ~LinuxIcmpProvider() override;

    std::unique_ptr<IcmpSocket> open(std::uint16_t identifier, int& error) override;
    std::shared_ptr<void> resolve(const std::string& hostName, ResolveCallback callback) override;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

}  // namespace platform
