#pragma once

#include <cstdint>

// The file system's code-only answers the unit may still send for requests whose chains were cut while
// they waited (a watchdog, a disconnect): such a code carries nothing that names its request, so one
// landing later, even at the next connection, reads as the answer of whatever code is awaited then.
// Until a code comes that nobody waits for (the owed one itself, or the answer it took the place of), every
// code a waiting request takes may be the owed one: a query that can be asked again is asked until two
// answers agree. Not thread-safe: its owner guards it.
class OwedCodeAnswers {
public:
    enum class State {
        Settled,  // every code the unit sends answers a request still waiting
        Owed,     // a cut chain's code, or a clean-up's, may still come
    };
    // At most this many are remembered: a unit that never sends them must not keep every later answer
    // in doubt.
    static constexpr std::uint32_t kMostOwed = 2;

    // A chain was cut while it waited for a code.
    void chainCut();
    // A request answered by a code was sent with nobody to wait for its answer (a cut chain's clean-up):
    // its code is owed as well. A unit that fell silent answers it as late as the cut chain's own, and a
    // request waiting for a code then would take it; when it comes with nothing waiting it settles itself
    // first, not a cut chain's.
    void unawaitedSent() { ++m_unawaited; }
    // A code came that no waiting request takes: the owed one, or one an earlier owed one took the place of.
    void strayArrived();
    // A code is taken by the request waiting for it; true when it may be an owed one instead.
    bool taken() const { return m_owed > 0 || m_unawaited > 0; }
    State state() const { return taken() ? State::Owed : State::Settled; }

private:
    std::uint32_t m_owed = 0;
    std::uint64_t m_unawaited = 0;
};
