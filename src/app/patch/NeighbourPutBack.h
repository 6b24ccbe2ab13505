#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class DirectoryObject;

// The items an undo of a deletion of several puts back among the neighbours they had, gathered while the
// undo's file steps run and placed in one pass per list at its end: each goes after the nearest of its
// former neighbours before it that the list holds or gets back, those of one place in their former order,
// at the front without one. Thousands put back cost a pass over each list, not a search each.
class NeighbourPutBack {
public:
    using Node = std::shared_ptr<DirectoryObject>;
    using Nodes = std::vector<Node>;
    using Neighbours = std::vector<std::weak_ptr<DirectoryObject>>;

    // `node` goes back into `list`; it stood at `place` in `neighbours` (the list as its deletion found it).
    void add(Nodes& list, const std::shared_ptr<const Neighbours>& neighbours, std::size_t place, Node node);
    // Places every item gathered into its list and forgets them.
    void place();
    bool empty() const { return waiting_.empty(); }

private:
    struct Waiting {
        std::shared_ptr<const Neighbours> neighbours;
        // Each item's place among the neighbours, and the item.
        std::vector<std::pair<std::size_t, Node>> items;
    };
    static void placeInto(Nodes& list, const Waiting& waiting);
    std::map<std::pair<Nodes*, const Neighbours*>, Waiting> waiting_;
};
