#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "library/models/DirectoryObject.h"

// The files the load took into the working copy unread (cut short, damaged, unrecognised), by the group
// whose folder holds them, or at the top. A save and the end's keeping take such a file for the library's
// whatever it reads as by then: one a copy still writing it finished, or the user repaired in place, is
// never taken for a patch the user deleted. A group is known by the mark the load gives its node, which
// every copy of the node keeps (the save works on copies, a deletion's undo may put one back) and a rename
// leaves alone, so the record follows its folder without being written again. Marks are never given twice,
// so a node of an earlier load, or one made since, holds nothing.
class UnreadPoolFiles {
public:
    // Forgets every file: a new load begins.
    void clear();
    // The file `name` in the folder of `group` (marked here if it is not yet), or at the top of the working
    // copy for none. On the load's queue, before the tree is handed out.
    void keep(DirectoryObject* group, const std::string& name);
    bool holds(const DirectoryObject& group, const std::string& name) const;
    bool holdsAtTop(const std::string& name) const;

private:
    mutable std::mutex m_mutex;
    std::set<std::string> m_atTop;
    std::map<std::uint64_t, std::set<std::string>> m_inGroups;
};
