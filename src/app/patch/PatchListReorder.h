#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class PatchItem;

// Moves rows of the device list to an insertion row, keeping their order, and tells which slots now
// hold another patch than before.
class PatchListReorder {
public:
    struct Range {
        std::uint64_t location = 0;
        std::uint64_t length = 0;
    };
    struct Result {
        // Where the moved patches now start, and how many moved.
        std::uint64_t target = 0;
        std::uint64_t count = 0;
        // The slots from the first to the last changed one; none when at most one slot changed.
        std::optional<Range> changedRange;
    };

    // `rows` past the list are ignored (the list shows filler rows below its patches); `toRow` is
    // counted in the list before the move and clamped to its length.
    static Result move(std::vector<std::shared_ptr<PatchItem>>& list, std::vector<std::uint64_t> rows,
                       std::uint64_t toRow);
};
