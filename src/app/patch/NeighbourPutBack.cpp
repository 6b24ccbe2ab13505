#include "app/patch/NeighbourPutBack.h"

#include <unordered_map>
#include <unordered_set>

void NeighbourPutBack::add(Nodes& list, const std::shared_ptr<const Neighbours>& neighbours, std::size_t place, Node node)
{
    Waiting& waiting = waiting_[{&list, neighbours.get()}];
    waiting.neighbours = neighbours;
    waiting.items.emplace_back(place, std::move(node));
}

void NeighbourPutBack::place()
{
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (const auto& [key, each] : waiting) placeInto(*key.first, each);
}

void NeighbourPutBack::placeInto(Nodes& list, const Waiting& waiting)
{
    const Neighbours& neighbours = *waiting.neighbours;
    // What comes back at each former place; a place past the neighbours goes at the end.
    std::unordered_map<std::size_t, Node> back;
    Nodes atTheEnd;
    for (const auto& [place, node] : waiting.items) {
        if (place < neighbours.size()) back.emplace(place, node);
        else atTheEnd.push_back(node);
    }
    std::unordered_set<const DirectoryObject*> held;
    held.reserve(list.size());
    for (const Node& node : list) held.insert(node.get());
    // Walking the former list in order: each item coming back hangs after the last node before it the list
    // still holds (an item coming back before it hangs there too, so they keep their order).
    Nodes front;
    std::unordered_map<const DirectoryObject*, Nodes> after;
    const DirectoryObject* anchor = nullptr;
    for (std::size_t at = 0; at < neighbours.size(); ++at) {
        if (const auto found = back.find(at); found != back.end()) {
            (anchor ? after[anchor] : front).push_back(found->second);
            continue;
        }
        const Node node = neighbours[at].lock();
        if (node && held.count(node.get()) != 0) anchor = node.get();
    }
    Nodes merged;
    merged.reserve(list.size() + waiting.items.size());
    merged.insert(merged.end(), front.begin(), front.end());
    for (Node& node : list) {
        const auto hung = after.find(node.get());
        merged.push_back(std::move(node));
        if (hung != after.end()) merged.insert(merged.end(), hung->second.begin(), hung->second.end());
    }
    merged.insert(merged.end(), atTheEnd.begin(), atTheEnd.end());
    list = std::move(merged);
}
