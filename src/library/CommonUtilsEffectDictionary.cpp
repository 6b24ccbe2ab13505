#include <set>
#include <unordered_map>

#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/models/PatchItem.h"
#include "platform/bundle/StringFormat.h"

using platform::PlistDictionary;
using platform::PlistValue;

namespace {

constexpr const char* kNumberOfSlot = "NumberOfSlot";
constexpr const char* kEffectName = "effectName";
constexpr const char* kEffectType = "effectType";
constexpr const char* kUseUnitNum = "useUnitNum";
constexpr const char* kBuiltIn = "BUILT IN EFFECT";
constexpr std::uint32_t kEmptyUnit = 0;
constexpr std::uint32_t kContinuedUnit = 1;

std::string slotKey(std::int64_t unit) { return platform::StringFormat::format("slot %d", {unit}); }

bool isBuiltIn(std::uint32_t type)
{
    const std::uint32_t category = type >> 24;
    return category == 0x1D || category == 0x1E || category == 0x1F;
}

}  // namespace

// The store's effect summaries and the device's effect types as the patch screens look them up: a copy
// the state queue publishes whole, so the screens never wait on that queue.
struct CommonUtils::EffectTables {
    std::vector<OKVSimpleEffect> okvEffects;
    // The first summary of each type.
    std::unordered_map<std::uint32_t, std::size_t> firstOfType;
    std::set<std::uint32_t> deviceTypes;
};

namespace {

// Whether a patch's effect list and warning judged against `a` are the ones judged against `b`: they read
// the device's types and the name of the first summary of each type, nothing else of the tables.
template <typename Tables>
bool judgeAlike(const Tables& a, const Tables& b)
{
    if (a.deviceTypes != b.deviceTypes || a.firstOfType.size() != b.firstOfType.size()) return false;
    for (const auto& [type, index] : a.firstOfType) {
        const auto other = b.firstOfType.find(type);
        if (other == b.firstOfType.end() || a.okvEffects[index].typeName() != b.okvEffects[other->second].typeName())
            return false;
    }
    return true;
}

}  // namespace

void CommonUtils::publishEffectTables()
{
    auto tables = std::make_shared<EffectTables>();
    tables->okvEffects = m_okvEffectListFromServer;
    for (std::size_t i = 0; i < tables->okvEffects.size(); ++i)
        tables->firstOfType.emplace(tables->okvEffects[i].type(), i);
    tables->deviceTypes.insert(m_effectTypeListInDevice.begin(), m_effectTypeListInDevice.end());
    std::lock_guard lock(m_effectTablesMutex);
    // The generation names what the pool's warnings are judged against: the same tables published again
    // (each step of a connection's read and every merge publishes them) leave the warnings standing, where
    // a new generation had the window judge the whole pool again for nothing.
    const bool alike = m_effectTables && judgeAlike(*m_effectTables, *tables);
    m_effectTables = std::move(tables);
    if (!alike) ++m_effectTablesGeneration;
}

std::shared_ptr<const CommonUtils::EffectTables> CommonUtils::effectTables() const
{
    std::lock_guard lock(m_effectTablesMutex);
    if (m_effectTables) return m_effectTables;
    static const auto empty = std::make_shared<const EffectTables>();
    return empty;
}

CommonUtils::PoolJudge CommonUtils::poolJudge(bool connected, std::optional<std::uint64_t>* against) const
{
    PoolJudge judge;
    judge.mark = connected;
    // The generation is taken before the tables: a change between the two leaves the judgement looking
    // older than it is, so it is made again rather than kept.
    const std::uint64_t generation = effectTablesGeneration();
    judge.tables = effectTables();
    judge.warnings = connected && !judge.tables->deviceTypes.empty() && publishedConnected();
    if (against != nullptr && judge.warnings) *against = generation;
    return judge;
}

void CommonUtils::getEffectListWithPatch(PatchItem& patch) const
{
    if (auto list = effectListWithPatchPath(patch.path)) patch.effectDictionnary = std::move(*list);
}

std::optional<PlistDictionary> CommonUtils::effectListWithPatchPath(const std::string& path) const
{
    const auto read = getOKVPatchWithPath(path);
    return read ? effectListWithPatch(*read, *effectTables()) : std::nullopt;
}

std::optional<PlistDictionary> CommonUtils::effectListWithPatch(const OKVPatch& patch, const EffectTables& tables) const
{
    {
        std::lock_guard lock(m_publishedMutex);
        if (!m_published.isConnectDevice) return std::nullopt;
    }
    const std::uint32_t usedUnit = patch.usedUnit();
    const auto& types = patch.effectTypes();
    PlistDictionary dictionary{{kNumberOfSlot, PlistValue(m_parser.getDeviceUseUnitNum())}};
    std::uint32_t unit = 0;
    while (unit < usedUnit) {
        const std::uint32_t type = types[unit];
        if (type == kEmptyUnit) {
            ++unit;
            continue;
        }
        std::uint32_t units = 1;
        while (unit + units < usedUnit && types[unit + units] == kContinuedUnit) ++units;
        PlistDictionary entry;
        if (const auto found = tables.firstOfType.find(type); found != tables.firstOfType.end()) {
            entry = {{kEffectName, PlistValue(tables.okvEffects[found->second].typeName())},
                     {kEffectType, PlistValue(type)},
                     {kUseUnitNum, PlistValue(units)}};
        } else if (isBuiltIn(type)) {
            entry = {{kEffectName, PlistValue(kBuiltIn)}, {kUseUnitNum, PlistValue(units)}};
        } else {
            // An unknown effect's length is unknown too: the units after it are read as units of their own.
            entry = {{kEffectName, PlistValue("UNKNOWN")}, {kUseUnitNum, PlistValue(1)}};
            units = 1;
        }
        dictionary[slotKey(unit)] = PlistValue(std::move(entry));
        unit += units;
    }
    return dictionary;
}

