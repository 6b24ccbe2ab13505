#include "platform/reachability/FakeReachabilityProvider.h"

#include <algorithm>

namespace platform {

struct FakeReachabilityProvider::State {
    explicit State(MainExecutor& m) : main(m) {}
    MainExecutor& main;
    mutable std::mutex mutex;
    std::uint32_t flags = 0;
    bool unavailable = false;
    struct Registration {
        Reachability::Callback callback;
    };
    std::vector<std::weak_ptr<Registration>> scheduled;
};

namespace {

class FakeReachability final : public Reachability {
public:
    explicit FakeReachability(std::shared_ptr<FakeReachabilityProvider::State> state) : m_state(std::move(state)) {}
    ~FakeReachability() override { unschedule(); }

    bool getFlags(std::uint32_t& flags) override
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->unavailable) return false;
        flags = m_state->flags;
        return true;
    }
    void schedule(Callback callback) override
    {
        auto registration = std::make_shared<FakeReachabilityProvider::State::Registration>();
        registration->callback = std::move(callback);
        std::lock_guard lock(m_state->mutex);
        m_registration = registration;
        m_state->scheduled.push_back(registration);
    }
    void unschedule() override
    {
        std::lock_guard lock(m_state->mutex);
        m_registration.reset();
    }

private:
    std::shared_ptr<FakeReachabilityProvider::State> m_state;
    std::shared_ptr<FakeReachabilityProvider::State::Registration> m_registration;
};

}  // namespace

FakeReachabilityProvider::FakeReachabilityProvider(MainExecutor& main) : m_state(std::make_shared<State>(main)) {}
FakeReachabilityProvider::~FakeReachabilityProvider() = default;

std::unique_ptr<Reachability> FakeReachabilityProvider::createWithAddress(const sockaddr* address)
{
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) return nullptr;
    return std::make_unique<FakeReachability>(m_state);
}

std::unique_ptr<Reachability> FakeReachabilityProvider::createWithName(const std::string&)
{
    return std::make_unique<FakeReachability>(m_state);
}

void FakeReachabilityProvider::setFlags(std::uint32_t flags)
{
    std::lock_guard lock(m_state->mutex);
    m_state->flags = flags;
    std::erase_if(m_state->scheduled, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : m_state->scheduled) {
        m_state->main.post([weak, flags] {
            if (auto registration = weak.lock()) registration->callback(flags);
        });
    }
}

void FakeReachabilityProvider::setFlagsUnavailable(bool unavailable)
{
    std::lock_guard lock(m_state->mutex);
    m_state->unavailable = unavailable;
}

std::size_t FakeReachabilityProvider::scheduledCount() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<std::size_t>(
        std::count_if(m_state->scheduled.begin(), m_state->scheduled.end(), [](const auto& w) { return !w.expired(); }));
}

}  // namespace platform
