#include "library/UnreadPoolFiles.h"

#include <atomic>

namespace {

// Shared by every coordinator of the process, so no two loads ever give one mark.
std::atomic<std::uint64_t> lastMark{0};

}  // namespace

void UnreadPoolFiles::clear()
{
    std::lock_guard lock(m_mutex);
    m_atTop.clear();
    m_inGroups.clear();
}

void UnreadPoolFiles::keep(DirectoryObject* group, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    if (group == nullptr) {
        m_atTop.insert(name);
        return;
    }
    if (group->loadedAs == 0 || !m_inGroups.contains(group->loadedAs)) group->loadedAs = ++lastMark;
    m_inGroups[group->loadedAs].insert(name);
}

bool UnreadPoolFiles::holds(const DirectoryObject& group, const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    if (group.loadedAs == 0) return false;
    const auto found = m_inGroups.find(group.loadedAs);
    return found != m_inGroups.end() && found->second.contains(name);
}

bool UnreadPoolFiles::holdsAtTop(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    return m_atTop.contains(name);
}
