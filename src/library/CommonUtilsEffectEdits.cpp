#include <algorithm>

#include "common/Log.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/QFXListEdit.h"
#include "library/models/EffectItem.h"
#include "platform/files/FileManager.h"

// ---- the effect screen's requests ----

void CommonUtils::deleteEffectItem(const std::shared_ptr<EffectItem>& item)
{
    requestEffectAction(RequestKind::DeleteEffect, QFXListEdit::Delete, item);
}

void CommonUtils::addFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item)
{
    requestEffectAction(RequestKind::FavouriteEffect, QFXListEdit::Favourite, item);
}

void CommonUtils::removeFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item)
{
    requestEffectAction(RequestKind::FavouriteEffect, QFXListEdit::Favourite, item);
}

void CommonUtils::recoverEffectItem(const std::shared_ptr<EffectItem>& item)
{
    requestEffectAction(RequestKind::AddEffect, QFXListEdit::Recover, item);
}

void CommonUtils::addEffectItem(const std::shared_ptr<EffectItem>& item)
{
    requestEffectAction(RequestKind::AddEffect, QFXListEdit::Add, item);
}

void CommonUtils::replaceEffectItem(const std::shared_ptr<EffectItem>& item) { addEffectItem(item); }

void CommonUtils::requestEffectAction(RequestKind kind, std::int32_t actionType, const std::shared_ptr<EffectItem>& item)
{
    // The screen keeps editing its own item; the action works on the values it had when asked, and
    // reports with the screen's own item so the screen finds the row to revert.
    std::shared_ptr<EffectItem> values = item ? item->copy() : nullptr;
    addRequest(kind, [this, kind, actionType, item, values]() mutable {
        if (!values || values->fileName.empty()) {
            if (actionType == QFXListEdit::Delete)
                tell([item](CommonUtilsDelegate& d) { d.deleteEffectItem(item, 0); });
            else
                tell([item, actionType](CommonUtilsDelegate& d) { d.writeEffectItem(item, actionType, 0); });
            finishRequest(kind);
            return;
        }
        actionWithEffectItem(item, actionType);
        m_addedEffectType.reset();
        // A file sent or deleted with no list edit to follow leaves the device's list naming a file that
        // is gone, or holding a file it does not name: without the edit the device is not touched.
        const auto refusedWithoutListEdit = [this] {
            if (m_updateQFXListBlock) return false;
            giveActionResult(0);
            return true;
        };
        switch (actionType) {
            case QFXListEdit::Delete:
                m_isEffectFileDeleted = false;
                modifyQFXListWithEffectItem(values, actionType);
                if (refusedWithoutListEdit()) break;
                keepEditForRepair("delete", values->fileName, std::string());
                m_parser.deleteQFXWithFileName(values->fileName);
                break;
            case QFXListEdit::Favourite:
                modifyQFXListWithEffectItem(values, actionType);
                if (m_updateQFXListBlock) keepEditForRepair("none", std::string(), std::string());
                runUpdateQFXListBlock();
                break;
            case QFXListEdit::Recover:
                if (std::shared_ptr<EffectItem> stored = getEffectItemWithPath(values->path)) {
                    stored->isFavourite = values->isFavourite;
                    stored->isDeleted = values->isDeleted;
                    stored->effectUsedTimes = values->effectUsedTimes;
                    values = stored;
                }
                [[fallthrough]];
            default:
                modifyQFXListWithEffectItem(values, actionType);
                if (refusedWithoutListEdit()) break;
                keepEditForRepair("write", values->fileName, values->path);
                m_isQFXList = false;
                m_parser.writeQFXListAndQFXWithFileName(values->fileName, values->path, 1);
                if (actionType == QFXListEdit::Add && std::find(m_effectTypeListInDevice.begin(),
                                                                m_effectTypeListInDevice.end(),
                                                                values->effectType) == m_effectTypeListInDevice.end()) {
                    m_effectTypeListInDevice.push_back(values->effectType);
                    m_addedEffectType = values->effectType;
                    publish();
                    publishEffectTables();
                }
                break;
        }
    });
}

