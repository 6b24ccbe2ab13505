#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

// Which connection of the unit a step belongs to. A connection is counted where it begins its read; the
// window hears of a loss on the main queue later than the state queue met it, possibly after the unit came
// back and the next connection began reading into the same folders. A step the window asks while handling
// a message belongs to the connection that was the latest when that message was told, so a removal asked
// for a connection since replaced can leave the newer one's folders alone.
//
// States of one step's connection: Current (still the one begun last) or Replaced (a later one has begun).
class UnitConnections {
public:
    // A connection begins its read; answers its number. State queue.
    std::uint64_t begin() { return ++m_begun; }
    // The connection begun last. Any thread.
    std::uint64_t latest() const { return m_begun.load(); }
    // Whether a step asked for `connection` still meets it, rather than one begun after it.
    bool isCurrent(std::uint64_t connection) const { return connection == m_begun.load(); }

    // The connection a step asked now belongs to: the one the message being handled was told about, else
    // the one begun last. Main thread.
    std::uint64_t asked() const { return m_handling.value_or(latest()); }

    // While a message told about `connection` is handled on the main thread. Nested handlings (a message
    // handled inside another's event loop) give back the outer one's connection when they end.
    class Handling {
    public:
        Handling(UnitConnections& connections, std::uint64_t connection);
        ~Handling();
        Handling(const Handling&) = delete;
        Handling& operator=(const Handling&) = delete;

    private:
        UnitConnections& m_connections;
        std::optional<std::uint64_t> m_outer;
    };

private:
    std::atomic<std::uint64_t> m_begun{0};
    std::optional<std::uint64_t> m_handling;  // main thread
};
