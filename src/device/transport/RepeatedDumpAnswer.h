#pragma once

#include <array>
#include <cstdint>
#include <vector>

// A dump request the unit answered by a respondence is asked again. That respondence may be a late one,
// the answer of a request whose chain was cut (a write the unit fell silent in), and then the unit
// answers the first ask as well: its two patches for the slot come one after the other, the first taken
// for the second ask and the second arriving with nothing waiting, where it would read as the unit's own
// edit of the slot. The one slot asked again is remembered, so that second answer, the very patch just
// taken, is known for what it is. Not thread-safe: its owner guards it.
class RepeatedDumpAnswer {
public:
    using Slot = std::array<std::int32_t, 3>;
    enum class State {
        Idle,        // no dump request was asked again, or its answers are over
        AskedAgain,  // the slot's dump request was answered by a respondence and asked again
        Answered,    // the ask again was answered; the first ask's answer, the same patch, may still come
    };

    void askedAgain(const Slot& slot);
    // A dump request's patch was taken.
    void taken(const Slot& slot, const std::vector<std::uint8_t>& patch);
    // A patch came with no request waiting: true when it is the slot's other answer, which then ends the watch.
    bool isOtherAnswer(const Slot& slot, const std::vector<std::uint8_t>& patch);
    State state() const { return m_state; }

private:
    State m_state = State::Idle;
    Slot m_slot{};
    std::vector<std::uint8_t> m_patch;
};
