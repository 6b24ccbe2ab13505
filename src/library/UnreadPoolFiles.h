#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "library/models/DirectoryObject.h"

// The files the load took into the working copy unread (cut short, damaged, unrecognised), by the group
// whose folder holds them, or at the top. A save and the end's keeping take such a file for the library's
// whatever it reads as by then: one a copy still writing it finished, or the user repaired in place, is
// never taken for a patch the user deleted. A group is known by its node, which a rename or a deletion and
// its undo keep, so the record follows its folder without being written again; a node gone holds nothing,
// whatever later takes its address.
class UnreadPoolFiles {
public:
    // Forgets every file: a new load begins.
    void clear();
    // The file `name` in the folder of `group`, or at the top of the working copy for none.
    void keep(const std::shared_ptr<DirectoryObject>& group, const std::string& name);
    bool holds(const DirectoryObject& group, const std::string& name) const;
    bool holdsAtTop(const std::string& name) const;

private:
    struct Folder {
        std::weak_ptr<DirectoryObject> group;
        std::set<std::string> names;
    };
    mutable std::mutex m_mutex;
    std::set<std::string> m_atTop;
    std::map<const DirectoryObject*, Folder> m_inGroups;
};
