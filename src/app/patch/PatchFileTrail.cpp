#include "app/patch/PatchFileTrail.h"

#include "library/models/PatchItem.h"

void PatchFileTrail::record(const std::string& former, const std::string& now, const std::shared_ptr<PatchItem>& patch)
{
    if (former.empty() || former == now || !patch) return;
    // A patch nobody holds any more is never found again: its moves go.
    std::erase_if(moves_, [](const auto& entry) { return entry.second.patch.expired(); });
    moves_[former] = Move{now, patch};
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