// ---- the result block and the prepared list edit ----

void CommonUtils::actionWithEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType)
{
    m_effectActionChangedUnit = false;
    m_changeEffectListBeforeAction = m_isChangeEffectList;
    // An earlier edit's record, left for its unit, is never this action's to drop.
    m_editRecord.clear();
    m_effectScreenActionBlock = [this, item, actionType](std::int32_t result) {
        const std::optional<RequestKind> kind = runningEffectAction();
        if (!kind) return;
        const auto settleKeptEdit = [this, result] {
            if (result == 1) return;
            if (m_effectActionChangedUnit) {
                // The module step reached the unit and the list did not follow: the kept edit finishes it
                // at the unit's next connection, and the user hears of the failure alone, not of a
                // changed list as well.
                m_isChangeEffectList = m_changeEffectListBeforeAction;
            } else {
                // The unit was not touched: nothing is left half done to finish later.
                dropEditForRepair();
            }
        };
        if (actionType == QFXListEdit::Delete) {
            if (result == -3 || result == -1 || result == -4) {
                tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
                forceEject();
                return;
            }
            settleKeptEdit();
            // The device keeps an effect whose file it did not delete.
            if (m_isEffectFileDeleted) std::erase(m_effectTypeListInDevice, item->effectType);
            tell([item, result](CommonUtilsDelegate& d) { d.deleteEffectItem(item, result); });
        } else {
            settleKeptEdit();
            if (result != 1 && m_addedEffectType) std::erase(m_effectTypeListInDevice, *m_addedEffectType);
            tell([item, actionType, result](CommonUtilsDelegate& d) { d.writeEffectItem(item, actionType, result); });
        }
        publish();
        publishEffectTables();
        finishRequest(*kind);
    };
}

void CommonUtils::giveActionResult(std::int32_t result)
{
    if (!m_effectScreenActionBlock) return;
    const auto block = m_effectScreenActionBlock;
    block(result);
}

void CommonUtils::modifyQFXListWithEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType)
{
    m_updateQFXListBlock = nullptr;
    m_editedList.clear();
    m_replacedList.clear();
    if (!m_qfxInfoListFromQFXList || m_qfxListPathDevice.empty()) return;
    const std::string path = m_qfxListPathDevice;
    platform::Error error;
    const auto stored = m_files.readFile(path, &error);
    std::optional<OKVQFXList> list = stored ? QFXListEdit::parse(*stored) : std::nullopt;
    // Without a readable, whole base there is no edit: the device's list is never replaced by a guess,
    // nor by one lacking the records of a block the stored copy ends inside.
    if (!list || list->endsInsideBlock()) {
        RIG_LOG("no stored effect list to edit at %s", path.c_str());
        return;
    }
    const std::size_t categoryCount = list->arrayCategory().size();
    OKVQFXList edited = *list;
    QFXListEdit::apply(edited, categoryCount, *item, actionType);
    m_editedList = edited.getByteData();
    m_replacedList = *stored;
    m_updateQFXListBlock = [this, item, actionType, path, categoryCount, list = std::move(*list)]() mutable {
        QFXListEdit::apply(list, categoryCount, *item, actionType);
        m_isQFXList = true;
        platform::Error error;
        if (!m_files.writeAtomically(path, list.getByteData(), &error, platform::Durability::WorkingCopy)) {
            RIG_LOG("cannot store the edited effect list: %s", error.description.c_str());
            giveActionResult(0);
            return;
        }
        if (m_isConnectDevice) m_parser.writeQFXListAndQFXWithFileName(kQFXListFileName, path, 0);
    };
}

void CommonUtils::runUpdateQFXListBlock()
{
    if (!m_updateQFXListBlock) {
        giveActionResult(0);
        return;
    }
    const auto block = m_updateQFXListBlock;
    block();
}

