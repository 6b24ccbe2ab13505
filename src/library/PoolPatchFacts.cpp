#include "library/PoolPatchFacts.h"

void PoolPatchFacts::remember(const std::string& path, const platform::FileStamp& stamp, const OKVPatch& patch)
{
    m_facts[path] = Facts{stamp, patch.gen(), patch.supportRegion(), patch.effectTypes()};
}

std::optional<OKVPatch> PoolPatchFacts::find(const std::string& path, const std::optional<platform::FileStamp>& stamp) const
{
    if (!stamp) return std::nullopt;
    const auto found = m_facts.find(path);
    if (found == m_facts.end() || !(found->second.stamp == *stamp)) return std::nullopt;
    OKVPatch patch;
    patch.setGen(found->second.gen);
    patch.setSupportRegion(found->second.supportRegion);
    patch.setEffectTypes(found->second.effectTypes);
    return patch;
}

void PoolPatchFacts::rename(const std::string& from, const std::string& to)
{
    auto node = m_facts.extract(from);
    if (node.empty()) return;
    node.key() = to;
    m_facts.insert_or_assign(to, std::move(node.mapped()));
}
