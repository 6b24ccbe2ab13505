#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>

#include "device/formats/LittleEndian.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/QFXListEdit.h"
#include "library/models/EffectItem.h"
#include "library/store/OKVLocalFileController.h"

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

}  // namespace

void CommonUtils::updateEffectDevice()
{
    post([this] {
        if (!m_qfxInfoListFromQFXList || m_isQuitting) return;
        int count = 0;
        for (const OKVQFXInformation& record : *m_qfxInfoListFromQFXList) {
            if (!record.isLoadedQFX()) continue;
            const std::uint32_t type = LittleEndian::read32(record.type().data());
            const auto server = std::find_if(m_okvEffectListFromServer.begin(), m_okvEffectListFromServer.end(),
                                             [&](const OKVSimpleEffect& header) { return header.type() == type; });
            if (server == m_okvEffectListFromServer.end() || !checkVersionServer(server->version(), record.versionQFX()))
                continue;
            if (!m_isConnectDevice) return;
            updateQFXInfo(record, *server);
            ++count;
        }
        if (count >= 1) addRequest(RequestKind::UpdateEffect, [this] { finishUpdateEffectToDevice(); });
    });
}

void CommonUtils::updateQFXInfo(const OKVQFXInformation& qfxInfo, const OKVSimpleEffect& effectServer)
{
    addRequest(RequestKind::UpdateEffect,
               [this, qfxInfo, effectServer] { updateEffectToDeviceFlow(qfxInfo, effectServer); });
}

void CommonUtils::updateEffectToDeviceFlow(const OKVQFXInformation& qfxInfo, const OKVSimpleEffect& effectServer)
{
    // Queued as the quit came: the unit is not changed any more.
    if (m_isQuitting) {
        finishRequest(RequestKind::UpdateEffect);
        return;
    }
    std::vector<MappingObject> ofType;
    std::copy_if(m_effectPool.begin(), m_effectPool.end(), std::back_inserter(ofType),
                 [&](const MappingObject& pooled) { return pooled.effectType == effectServer.type(); });
    if (ofType.empty()) {
        finishRequest(RequestKind::UpdateEffect);
        return;
    }
    // A store that holds the type more than once (a full download again beside the first) sends the
    // file meant for the connected model.
    const auto forModel = OKVLocalFileController::getEffectListServerForDeviceWithEffectPool(ofType, m_deviceName);
    const MappingObject& entry = forModel ? forModel->front() : ofType.front();
    std::string path = entry.filePath.value_or(std::string());
    const char* home = std::getenv("HOME");
    const bool underHome = home != nullptr && *home != '\0' && path.find(home) != std::string::npos;
    if (path.find(m_rootPath) == std::string::npos && !underHome) {
        const std::string device = lowered(m_deviceName);
        const bool knownModel = std::any_of(m_modelNameList.begin(), m_modelNameList.end(), [&](const std::string& name) {
            return lowered(name).find(device) != std::string::npos;
        });
        if (knownModel) path = pathUnderRoot(kStoreEffect) + "/" + path;
    }
    std::shared_ptr<EffectItem> item = getEffectItemWithPath(path);
    if (!item || item->fileName.empty()) {
        tell([item](CommonUtilsDelegate& d) { d.writeEffectItem(item, QFXListEdit::Update, 0); });
        finishRequest(RequestKind::UpdateEffect);
        return;
    }
    modifyQFXListWithEffectItem(item, QFXListEdit::Update);
    // A newer file with no list edit to follow would leave the list naming the old version.
    if (!m_updateQFXListBlock) {
        tell([item](CommonUtilsDelegate& d) { d.writeEffectItem(item, QFXListEdit::Update, 0); });
        finishRequest(RequestKind::UpdateEffect);
        return;
    }
    actionWithEffectItem(item, QFXListEdit::Update);
    m_addedEffectType.reset();
    m_updateEffectDeviceBlock = [this, item, oldVersion = qfxInfo.versionQFX()] {
        tell([item, oldVersion](CommonUtilsDelegate& d) { d.effectItem(item, oldVersion); });
    };
    keepEditForRepair("write", qfxInfo.nameQFX(), item->path);
    m_isQFXList = false;
    m_parser.writeQFXListAndQFXWithFileName(qfxInfo.nameQFX(), item->path, 0);
}

void CommonUtils::finishUpdateEffectToDevice()
{
    if (!m_isQuitting)
        tell([](CommonUtilsDelegate& d) { d.didFinishUpdateEffectDevice(); });
    finishRequest(RequestKind::UpdateEffect);
}