std::optional<CommonUtils::RequestKind> CommonUtils::runningEffectAction() const
{
    for (RequestKind kind :
         {RequestKind::DeleteEffect, RequestKind::FavouriteEffect, RequestKind::AddEffect, RequestKind::UpdateEffect})
        if (isRunning(kind)) return kind;
    return std::nullopt;
}

bool CommonUtils::effectActionLost(std::int32_t state, bool lost)
{
    if (lost) {
        reset();
        tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
        return true;
    }
    if (state == -2) {
        forceEject();
        tell([](CommonUtilsDelegate& d) { d.deviceDisonnect(); });
        return true;
    }
    return false;
}

void CommonUtils::clearEffectLibrary()
{
    m_effectListFromDevice.clear();
    m_qfxInfoListFromQFXList.reset();
    m_effectTypeListInDevice.clear();
    m_createEffectListBlock = nullptr;
    m_effectScreenActionBlock = nullptr;
    m_updateQFXListBlock = nullptr;
    m_updateEffectDeviceBlock = nullptr;
    m_isEffectFileDeleted = false;
    m_addedEffectType.reset();
    publishEffectTables();
}

// ---- the sequencer's results ----

void CommonUtils::writeQFXListAndQFXWithState(std::int32_t state)
{
    post([this, state] {
        if (isRunning(RequestKind::RepairEffectList)) {
            repairStepDone(state);
            return;
        }
        const std::optional<RequestKind> kind = runningEffectAction();
        if (!kind || effectActionLost(state, state == -4 || state == -1)) return;
        if (state == -3) {
            // The file to send did not read on this machine; the unit was not asked.
            giveActionResult(CommonUtilsDelegate::kEffectFileMissing);
        } else if (state != 1) {
            giveActionResult(state);
        } else if (!m_isConnectDevice) {
            giveActionResult(0);
        } else if (!m_isQFXList) {
            m_isChangeEffectList = true;
            m_effectActionChangedUnit = true;
            m_isQFXList = true;
            runUpdateQFXListBlock();
        } else {
            // The unit holds the new list: nothing of the edit is left to finish at its next answer.
            dropEditForRepair();
            m_parser.fileListFlush();
        }
    });
}

void CommonUtils::deleteQFXWithState(std::int32_t state, std::int32_t /*subState*/)
{
    post([this, state] {
        if (isRunning(RequestKind::RepairEffectList)) {
            repairStepDone(state);
            return;
        }
        if (!runningEffectAction() || effectActionLost(state, state == -3 || state == -1)) return;
        if (state != 1) {
            giveActionResult(state);
            return;
        }
        m_isEffectFileDeleted = true;
        m_isChangeEffectList = true;
        m_effectActionChangedUnit = true;
        runUpdateQFXListBlock();
    });
}

void CommonUtils::fileListFlushWithState(std::int32_t state)
{
    post([this, state] {
        if (isRunning(RequestKind::RepairEffectList)) {
            repairStepDone(state);
            return;
        }
        if (!runningEffectAction() || effectActionLost(state, state == -3 || state == -1)) return;
        if (state == 1 && m_isConnectDevice) {
            m_isQFXList = true;
            m_parser.getQFXList();
        } else {
            // A flush that succeeded for a device no longer there changed nothing the interface can see.
            giveActionResult(state == 1 ? 0 : state);
        }
    });
}

void CommonUtils::endEffectActionWithMemoryStatus()
{
    const std::optional<RequestKind> kind = runningEffectAction();
    if (!kind || *kind == RequestKind::FavouriteEffect) return;
    if (*kind == RequestKind::UpdateEffect && m_updateEffectDeviceBlock) {
        const auto block = std::exchange(m_updateEffectDeviceBlock, nullptr);
        block();
    }
    finishRequest(*kind);
}
