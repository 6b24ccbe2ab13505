// The kernel's routing answers, read as the reachability monitor reads them. The input is cut into the
// link, route and address answers by its first two bytes; the target address is chosen by the third.
// The reader must stay inside each answer, and the flags it gives must be ones it can give: a loopback
// target is always local and direct.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "FuzzInput.h"
#include "platform/reachability/NetlinkReachabilityProvider.h"

using platform::NetlinkReachabilityProvider;
using fuzzinput::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) return 0;
    const std::size_t rest = size - 3;
    const std::size_t first = std::min<std::size_t>(data[0] * 8u, rest);
    const std::size_t second = std::min<std::size_t>(first + data[1] * 8u, rest);
    const std::uint8_t* body = data + 3;
    const std::vector<std::uint8_t> links(body, body + first);
    const std::vector<std::uint8_t> routes(body + first, body + second);
    const std::vector<std::uint8_t> addresses(body + second, body + rest);

    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    const sockaddr* target = reinterpret_cast<const sockaddr*>(&v4);
    bool loopback = false;
    switch (data[2] % 5) {
    case 0: break;  // the zero address: is there a default route?
    case 1: v4.sin_addr.s_addr = htonl(0x0A000001); break;
    case 2: v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK); loopback = true; break;
    case 3: target = reinterpret_cast<const sockaddr*>(&v6); break;
    default:
        v6.sin6_addr.s6_addr[0] = 0x20;
        v6.sin6_addr.s6_addr[1] = 0x01;
        v6.sin6_addr.s6_addr[15] = 1;
        target = reinterpret_cast<const sockaddr*>(&v6);
    }
    const auto flags = NetlinkReachabilityProvider::flagsFromDumps(links, routes, addresses, target);
    if (!flags) return 0;
    constexpr std::uint32_t kLocal = platform::kReachabilityFlagReachable | platform::kReachabilityFlagIsLocalAddress |
                                     platform::kReachabilityFlagIsDirect;
    check((*flags & ~kLocal) == 0, "a flag the routing state cannot give");
    if (loopback) check(*flags == kLocal, "loopback is not local");
    if (*flags & platform::kReachabilityFlagIsDirect) check(*flags == kLocal, "direct without being local");
    return 0;
}