void CommonUtils::updatePatchWarningWithPatchItem(PatchItem& patch) const
{
    if (const auto warning = patchWarningWithEffectList(patch.effectDictionnary)) patch.isWarning = *warning;
}

std::optional<bool> CommonUtils::patchWarningWithEffectList(const PlistDictionary& list) const
{
    const auto tables = effectTables();
    if (tables->deviceTypes.empty()) return std::nullopt;
    const auto slots = list.find(kNumberOfSlot);
    const std::int64_t count = slots == list.end() ? 0 : slots->second.asInteger().value_or(0);
    std::optional<bool> warning;
    std::int64_t i = 0;
    while (i < count) {
        const auto found = list.find(slotKey(i));
        const PlistDictionary* entry = found == list.end() ? nullptr : found->second.dictionary();
        const auto name = entry != nullptr && entry->count(kEffectName) ? entry->at(kEffectName).asString() : std::nullopt;
        if (entry == nullptr || entry->empty() || name == kBuiltIn) {
            ++i;
        } else {
            const std::int64_t units = entry->count(kUseUnitNum) ? entry->at(kUseUnitNum).asInteger().value_or(0) : 0;
            if (units == 0) {
                ++i;
            } else {
                i += units;
                const auto type = entry->count(kEffectType) ? entry->at(kEffectType).asInteger() : std::nullopt;
                if (!type || !tables->deviceTypes.count(static_cast<std::uint32_t>(*type))) return true;
            }
        }
        if (i >= count) warning = false;
    }
    return warning;
}

void CommonUtils::updatePatchWarningInPatchList(const std::vector<std::shared_ptr<PatchItem>>& list) const
{
    if (effectTables()->deviceTypes.empty()) return;
    for (const auto& item : list)
        if (item) updatePatchWarningWithPatchItem(*item);
}

void CommonUtils::updatePatchWarningInPatchPool(const Tree& nodes) const
{
    if (effectTables()->deviceTypes.empty()) return;
    for (const auto& node : nodes) {
        if (!node) continue;
        if (!node->childDirectories.empty()) {
            updatePatchWarningInPatchPool(node->childDirectories);
        } else if (PatchItem* item = node->patchItem()) {
            getEffectListWithPatch(*item);
            updatePatchWarningWithPatchItem(*item);
            node->isWarning = item->isWarning;
        }
    }
}

namespace {

// Every patch node the pool's warning pass visits, with the path of its file as it is now.
void collectWarningLeaves(const CommonUtils::Tree& nodes,
                          std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>>& leaves)
{
    for (const auto& node : nodes) {
        if (!node) continue;
        if (!node->childDirectories.empty()) collectWarningLeaves(node->childDirectories, leaves);
        else if (const PatchItem* item = node->patchItem()) leaves.emplace_back(node, item->path);
    }
}

}  // namespace

void CommonUtils::updatePatchWarningInPatchPoolLater(const Tree& nodes, std::function<void()> applied)
{
    if (effectTables()->deviceTypes.empty()) {
        applied();
        return;
    }
    std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>> leaves;
    collectWarningLeaves(nodes, leaves);
    // Only the nodes are held across the wait: an edit may give a node another item meanwhile (a property
    // sheet's save does), so each item is found from its node when the judgement lands.
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive), leaves = std::move(leaves),
                        applied = std::move(applied)]() mutable {
        if (!alive.lock()) return;
        std::vector<std::optional<PlistDictionary>> lists;
        std::vector<std::optional<bool>> warnings;
        lists.reserve(leaves.size());
        warnings.reserve(leaves.size());
        const auto tables = effectTables();
        for (const auto& leaf : leaves) {
            const auto patch = judgedPatchAt(leaf.second);
            lists.push_back(patch ? effectListWithPatch(*patch, *tables) : std::nullopt);
            warnings.push_back(lists.back() ? patchWarningWithEffectList(*lists.back()) : std::nullopt);
        }
        m_dispatch.main().async([this, alive = std::move(alive), leaves = std::move(leaves), lists = std::move(lists),
                                 warnings = std::move(warnings), applied = std::move(applied)]() mutable {
            if (!alive.lock()) return;
            for (std::size_t i = 0; i < leaves.size(); ++i) {
                DirectoryObject& node = *leaves[i].first;
                PatchItem* item = node.patchItem();
                if (item == nullptr) continue;
                if (lists[i]) {
                    item->effectDictionnary = std::move(*lists[i]);
                    if (warnings[i]) item->isWarning = *warnings[i];
                } else {
                    updatePatchWarningWithPatchItem(*item);
                }
                node.isWarning = item->isWarning;
            }
            applied();
        });
    });
}
