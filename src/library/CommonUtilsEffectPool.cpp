#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "common/NSStringAddition.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/models/EffectItem.h"
#include "platform/files/FileManager.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUnknown = "UNKNOWN";

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::uint32_t typeOf(const AllQFXEffects& effect)
{
    const auto& bytes = effect.typeEffect();
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::shared_ptr<DirectoryObject> groupNode(std::string name)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = std::move(name);
    node->isGroup = true;
    return node;
}

// The binary search over entries sorted by type, with the type of an entry given by `probe` (nothing
// for an entry whose file cannot be read: the search moves above it).
template <typename Probe>
std::optional<MappingObject> searchByType(std::uint32_t effectType, const std::vector<MappingObject>& sorted,
                                          const Probe& probe)
{
    std::int64_t lower = 0;
    std::int64_t upper = static_cast<std::int64_t>(sorted.size()) - 1;
    while (lower <= upper) {
        const std::int64_t middle = (lower + upper) / 2;
        const MappingObject& entry = sorted[static_cast<std::size_t>(middle)];
        const std::optional<std::uint32_t> type = probe(entry);
        if (type && *type == effectType) return entry;
        if (type && *type > effectType)
            upper = middle - 1;
        else
            lower = middle + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<MappingObject> CommonUtils::binarySearchWithEffectType(std::uint32_t effectType,
                                                                     const std::vector<MappingObject>& sorted) const
{
    return searchByType(effectType, sorted, [this](const MappingObject& entry) -> std::optional<std::uint32_t> {
        const auto header = getOKVEffectWithPath(entry.filePath);
        if (!header) return std::nullopt;
        return header->type();
    });
}

std::string CommonUtils::homeFolder() const
{
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : std::string();
}

std::optional<OKVEffect> CommonUtils::getOKVEffectWithPath(const std::optional<std::string>& path) const
{
    if (NSStringAddition::isBlankString(path)) return std::nullopt;
    std::string file = *path;
    const std::string home = homeFolder();
    const bool absolute = file.find(m_rootPath) != std::string::npos || (!home.empty() && file.find(home) != std::string::npos);
    if (!absolute) {
        const auto components = NSStringAddition::pathComponents(file);
        const std::string first = components.empty() ? std::string() : lowercase(components.front());
        bool inStore = false;
        {
            std::lock_guard lock(m_publishedMutex);
            if (!first.empty() && m_published.allQFXData && m_published.allQFXData->modelsList())
                for (const AllQFXModels& model : *m_published.allQFXData->modelsList())
                    if (lowercase(model.modelName()).find(first) != std::string::npos) inStore = true;
        }
        file = (fs::path(pathUnderRoot(inStore ? kStoreEffect : kTempEffectPool)) / fs::path(file).relative_path()).string();
    }
    const auto bytes = m_files.readFile(file);
    if (!bytes || bytes->empty()) return std::nullopt;
    return OKVEffect::initWithData(*bytes);
}

void CommonUtils::setEffectListFromDevice(std::vector<MappingObject> effects, std::vector<std::uint32_t> effectTypes)
{
    post([this, effects = std::move(effects), effectTypes = std::move(effectTypes)]() mutable {
        m_effectListFromDevice = std::move(effects);
        m_effectTypeListInDevice = std::move(effectTypes);
        publishEffectTables();
    });
}

bool CommonUtils::deviceStillConnected() const { return m_isConnectDevice && m_parser.getDeviceID() != 0; }

void CommonUtils::mergeEffect()
{
    post([this] { mergeEffectNow(); });
}

void CommonUtils::mergeEffectNow()
{
    // The tree is built with no device, and with one too when none was built yet from the store's
    // listing: a device connected before the first downloads ended would otherwise keep the pool empty.
    if (!m_isConnectDevice || !m_dataDirectoryObject || !m_effectTreeFromListing) {
        m_dataDirectoryObject = createEffectPool();
        if (m_isConnectDevice && m_effectStoreListed && !m_effectTreeFromListing && m_qfxInfoListFromQFXList) {
            // The unit's list was read against a store not listed yet: its effects are matched again, so
            // the marks, the updates and the effect list know them.
            matchDeviceEffectList();
            copyDeviceEffectFiles();
            publish();
            publishEffectTables();
            createEffectListNow();
        }
        m_effectTreeFromListing = m_effectStoreListed;
    }
    if (m_isConnectDevice) {
        Tree copy;
        for (const auto& model : *m_dataDirectoryObject) copy.push_back(model ? model->copy() : nullptr);
        updateEffectPool(copy);
        // A tree marked for a device that went meanwhile is not kept.
        if (deviceStillConnected()) m_dataDirectoryObject = std::move(copy);
    }
    // A connected device's effects that the rebuilt pool holds in newer versions are replaced.
    updateEffectDevice();
    // The screen gets a tree of its own: it clears marks on its nodes on the main thread while the next
    // merge copies this one here.
    Tree tree;
    if (m_dataDirectoryObject)
        for (const auto& model : *m_dataDirectoryObject) tree.push_back(model ? model->copy() : nullptr);
    tell([tree = std::move(tree), code = m_synchronizationCodeServer](CommonUtilsDelegate& d) {
        d.serverDirectoryObject(tree);
        d.didFinishSynchronizationActionServer(code);
    });
}

CommonUtils::Tree CommonUtils::createEffectPool()
{
    // Each store file is read once here; the search and the model lists take what this read gave.
    std::map<std::string, std::shared_ptr<EffectItem>> items;
    std::set<std::string> inPool;
    for (const MappingObject& entry : m_effectPool) inPool.insert(entry.filePath.value_or(""));
    std::vector<OKVSimpleEffect> summaries;
    for (MappingObject& entry : m_effectListFromServer) {
        const std::string path = entry.filePath.value_or("");
        auto item = getEffectItemWithPath(path);
        items[path] = item;
        if (item) entry.effectType = item->effectType;
        entry.isIncompatibility = true;
        if (m_effectPool.size() < m_effectListFromServer.size() && !inPool.count(path)) {
            m_effectPool.push_back(entry);
            inPool.insert(path);
            if (item) {
                OKVSimpleEffect summary;
                summary.setDataUseUnitNum(static_cast<std::uint32_t>(item->effectUseUnitNum));
                summary.setDataType(item->effectType);
                summary.setDataTypeName(item->effectName);
                summary.setDataVersion(item->effectVersion);
                summaries.push_back(summary);
            }
        }
    }
    std::stable_sort(m_effectListFromServer.begin(), m_effectListFromServer.end(),
                     [](const MappingObject& a, const MappingObject& b) { return a.effectType < b.effectType; });
    m_okvEffectListFromServer = std::move(summaries);
    publishEffectTables();

    const auto probe = [&items](const MappingObject& entry) -> std::optional<std::uint32_t> {
        const auto found = items.find(entry.filePath.value_or(""));
        if (found == items.end() || !found->second) return std::nullopt;
        return found->second->effectType;
    };
    Tree result;
    if (!m_allQFXData || !m_allQFXData->modelsList()) return result;
    for (const AllQFXModels& model : *m_allQFXData->modelsList()) {
        if (model.effectsList().empty()) continue;
        auto modelNode = groupNode(model.modelName());
        std::size_t missing = model.effectsList().size();
        for (const AllQFXEffects& effect : model.effectsList()) {
            const auto entry = searchByType(typeOf(effect), m_effectListFromServer, probe);
            if (!entry) continue;
            const auto& read = items[entry->filePath.value_or("")];
            // Every model that lists the effect shows an item of its own.
            auto item = read->copy();
            auto category = std::find_if(modelNode->childDirectories.begin(), modelNode->childDirectories.end(),
                                         [&](const auto& node) { return node->name == item->effectCategory; });
            std::shared_ptr<DirectoryObject> categoryNode;
            if (category == modelNode->childDirectories.end()) {
                categoryNode = groupNode(item->effectCategory);
                modelNode->childDirectories.push_back(categoryNode);
            } else {
                categoryNode = *category;
            }
            auto leaf = std::make_shared<DirectoryObject>();
            leaf->name = item->effectName;
            leaf->object = item;
            categoryNode->childDirectories.push_back(std::move(leaf));
            --missing;
        }
        if (missing > 0) {
            auto unknown = groupNode(kUnknown);
            for (std::size_t i = 0; i < missing; ++i) {
                auto leaf = std::make_shared<DirectoryObject>();
                leaf->name = kUnknown;
                leaf->object = EffectItem::initEffectUnknown();
                unknown->childDirectories.push_back(std::move(leaf));
            }
            modelNode->childDirectories.push_back(std::move(unknown));
        }
        result.push_back(std::move(modelNode));
    }
    return result;
}

void CommonUtils::updateEffectPool(Tree& tree)
{
    const bool connected = m_isConnectDevice;
    // The device's effect types, read once for the whole marking.
    std::set<std::uint32_t> onDevice;
    for (const MappingObject& entry : m_effectListFromDevice) {
        if (!deviceStillConnected()) return;
        if (const auto header = getOKVEffectWithPath(entry.filePath)) onDevice.insert(header->type());
    }
    for (const auto& model : tree) {
        model->hasNewChild = model->isNew = model->isIncompatible = false;
        std::size_t incompatibleCategories = 0;
        for (const auto& category : model->childDirectories) {
            category->hasNewChild = category->isNew = category->isIncompatible = false;
            if (category->name == kUnknown) {
                category->isIncompatible = connected;
                ++incompatibleCategories;
                for (const auto& leaf : category->childDirectories) {
                    leaf->hasNewChild = leaf->isNew = false;
                    leaf->isIncompatible = connected;
                }
                continue;
            }
            std::size_t incompatibleLeaves = 0;
            for (const auto& leaf : category->childDirectories) {
                if (!deviceStillConnected()) return;
                // Marks of an earlier device never carry over to this one.
                leaf->hasNewChild = leaf->isNew = leaf->isIncompatible = false;
                const EffectItem* item = leaf->effectItem();
                const auto header = item ? getOKVEffectWithPath(item->path) : std::nullopt;
                if (!header || !m_parser.checkEffectCompatible(*header)) {
                    leaf->isIncompatible = true;
                    ++incompatibleLeaves;
                    continue;
                }
                leaf->isNew = onDevice.count(item->effectType) == 0;
                if (leaf->isNew) category->hasNewChild = model->hasNewChild = true;
            }
            if (incompatibleLeaves == category->childDirectories.size()) {
                category->isIncompatible = true;
                ++incompatibleCategories;
            }
        }
        if (incompatibleCategories == model->childDirectories.size()) model->isIncompatible = true;
    }
}
