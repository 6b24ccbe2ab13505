#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/TimerService.h"

// Tells a unit that stopped answering (hung, or without power while the cable stays) by its silence
// rather than by the whole budget of the operation under way, which grows with the operation's length:
// a hundred-slot write is given minutes, and a Disconnect or a Quit waited for all of them. While an
// operation runs, the watch looks once a period whether the unit sent anything since it last looked;
// a whole period without a message, ending with an answer still owed, is silence. A unit that answers
// slowly but answers is never silent, nor one that owes nothing while the program does its own part of
// the operation (a dump's patch files landing on a busy disk).
//
// Every call, and the silence report, happen on the owner's serial queue: the timer's expiry is handed
// to it through `post`, and an expiry of an earlier listening is dropped there by its generation.
class SilenceWatch {
public:
    enum class State {
        Idle,       // no operation is listened to
        Listening,  // an operation runs, and the unit was heard within the last period or owed nothing
        Silent,     // a whole period passed without a message; told once, until the next listen
    };
    // What the unit sent so far; nothing when it cannot be told, and then no silence is ever found.
    using Heard = std::function<std::optional<std::uint64_t>()>;
    // Whether the unit owes an answer now; its silence counts only then.
    using Owes = std::function<bool()>;
    using Post = std::function<void(std::function<void()>)>;

    SilenceWatch(platform::TimerService& timers, Post post);
    SilenceWatch(const SilenceWatch&) = delete;
    SilenceWatch& operator=(const SilenceWatch&) = delete;

    // Starts listening anew; `silent` runs on the owner's queue once a whole period passes unheard.
    void listen(platform::Duration period, Heard heard, Owes owes, std::function<void()> silent);
    void stop();
    State state() const { return m_state; }

private:
    void arm();
    void look(std::uint64_t generation);

    platform::Timer m_timer;
    Post m_post;
    State m_state = State::Idle;
    std::uint64_t m_generation = 0;
    platform::Duration m_period{};
    Heard m_heard;
    Owes m_owes;
    std::function<void()> m_silent;
    std::uint64_t m_lastHeard = 0;
};
