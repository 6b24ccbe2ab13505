#pragma once

#include <cstddef>
#include <cstdint>

// What the HTTP layer's readers may make of one archive. The unarchiver shares an object that is referred
// to many times, but the readers make a fresh value at each reference (a serializer's status codes grow
// from one range to a million indexes at each), so what they make is counted as often as it is made: each
// object, index and text byte. The outermost reader opens the budget on its thread and the readers it
// calls draw on it; once spent every draw fails, and the archive is refused as a whole.
class ArchiveDecodingBudget {
public:
    enum class State { Open, Spent };

    // Roughly the bytes what the readers make holds in memory: an object of the layer's classes (a
    // serializer holds its default status codes and headers), a value such as a request or an index set,
    // an index of a set, a text besides its bytes.
    static constexpr std::uint64_t kMaximumCost = 64u << 20;
    static constexpr std::uint64_t kObjectCost = 8u << 10;
    static constexpr std::uint64_t kValueCost = 256;
    static constexpr std::uint64_t kIndexCost = 48;
    static constexpr std::uint64_t kTextCost = 32;

    // Opens a budget on this thread, or joins the one a reader further out opened.
    ArchiveDecodingBudget();
    ~ArchiveDecodingBudget();
    ArchiveDecodingBudget(const ArchiveDecodingBudget&) = delete;
    ArchiveDecodingBudget& operator=(const ArchiveDecodingBudget&) = delete;

    // The state of the budget open on this thread.
    State state() const;

    // Draws on the budget open on this thread; false once it is spent. Outside any budget nothing is
    // counted.
    static bool draw(std::uint64_t cost);
    // A text or data of `bytes` bytes.
    static bool drawText(std::size_t bytes) { return draw(kTextCost + bytes); }

private:
    bool m_outermost;
};
