#include "library/PoolPatchFacts.h"

PoolPatchFacts::Facts PoolPatchFacts::factsOf(const platform::FileStamp& stamp, const OKVPatch& patch)
{
    return Facts{stamp, patch.gen(), patch.supportRegion(), patch.effectTypes()};
}

void PoolPatchFacts::remember(const std::string& path, const platform::FileStamp& stamp, const OKVPatch& patch)
{
    remember(path, factsOf(stamp, patch));
}

OKVPatch PoolPatchFacts::patchOf(const Facts& facts)
{
    OKVPatch patch;
    patch.setGen(facts.gen);
    patch.setSupportRegion(facts.supportRegion);
    patch.setEffectTypes(facts.effectTypes);
    return patch;
}

std::optional<OKVPatch> PoolPatchFacts::find(const std::string& path, const std::optional<platform::FileStamp>& stamp) const
{
    if (!stamp) return std::nullopt;
    const auto found = m_facts.find(path);
    if (found == m_facts.end() || !(found->second.stamp == *stamp)) return std::nullopt;
    return patchOf(found->second);
}

