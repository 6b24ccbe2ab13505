#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

class DirectoryObject;
class PatchCoordinator;

// The copies a pool step takes over from a drop still copying: each node's copy with the folder it was
// asked into, withdrawn together so the step goes on at once. The copies not begun are handed over (the
// step keeps their nodes, which go on naming the files dropped, and asks them again where the nodes end
// up); one under way lands before `withdraw` returns, in its node. Main thread only.
class WithdrawnCopies {
public:
    using Node = std::shared_ptr<DirectoryObject>;

    // The node's copy into `folder`, when the node is a patch naming a file.
    void add(const Node& node, const std::string& folder);
    // Each patch of `group` copied into `folder`.
    void addChildren(const DirectoryObject& group, const std::string& folder);
    void withdraw(PatchCoordinator& coordinator);

    // Whether the node's copy was withdrawn.
    bool contains(const DirectoryObject* node) const { return withdrawn_.count(node) > 0; }
    // The nodes whose copies were withdrawn, in the order added.
    std::vector<Node> nodes() const;

private:
    std::vector<std::pair<std::string, std::string>> asked_;
    std::vector<Node> nodes_;
    std::unordered_set<const DirectoryObject*> withdrawn_;
};
