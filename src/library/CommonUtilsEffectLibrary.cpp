#include <algorithm>
#include <filesystem>

#include "common/Log.h"
#include "device/formats/LittleEndian.h"
#include "device/formats/OKVEffect.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/QFXListEdit.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "platform/files/FileManager.h"
#include "platform/files/SafeName.h"

namespace {

constexpr const char* kEffectExtension = "QF2";
constexpr const char* kUnknown = "UNKNOWN";

std::uint32_t typeOf(const OKVQFXInformation& record) { return LittleEndian::read32(record.type().data()); }

std::string lastComponent(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

std::vector<std::uint32_t> CommonUtils::getEffectTypeListInDevice() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published.effectTypeListInDevice;
}

// ---- the list received ----

void CommonUtils::receiveQFXListOrQFX(std::int32_t state, const std::optional<Bytes>& data)
{
    if (isRunning(RequestKind::RepairEffectList)) {
        repairFound(state, data);
        return;
    }
    if (!isRunning(RequestKind::GetQFXList) && !runningEffectAction()) return;
    if (state == 1 && data) {
        if (m_isQFXList) {
            // A copy that cannot be stored only costs the later edits their base: the list itself is
            // read from memory, so the connection goes on.
            const std::string folder = pathUnderRoot(kTempDevice);
            const std::string path = folder + "/" + kQFXListFileName;
            platform::Error error;
            if (m_files.createDirectory(folder, true, &error) &&
                m_files.writeAtomically(path, *data, &error, platform::Durability::WorkingCopy)) {
                m_qfxListPathDevice = path;
            } else {
                RIG_LOG("cannot store the device effect list: %s", error.description.c_str());
                m_qfxListPathDevice.clear();
                tell([](CommonUtilsDelegate& d) { d.getQFXListwithFailedState(0); });
            }
            readQFXList(*data);
        } else {
            storeReceivedQFX(*data);
        }
        return;
    }
    if (!m_isQFXList && state != -4 && state != -1 && state != -2) {
        giveActionResult(state);
        return;
    }
    if (state == kNoSuchFile) {
        // A unit without its list can neither be read nor edited: one this program knows gets it back.
        if (isRunning(RequestKind::GetQFXList) && restoreKnownList()) return;
        state = 0;
    }
    failDeviceRead(state);
}

void CommonUtils::storeReceivedQFX(const Bytes& data)
{
    const std::optional<OKVEffect> effect = OKVEffect::initWithData(data);
    const std::string name = effect ? effect->typeName() + "." + kEffectExtension : std::string();
    platform::Error error;
    if (!effect || !platform::SafeName::check(effect->typeName(), &error) || !platform::SafeName::check(name, &error)) {
        RIG_LOG("refused an effect file from the device: %s", error.description.c_str());
        giveActionResult(0);
        return;
    }
    const std::string folder = pathUnderRoot(kTempDeviceEffect);
    if (!m_files.createDirectory(folder, true, &error) ||
        !m_files.writeAtomically(folder + "/" + name, data, &error, platform::Durability::WorkingCopy)) {
        RIG_LOG("cannot store an effect file: %s", error.description.c_str());
        tell([](CommonUtilsDelegate& d) { d.getQFXListwithFailedState(0); });
    }
}

std::optional<std::uint32_t> CommonUtils::storeEntryType(const MappingObject& entry) const
{
    // An entry the pool builder has not read yet carries no type: its header gives it.
    if (entry.effectType != 0) return entry.effectType;
    const auto header = getOKVEffectWithPath(entry.filePath);
    if (!header) return std::nullopt;
    return header->type();
}

void CommonUtils::readQFXList(const Bytes& data)
{
    std::optional<OKVQFXList> list = QFXListEdit::parse(data);
    if (!list) {
        for (bool* flag : {&m_isWorking, &m_isGettingDataDevice, &m_isUpdateEffectDevice, &m_isAddEffectDevice,
                           &m_isDeleteEffectDevice, &m_isFavouriteEffectDevice})
            *flag = false;
        m_running.reset();
        m_queueRequest = Stdqueue<Request>();
        tell([](CommonUtilsDelegate& d) { d.readQFXListFail(); });
        pump();
        forceEject();
        return;
    }
    keepKnownList(data);
    if (!m_isFavouriteEffectDevice) {
        m_qfxInfoListFromQFXList.emplace();
        for (const QFXListCategory& category : list->arrayCategory())
            for (const OKVQFXInformation& record : category.arrayQFXInformation())
                m_qfxInfoListFromQFXList->push_back(record.copy());
        matchDeviceEffectList();
        publish();
        publishEffectTables();
    }
    if (m_isWorking && m_isGettingDataDevice) copyDeviceEffectFiles();
    if (m_createEffectListBlock) {
        auto block = std::exchange(m_createEffectListBlock, nullptr);
        block();
    }
    if (m_isFavouriteEffectDevice && m_isWorking) {
        finishRequest(RequestKind::FavouriteEffect);
    } else if (m_isConnectDevice) {
        m_parser.getMemoryStatus();
    }
}

void CommonUtils::matchDeviceEffectList()
{
    m_effectListFromDevice.clear();
    m_effectTypeListInDevice.clear();
    if (!m_qfxInfoListFromQFXList) return;
    for (const OKVQFXInformation& record : *m_qfxInfoListFromQFXList) {
        const std::uint32_t type = typeOf(record);
        bool matched = false;
        for (const MappingObject& entry : m_effectListFromServer) {
            if (storeEntryType(entry) != type) continue;
            MappingObject device = MappingObject::initWithFileName(record.nameQFX(), entry.filePath.value_or(""));
            device.isFavourite = record.favoriteQFX();
            device.isLoaded = record.isLoadedQFX();
            device.effectType = type;
            device.isEffectExistedAtServer = true;
            device.effectVersion = record.versionQFX();
            m_effectListFromDevice.push_back(std::move(device));
            matched = true;
            break;
        }
        if (!matched && type != 0) {
            MappingObject unknown;
            unknown.fileName = record.nameQFX();
            unknown.isEffectExistedAtServer = false;
            unknown.effectVersion = record.versionQFX();
            unknown.category = kUnknown;
            unknown.isLoaded = record.isLoadedQFX();
            unknown.effectType = type;
            m_effectListFromDevice.push_back(std::move(unknown));
        }
        if (record.isLoadedQFX() &&
            std::find(m_effectTypeListInDevice.begin(), m_effectTypeListInDevice.end(), type) == m_effectTypeListInDevice.end())
            m_effectTypeListInDevice.push_back(type);
    }
}

void CommonUtils::copyDeviceEffectFiles()
{
    std::vector<CopySource> copies;
    for (const MappingObject& entry : m_effectListFromDevice)
        if (entry.isEffectExistedAtServer && entry.filePath) copies.emplace_back(entry);
    copyFileList(copies, kTempEffectList);
    updateEffectPathForEffectList();
}

void CommonUtils::updateEffectPathForEffectList()
{
    std::vector<std::string> copies;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(pathUnderRoot(kTempEffectList), error), end;
         !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && it->path().extension() == std::string(".") + kEffectExtension)
            copies.push_back(it->path().string());
    }
    std::sort(copies.begin(), copies.end());
    for (MappingObject& entry : m_effectListFromDevice) {
        if (!entry.filePath) continue;
        const std::string name = lastComponent(*entry.filePath);
        const auto copy = std::find_if(copies.begin(), copies.end(),
                                       [&](const std::string& path) { return lastComponent(path) == name; });
        if (copy != copies.end()) entry.filePath = *copy;
    }
}

