#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

// The file system's code-only answers (60 03: a bare result code, nothing naming its request) the unit may
// still send for requests nobody waits for any more: a chain cut while it waited (a watchdog, a disconnect)
// or a clean-up sent unawaited. Such a code, landing later, reads as the answer of whatever code is
// awaited then, even at the next connection.
//
// The unit answers one request at a time, in the order they came: a code it still owes comes, if it comes
// at all, before its answer to any request sent later. So once it answers a request sent after the debt
// with a reply of another kind (a value: a length, the free space, a handle), every earlier code has come
// or never will, and the debt is settled. Until then a request answered by a bare code would take an owed
// one: its owner holds that request back and first sends a harmless query whose answer is a value (the
// probe); codes that come meanwhile are owed ones, and the probe's answer settles the debt. One exchange,
// even when an owed code never comes. Requests are numbered as they leave, which tells what a reply proves.
// A late value of the kind a request awaits (a length: nothing names its file) would be taken the same way,
// so such a request waits behind a probe of another kind too. A value of a kind still owed answers the
// oldest request it is owed for or a later one: what was asked before that has come or never will, so a
// probe of that kind still settles the debts older than every request it is owed for.
//
// A unit that hands a late code in after its answers to later requests would slip past that: nothing tells
// its code from the one awaited. A query costs only a second ask, so while a code counted owed has neither
// come nor been written off, a code a query takes is held in doubt and the query asked again; a settling
// exchange (a probe answered, or a query whose asks agree) writes the count off, so that too costs one
// exchange. Not thread-safe: its owner guards it.
class OwedCodeAnswers {
public:
    // A request's number, in the order requests left; 0 is none.
    using Request = std::uint64_t;
    // Reply kinds are the owner's, by index below this.
    static constexpr std::size_t kKinds = 32;

    enum class State {
        Settled,        // nothing owed: every code the unit sends answers the request waiting for it
        Owed,           // an answer to an ended request may still come before the unit's next one
        Probing,        // a probe went out ahead of a held request; codes that come now are owed ones
        Acknowledging,  // the probe was answered; the code of its acknowledgement comes before the held request goes
    };
    State state() const;

    // A request leaves: its number.
    Request sent() { return ++m_last; }
    // The number the next request will have (an answer awaited for a request about to leave).
    Request next() const { return m_last + 1; }

    // A chain was cut while request `at` waited for a code.
    void codeCut(Request at);
    // A chain was cut while request `at` waited for a reply of `kind`, one carrying a value.
    void valueCut(std::size_t kind, Request at);
    // Request `at`, answered by a code, went out with nobody to wait for its answer.
    void unawaitedSent(Request at);

    // A code came that no waiting request takes: the oldest owed one.
    void strayCode();
    // A value of `kind` came that no waiting request takes.
    void strayValue(std::size_t kind);
    // Request `at` takes a code; true when that code may be one owed instead (in doubt).
    bool codeTaken(Request at);
    // Request `at` takes a value of `kind`: every answer to a request before it (before the oldest one such
    // a value is owed for) has come.
    void valueTaken(std::size_t kind, Request at);

    // Whether a request about to leave, answered by a bare code (`code`) or first by a value of `kind`
    // (kKinds: none), must wait behind a probe. Also asked once a probe is acknowledged: a request answered
    // by a code may have gone out unawaited since (a stray file's close), and another probe must go first.
    bool mustProbe(bool code, std::size_t kind) const;
    // Whether a late value of `kind` may still come.
    bool valueOwed(std::size_t kind) const { return kind < kKinds && !m_values[kind].empty(); }
    // Whether a value of `kind` taken now settles everything owed: nothing is owed for it, or only for
    // requests sent after every other answer owed.
    bool settlesAll(std::size_t kind) const;
    void probeSent() { m_phase = Phase::Probing; }
    // The probe's value was taken (valueTaken settled what it proves): its acknowledgement goes next.
    void probeAnswered();
    // The acknowledgement's code was taken: the held request may go, unless mustProbe says otherwise.
    void probeAcknowledged() { m_phase = Phase::None; }
    // The owner's registry was cleared: a probe under way ends with it, what it leaves owed told already
    // through codeCut and valueCut.
    void cleared() { m_phase = Phase::None; }

    // A query whose asks agreed: what is counted owed and has not come is written off.
    void settledByAgreement() { m_unsettled = 0; }

private:
    enum class Phase { None, Probing, Acknowledging };
    static void owe(std::deque<Request>& owed, Request at);
    // Every answer to a request before `from` has come or never will.
    void settleBefore(Request from);

    Request m_last = 0;
    // The requests whose codes may still come, oldest first.
    std::deque<Request> m_codes;
    // The requests whose values of each kind may still come, oldest first.
    std::array<std::deque<Request>, kKinds> m_values{};
    Phase m_phase = Phase::None;
    // Codes counted owed that have neither come nor been written off by a settling exchange.
    std::uint64_t m_unsettled = 0;
};
