#include "library/UnreadPoolFiles.h"

void UnreadPoolFiles::clear()
{
    std::lock_guard lock(m_mutex);
    m_atTop.clear();
    m_inGroups.clear();
}

void UnreadPoolFiles::keep(const std::shared_ptr<DirectoryObject>& group, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    if (!group) {
        m_atTop.insert(name);
        return;
    }
    Folder& folder = m_inGroups[group.get()];
    // A node gone since left its address to this one: what it held is not this group's.
    if (folder.group.lock() != group) folder = Folder{group, {}};
    folder.names.insert(name);
}

bool UnreadPoolFiles::holds(const DirectoryObject& group, const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_inGroups.find(&group);
    return found != m_inGroups.end() && found->second.group.lock().get() == &group && found->second.names.contains(name);
}

bool UnreadPoolFiles::holdsAtTop(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    return m_atTop.contains(name);
}