void CommonUtils::createEffectList()
{
    post([this] { createEffectListNow(); });
}

void CommonUtils::createEffectListNow()
{
    EffectItems effects;
    for (const MappingObject& entry : m_effectListFromDevice) {
        if (entry.isEffectExistedAtServer) {
            std::shared_ptr<EffectItem> item = getEffectItemWithPath(entry.filePath.value_or(std::string()));
            if (!item) continue;
            item->isFavourite = entry.isFavourite;
            item->fileName = entry.fileName.value_or(std::string());
            item->isDeleted = !entry.isLoaded;
            item->effectVersion = entry.effectVersion.value_or(std::string());
            effects.push_back(std::move(item));
        } else {
            auto item = std::make_shared<EffectItem>();
            item->fileName = entry.fileName.value_or(std::string());
            item->effectName = kUnknown;
            item->effectCategory = entry.category.value_or(kUnknown);
            item->effectVersion = entry.effectVersion.value_or(std::string());
            item->effectType = entry.effectType;
            item->effectCategoryID = EffectItem::kUnknownCategoryID;
            item->isDeleted = !entry.isLoaded;
            effects.push_back(std::move(item));
        }
    }
    tell([effects = std::move(effects)](CommonUtilsDelegate& d) { d.effectListFromDevice(effects); });
}

// ---- use counts ----

void CommonUtils::countEffectUsedTimesInEffectList(const EffectItems& effectList, const PatchItems& patchItemList)
{
    if (effectList.empty() || patchItemList.empty()) return;
    for (const auto& item : effectList)
        if (item && item->effectName != kUnknown) countEffectUsedTimesWithEffectItem(item, patchItemList);
}

void CommonUtils::countEffectUsedTimesWithEffectItem(const std::shared_ptr<EffectItem>& item,
                                                     const PatchItems& patchItemList)
{
    if (!item) return;
    item->effectUsedTimes = 0;
    for (const auto& patch : patchItemList) {
        if (!patch) continue;
        const platform::PlistValue slots(patch->effectDictionnary);
        const std::int64_t count = slots.get("NumberOfSlot").asInteger().value_or(0);
        for (std::int64_t i = 0; i < count;) {
            const platform::PlistValue& slot = slots.get("slot " + std::to_string(i));
            const platform::PlistDictionary* entries = slot.dictionary();
            if (entries == nullptr || entries->empty()) {
                ++i;
                continue;
            }
            const auto type = slot.get("effectType").asInteger();
            if (type && *type == static_cast<std::int64_t>(item->effectType)) {
                ++item->effectUsedTimes;
                // A slot claiming no units still occupies its own.
                i += std::max<std::int64_t>(slot.get("useUnitNum").asInteger().value_or(1), 1);
            } else {
                ++i;
            }
        }
    }
}

std::int64_t CommonUtils::checkEffectExisted(const EffectItem& item, const EffectItems& effectList)
{
    for (std::size_t i = 0; i < effectList.size(); ++i)
        if (effectList[i] && effectList[i]->effectType == item.effectType) return static_cast<std::int64_t>(i);
    return -1;
}
