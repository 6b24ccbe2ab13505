#include "app/patch/WithdrawnCopies.h"

#include "app/patch/PatchCoordinator.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

void WithdrawnCopies::add(const Node& node, const std::string& folder)
{
    const PatchItem* patch = node && !node->isGroup ? node->patchItem() : nullptr;
    if (patch == nullptr || patch->path.empty()) return;
    asked_.emplace_back(patch->path, folder);
    nodes_.push_back(node);
}

void WithdrawnCopies::addChildren(const DirectoryObject& group, const std::string& folder)
{
    for (const auto& child : group.childDirectories) add(child, folder);
}

void WithdrawnCopies::withdraw(PatchCoordinator& coordinator)
{
    if (asked_.empty()) return;
    const std::vector<bool> taken = coordinator.withdrawPendingCopies(asked_, true);
    for (std::size_t i = 0; i < taken.size() && i < nodes_.size(); ++i)
        if (taken[i]) withdrawn_.insert(nodes_[i].get());
}

std::vector<WithdrawnCopies::Node> WithdrawnCopies::nodes() const
{
    std::vector<Node> out;
    out.reserve(withdrawn_.size());
    for (const Node& node : nodes_)
        if (contains(node.get())) out.push_back(node);
    return out;
}
