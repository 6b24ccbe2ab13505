#include "platform/icmp/FakeIcmpProvider.h"

namespace platform {

class FakeIcmpSocket final : public IcmpSocket {
public:
    FakeIcmpSocket(FakeIcmpProvider& provider, std::uint16_t identifier) : m_provider(provider), m_identifier(identifier)
    {
        m_provider.m_open = true;
    }
    ~FakeIcmpSocket() override
    {
        m_provider.m_open = false;
        m_provider.m_reader = nullptr;
    }

    long sendTo(const std::uint8_t* data, std::size_t size, const sockaddr* address, socklen_t length,
                int& error) override
    {
        const auto* addressBytes = reinterpret_cast<const std::uint8_t*>(address);
        m_provider.sent.push_back({{data, data + size}, {addressBytes, addressBytes + length}});
        if (m_provider.sendResult) {
            error = m_provider.sendError;
            return *m_provider.sendResult;
        }
        return static_cast<long>(size);
    }

    std::uint16_t identifier() const override { return m_identifier; }

    void startReading(ReadCallback callback) override
    {
        m_callback = std::move(callback);
        m_provider.m_reader = &m_callback;
    }

private:
    FakeIcmpProvider& m_provider;
    std::uint16_t m_identifier;
    ReadCallback m_callback;
};

std::unique_ptr<IcmpSocket> FakeIcmpProvider::open(std::uint16_t identifier, int& error)
{
    if (openError != 0) {
        error = openError;
        return nullptr;
    }
    boundIdentifier = givenIdentifier.value_or(identifier);
    return std::make_unique<FakeIcmpSocket>(*this, boundIdentifier);
}

std::shared_ptr<void> FakeIcmpProvider::resolve(const std::string& hostName, ResolveCallback callback)
{
    auto token = std::make_shared<int>(0);
    m_lookups.push_back({hostName, token, std::move(callback)});
    return token;
}

void FakeIcmpProvider::deliver(const std::vector<std::uint8_t>& datagram)
{
    // A copy: the reader may close the socket, and with it the callback, while it runs.
    if (auto reader = m_reader ? *m_reader : IcmpSocket::ReadCallback{}) reader(datagram, static_cast<long>(datagram.size()), 0);
}

void FakeIcmpProvider::failRead(long result, int error)
{
    if (auto reader = m_reader ? *m_reader : IcmpSocket::ReadCallback{}) reader({}, result, error);
}

std::vector<std::string> FakeIcmpProvider::pendingLookups() const
{
    std::vector<std::string> names;
    for (const auto& lookup : m_lookups)
        if (!lookup.token.expired()) names.push_back(lookup.name);
    return names;
}

void FakeIcmpProvider::answer(const std::vector<std::vector<std::uint8_t>>& addresses, int error)
{
    while (!m_lookups.empty()) {
        auto lookup = std::move(m_lookups.front());
        m_lookups.erase(m_lookups.begin());
        if (lookup.token.expired()) continue;
        lookup.callback(addresses, error);
        return;
    }
}

}  // namespace platform
