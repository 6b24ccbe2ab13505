#include "platform/icmp/LinuxIcmpProvider.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform {

// What outlives the provider: resolution threads and reader threads post through it only while it lives.
struct LinuxIcmpProvider::Shared {
    explicit Shared(MainExecutor& m) : main(&m) {}
    std::mutex mutex;
    MainExecutor* main;

    void post(Task task)
    {
        std::lock_guard lock(mutex);
        if (main) main->post(std::move(task));
    }
};

namespace {

constexpr std::size_t kIpv4HeaderSize = 20;

class LinuxIcmpSocket final : public IcmpSocket {
public:
    LinuxIcmpSocket(int fd, std::uint16_t identifier, std::shared_ptr<LinuxIcmpProvider::Shared> shared)
        : m_fd(fd), m_identifier(identifier), m_wake(::eventfd(0, EFD_CLOEXEC)), m_shared(std::move(shared))
    {
    }
    ~LinuxIcmpSocket() override
    {
        *m_alive = false;
        if (m_reader.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(m_wake, &one, sizeof one);
            m_reader.join();
        }
        ::close(m_wake);
        ::close(m_fd);
    }

    std::uint16_t identifier() const override { return m_identifier; }

    long sendTo(const std::uint8_t* data, std::size_t size, const sockaddr* address, socklen_t length,
                int& error) override
    {
        const auto sent = ::sendto(m_fd, data, size, 0, address, length);
        if (sent < 0) error = errno;
        return sent;
    }

    void startReading(ReadCallback callback) override
    {
        if (m_reader.joinable() || m_wake < 0) return;
        m_reader = std::thread([this, callback = std::move(callback)] { readLoop(callback); });
    }

private:
    void readLoop(const ReadCallback& callback)
    {
        std::vector<std::uint8_t> buffer(65535);
        while (true) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            sockaddr_in sender{};
            socklen_t senderLength = sizeof sender;
            const auto n = ::recvfrom(m_fd, buffer.data() + kIpv4HeaderSize, buffer.size() - kIpv4HeaderSize, 0,
                                      reinterpret_cast<sockaddr*>(&sender), &senderLength);
            const int error = n < 0 ? errno : 0;
            std::vector<std::uint8_t> datagram;
            if (n > 0) {
                datagram.assign(buffer.begin(), buffer.begin() + static_cast<long>(kIpv4HeaderSize) + n);
                datagram[0] = 0x45;  // version 4, five 32-bit words
                const auto total = static_cast<std::uint16_t>(datagram.size());
                datagram[2] = static_cast<std::uint8_t>(total >> 8);
                datagram[3] = static_cast<std::uint8_t>(total);
                datagram[9] = IPPROTO_ICMP;
                std::memcpy(&datagram[12], &sender.sin_addr, 4);
            }
            const long result = n > 0 ? static_cast<long>(datagram.size()) : static_cast<long>(n);
            std::weak_ptr<bool> alive = m_alive;
            m_shared->post([alive, callback, datagram = std::move(datagram), result, error] {
                if (auto live = alive.lock(); live && *live) callback(datagram, result, error);
            });
            if (n <= 0) return;
        }
    }

    int m_fd;
    std::uint16_t m_identifier;
    int m_wake;
    std::shared_ptr<LinuxIcmpProvider::Shared> m_shared;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::thread m_reader;
};

}  // namespace

LinuxIcmpProvider::LinuxIcmpProvider(MainExecutor& main) : m_shared(std::make_shared<Shared>(main)) {}

LinuxIcmpProvider::~LinuxIcmpProvider()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->main = nullptr;
}

std::unique_ptr<IcmpSocket> LinuxIcmpProvider::open(std::uint16_t identifier, int& error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(identifier);
    int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    if (bound != 0 && errno == EADDRINUSE) {
        local.sin_port = 0;
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    socklen_t length = sizeof local;
    if (bound != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LinuxIcmpSocket>(fd, ntohs(local.sin_port), m_shared);
}

std::shared_ptr<void> LinuxIcmpProvider::resolve(const std::string& hostName, ResolveCallback callback)
{
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> weak = token;
    std::thread([shared = m_shared, hostName, callback = std::move(callback), weak] {
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        const int error = ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found);
        std::vector<std::vector<std::uint8_t>> addresses;
        for (auto* info = found; info; info = info->ai_next) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(info->ai_addr);
            addresses.emplace_back(bytes, bytes + info->ai_addrlen);
        }
        if (found) ::freeaddrinfo(found);
        shared->post([weak, callback, addresses = std::move(addresses), error] {
            if (weak.lock()) callback(addresses, error);
        });
    }).detach();
    return token;
}

}  // namespace platform
