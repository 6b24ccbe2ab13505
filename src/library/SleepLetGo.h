#pragma once

#include <cstdint>

// What a sleep announced while the unit is connected waits for before the machine may sleep: the unit's
// work in hand, the writes of the changes the unit made itself that the list owes it, and the unit's
// eject, in that order, as an Eject or a Quit has them; all within the time the system's delay gives, at
// whose end the unit is forced off at once, as it is with no time for that wait.
//
// States: Awake (no sleep under way), LettingGo (the sleep's eject waits behind that work), Forced (the
// unit was told to go at once and the sleep is held for its going), Released (the unit went by the
// sleep's eject, or there was none to let go). A wake ends any of them. State queue.
class SleepLetGo {
public:
    enum class State { Awake, LettingGo, Forced, Released };

    // A sleep announced after `wakes` wakes, with the unit connected or not.
    void begin(std::uint64_t wakes, bool unitConnected);
    // The unit went by the sleep's eject: whether this sleep was waiting for it.
    bool letGo();
    // The sleep's time for the wait ran out, for the sleep announced after `wakes` wakes: whether the unit
    // is still to be forced off.
    bool timeRanOut(std::uint64_t wakes);
    // The unit was forced off for the sleep announced after `wakes` wakes (no time for the wait, a quit or
    // a read under way, or the unit gone meanwhile): that sleep is held for its going.
    void forced(std::uint64_t wakes)
    {
        m_wakes = wakes;
        m_state = State::Forced;
    }
    void woke() { m_state = State::Awake; }

    State state() const { return m_state; }
    bool isLettingGo() const { return m_state == State::LettingGo; }
    // The wakes the sleep under way was announced after.
    std::uint64_t wakes() const { return m_wakes; }

private:
    State m_state = State::Awake;
    std::uint64_t m_wakes = 0;
};
