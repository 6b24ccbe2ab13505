#include "app/patch/PatchFileTrail.h"

#include <algorithm>

#include "library/models/PatchItem.h"

void PatchFileTrail::record(const std::string& former, const std::string& now, const std::shared_ptr<PatchItem>& patch,
                            UnitTexts taken)
{
    if (!patch) return;
    // A patch nobody holds any more is never found again: its moves and texts go.
    std::erase_if(moves_, [](const auto& entry) { return entry.second.patch.expired(); });
    std::erase_if(taken_, [&patch](const Taken& entry) { return entry.patch.expired() || entry.patch.lock() == patch; });
    taken_.push_back(Taken{patch, std::move(taken)});
    if (former.empty() || former == now) return;
    moves_[former] = Move{now, patch, ++serial_};
    if (moves_.size() <= kMovesKept) return;
    moves_.erase(std::min_element(moves_.begin(), moves_.end(),
                                  [](const auto& a, const auto& b) { return a.second.serial < b.second.serial; }));
}

std::shared_ptr<PatchItem> PatchFileTrail::follow(const std::string& file, const Absolute& absolute) const
{
    std::string at = file;
    // Each step leaves a file for another; a trail walked longer than it has moves is a loop.
    for (std::size_t steps = 0; steps <= moves_.size(); ++steps) {
        const auto move = moves_.find(at);
        if (move == moves_.end()) return nullptr;
        auto patch = move->second.patch.lock();
        if (!patch) return nullptr;
        if (absolute(patch->path) == move->second.now) return patch;
        at = move->second.now;
    }
    return nullptr;
}

std::optional<PatchFileTrail::UnitTexts> PatchFileTrail::takenSinceLeaving(const std::string& file, const PatchItem& patch,
                                                                           const Absolute& absolute) const
{
    if (absolute(patch.path) == file || follow(file, absolute).get() != &patch) return std::nullopt;
    const auto found = std::find_if(taken_.begin(), taken_.end(),
                                    [&patch](const Taken& entry) { return entry.patch.lock().get() == &patch; });
    if (found == taken_.end()) return std::nullopt;
    return found->texts;
}
