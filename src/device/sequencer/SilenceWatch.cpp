#include "device/sequencer/SilenceWatch.h"

#include <utility>

SilenceWatch::SilenceWatch(platform::TimerService& timers, Post post) : m_timer(timers), m_post(std::move(post)) {}

void SilenceWatch::listen(platform::Duration period, Heard heard, Owes owes, std::function<void()> silent)
{
    stop();
    const std::optional<std::uint64_t> now = heard ? heard() : std::nullopt;
    if (!now || period <= platform::Duration::zero()) return;
    m_state = State::Listening;
    m_period = period;
    m_heard = std::move(heard);
    m_owes = std::move(owes);
    m_silent = std::move(silent);
    m_lastHeard = *now;
    arm();
}

void SilenceWatch::stop()
{
    ++m_generation;
    m_timer.cancel();
    m_state = State::Idle;
    m_heard = nullptr;
    m_owes = nullptr;
    m_silent = nullptr;
}

void SilenceWatch::arm()
{
    // The post is the owner's, which drops the look once the owner is gone.
    m_timer.arm(m_period, [this, post = m_post, generation = m_generation] { post([this, generation] { look(generation); }); });
}

void SilenceWatch::look(std::uint64_t generation)
{
    if (generation != m_generation || m_state != State::Listening) return;
    const std::optional<std::uint64_t> now = m_heard();
    // A unit that owes nothing is not silent: the program is the one at work, and the period starts over.
    if ((now && *now != m_lastHeard) || (m_owes && !m_owes())) {
        if (now) m_lastHeard = *now;
        arm();
        return;
    }
    m_state = State::Silent;
    m_timer.cancel();
    if (const auto silent = std::exchange(m_silent, nullptr)) silent();
}
