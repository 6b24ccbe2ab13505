#include "app/patch/PatchListReorder.h"

#include <algorithm>

PatchListReorder::Result PatchListReorder::move(std::vector<std::shared_ptr<PatchItem>>& list,
                                                std::vector<std::uint64_t> rows, std::uint64_t toRow)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](std::uint64_t row) { return row >= list.size(); }),
               rows.end());
    Result result;
    if (rows.empty()) return result;

    const auto oldList = list;
    std::uint64_t target = std::min<std::uint64_t>(toRow, list.size());
    std::vector<std::shared_ptr<PatchItem>> moved;
    for (const auto row : rows) moved.push_back(list[row]);
    // Last first, so the earlier indexes stay valid.
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(*row));
        if (*row < target) --target;
    }
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(target), moved.begin(), moved.end());
    result.target = target;
    result.count = moved.size();

    std::optional<std::uint64_t> first;
    std::uint64_t last = 0;
    std::uint64_t changed = 0;
    for (std::uint64_t slot = 0; slot < std::min(list.size(), oldList.size()); ++slot) {
        if (list[slot] == oldList[slot]) continue;
        if (!first) first = slot;
        last = slot;
        ++changed;
    }
    if (changed > 1) result.changedRange = Range{*first, last - *first + 1};
    return result;
}
