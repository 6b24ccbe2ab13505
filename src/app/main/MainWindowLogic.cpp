#include "app/main/MainWindowLogic.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>

#include <QPushButton>

#include "app/main/HelpOpener.h"
#include "app/main/MainCoordinator.h"
#include "app/main/MainWindowChrome.h"
#include "app/main/OptionMenuState.h"
#include "app/views/InterfaceTexts.h"
#include "app/screens/EffectScreen.h"
#include "app/screens/PatchScreen.h"
#include "app/shell/AppDelegate.h"
#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"

namespace {

constexpr const char* kLostConnection = "Main_LostConnectionWithDevice";

std::string lowered(const std::string& text)
{
    std::string result = text;
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// A node without what it is sorted by goes before every node that has it; such nodes keep their order.
template <typename Key>
void sortByKey(std::vector<std::shared_ptr<DirectoryObject>>& nodes,
               const std::function<std::optional<Key>(const DirectoryObject&)>& keyOf)
{
    std::stable_sort(nodes.begin(), nodes.end(), [&](const auto& left, const auto& right) {
        const auto a = left ? keyOf(*left) : std::nullopt;
        const auto b = right ? keyOf(*right) : std::nullopt;
        if (!b) return false;
        if (!a) return true;
        return *a < *b;
    });
}

}  // namespace

void MainWindowLogic::awakeFromNib(const Parts& parts)
{
    parts_ = std::make_unique<Parts>(parts);
    deviceName_.clear();
    updatedEffectItems_.clear();
    parts_->effectManager.setMainController(parts_->mainController);
    parts_->patchManager.setMainController(parts_->mainController);
    state_ = kStateNone;
    effectManagerButtonClicked();
    synchServerActionList_.clear();
    parts_->chrome.setServerSyncIconVisible(false);
    parts_->chrome.setDeviceSyncIconVisible(false);
    setUpControlMenuState();
    parts_->coordinator.setDelegate(this);
    // A change made while a quit waits is kept by the quit's note as the window shows it.
    parts_->appDelegate.setPatchPoolChangeHeard([this, alive = std::weak_ptr<const bool>(lifetime_)] {
        if (alive.expired() || !parts_) return;
        parts_->coordinator.notePoolChanged([this, alive]() -> std::optional<MainCoordinator::Tree> {
            if (alive.expired()) return std::nullopt;
            return parts_->patchManager.structureData();
        });
    });
    parts_->coordinator.syncEffect();
    setSavingToDeviceEnabled(false);
    setBackUpAllEnabled(false);
    parts_->patchManager.setLockPatchPool(true);
    parts_->chrome.refreshMenus();
}

bool MainWindowLogic::appUpdatingComfirmation() const { return parts_ && parts_->options.applicationUpdating(); }

bool MainWindowLogic::deviceUpdatingComfirmation() const { return parts_ && parts_->options.deviceUpdating(); }

void MainWindowLogic::effectManagerButtonClicked() { switchScreen(kStateEffect); }

void MainWindowLogic::patchManagerButtonClicked() { switchScreen(kStatePatch); }

void MainWindowLogic::switchScreen(int target)
{
    if (state_ == target) return;
    state_ = target;
    parts_->chrome.setTabPictures(target);
    parts_->chrome.showScreen(target);
    parts_->coordinator.clearUndoStack();
    if (target == kStateEffect) {
        parts_->effectManager.viewDidAppear();
        parts_->effectManager.reloadData();
    } else {
        parts_->patchManager.viewDidAppear();
        parts_->patchManager.reloadData();
    }
}

void MainWindowLogic::updateDeviceName(const std::string& name)
{
    parts_->chrome.setTitle(name.empty() ? std::string(kApplicationName) : name + " - " + kApplicationName);
}

void MainWindowLogic::clearAppData()
{
    auto& effect = parts_->effectManager;
    auto& patch = parts_->patchManager;
    isDisplayedDeviceUpdate_ = false;
    ejectWaiting_ = false;
    quitWaiting_ = false;
    holdUnitEdits(false);
    deviceWork_.reset();
    deviceWorkProgress_.reset();
    showDeviceWork();
    effect.setIsEffectListLoaded(false);
    patch.setIsPatchListLoaded(false);
    patch.setlockPatchList(false);
    // A restore the unit took along with it never reports: its summary must not stand for the next one's.
    patch.numberOfRestoredDictionaryArray().clear();
    parts_->appDelegate.clearData();
    parts_->coordinator.clearUndoStack();
    effect.resetEffectPoolState();
    patch.resetPatchPoolState();
    effect.setEffectList({});
    effect.reloadData();
    patch.setPatchItems({});
    patch.setBankItems({});
    patch.reloadData();
    updatedEffectItems_.clear();
    didGetDeviceMemory(0.0F);
    ++deviceImageAsked_;
    parts_->chrome.setDeviceImage(QImage());
    setSavingToDeviceEnabled(false);
    setBackUpAllEnabled(false);
    parts_->chrome.setServerSyncIconVisible(false);
    parts_->chrome.setDeviceSyncIconVisible(false);
    // Written while the window goes on; a reconnect's read of the library comes behind it. Copies under
    // way are waited for with the window free: the unit's folder they may read is removed behind them.
    if (parts_->coordinator.isPoolWorkPending()) saveDataLater();
    else parts_->coordinator.savePatchPoolLater(patch.structureData());
    parts_->chrome.setDeviceProperty("", "");
    deviceName_.clear();
    updateDeviceName(deviceName_);
    parts_->chrome.refreshMenus();
}

void MainWindowLogic::disconnectDevice()
{
    // A waiting Quit lets the unit go itself.
    if (quitWaiting_ || quitAfterSheet_) return;
    // A name being typed is the user's before the unit goes: it is written ahead of the eject.
    parts_->chrome.endTextEditing();
    ejectDevice();
}

void MainWindowLogic::ejectDevice()
{
    // The coordinator queues the eject behind the work in hand, which may run for a while: the button
    // shows that it waits until the unit is let go.
    if (parts_->appDelegate.isDeviceConnected() && !ejectWaiting_) {
        ejectWaiting_ = true;
        holdUnitEdits(true);
        parts_->chrome.refreshMenus();
        showDeviceWork();
    }
    // The eject's save needs the pool's copies made.
    afterPoolCopies([this] { parts_->coordinator.ejectDeviceWithPatchList(getPatchItemsInPatchList()); });
}

void MainWindowLogic::holdUnitEdits(bool held)
{
    AppDelegate& flags = parts_->appDelegate;
    if (held && !flags.isDeviceConnected()) return;
    if (flags.isLettingDeviceGo() == held) return;
    flags.setLettingDeviceGo(held);
    parts_->patchManager.setlockPatchList(held || flags.isRestoringAll());
    parts_->chrome.refreshMenus();
    showDeviceWork();
}

void MainWindowLogic::signalEndAsked()
{
    // The program ends as by Quit, whatever Disconnect waited before: the busy line says so. It ends
    // whatever shows, too: a Quit kept for a sheet's answer has nothing left to wait for.
    quitWaiting_ = true;
    quitAfterSheet_ = false;
    holdUnitEdits(true);
    showDeviceWork();
}

void MainWindowLogic::deviceWillBeLetGo()
{
    // The unit's own changes waiting for the quiet time are merged now, and what the unit needs again is
    // written ahead of the eject: the unit keeps its change, whichever write came over it. A write asked
    // from here on would go behind the eject and be dropped: the edits stay off until the unit is gone
    // (a sleep's eject comes without a gesture that held them).
    holdUnitEdits(true);
    parts_->patchManager.takeUnitChangesBeforeItGoes();
}

void MainWindowLogic::sleepWillLetDeviceGo()
{
    // The sleep's eject waits as the button's does, and says so: the unit's edits are off from here on,
    // since one made now could be cut by the system's delay and dropped with the unit.
    if (parts_->appDelegate.isDeviceConnected() && !ejectWaiting_) {
        ejectWaiting_ = true;
        parts_->chrome.refreshMenus();
    }
    holdUnitEdits(true);
    showDeviceWork();
}

void MainWindowLogic::afterPoolCopies(std::function<void()> step)
{
    if (!parts_->coordinator.isPoolWorkPending()) return step();
    if (poolWaits_++ == 0) parts_->chrome.holdUserInput(true);
    parts_->chrome.refreshMenus();
    showDeviceWork();
    parts_->coordinator.afterPoolWork([this, step = std::move(step)] {
        if (--poolWaits_ == 0) parts_->chrome.holdUserInput(false);
        parts_->chrome.refreshMenus();
        step();
    });
}

void MainWindowLogic::showClosingSave()
{
    // The end has begun: its save handles the quit's note, and a close or a quit asked while the window
    // goes on painting during it starts nothing.
    ending_ = true;
    // An unchanged pool is not written: nothing to say.
    if (!parts_ || !parts_->appDelegate.isPatchPoolChanged()) return;
    closingSave_ = true;
    parts_->chrome.refreshMenus();
    parts_->chrome.setDeviceWorkText(InterfaceTexts::localizedString("Main_BusySavingPoolAtQuit").toStdString());
}

void MainWindowLogic::closingSaveEnded()
{
    // Nothing starts still: the program ends once its message is read.
    if (closingSave_) parts_->chrome.setDeviceWorkText("");
}

void MainWindowLogic::noteQuitAsked()
{
    if (parts_ && !ending_) parts_->coordinator.noteQuitAsked(parts_->patchManager.structureData());
}

std::optional<std::string> MainWindowLogic::saveDataBeforeClosing()
{
    if (!parts_) return std::nullopt;
    return parts_->coordinator.savePatchPoolToLocal(parts_->patchManager.structureData());
}

void MainWindowLogic::saveDataLater()
{
    if (!parts_) return;
    // Nothing here removes what the copies under way read: the save waits for them with the window free.
    parts_->coordinator.savePatchPoolAfterCopies(
        [this, alive = std::weak_ptr<const bool>(lifetime_)]() -> std::optional<MainCoordinator::Tree> {
            if (alive.expired()) return std::nullopt;
            return parts_->patchManager.structureData();
        });
}

void MainWindowLogic::setReloadBufferDataTimer() { parts_->patchManager.setReloadBufferDataTimer(); }

std::vector<std::shared_ptr<PatchItem>> MainWindowLogic::getPatchItemsInPatchList() const
{
    return parts_->patchManager.patchItems();
}

bool MainWindowLogic::isPatchListLoaded() const { return parts_ && parts_->patchManager.isPatchListLoaded(); }

void MainWindowLogic::reloadEffectListIfNeeded()
{
    if (state_ == kStateEffect) parts_->effectManager.reloadDataInEffectList();
}

void MainWindowLogic::windowDidResize()
{
    parts_->effectManager.validateRuler();
    parts_->patchManager.validateRuler();
}

void MainWindowLogic::windowShouldClose()
{
    // Closing the window is quitting, which waits while a sheet shows, as the Quit item does.
    if (parts_->appDelegate.isShowingDialog()) return quitOnceAnswered();
    quit();
}

void MainWindowLogic::quitOnceAnswered()
{
    // The sheet is the user's to answer with its own buttons; the Quit is kept for then, not dropped.
    if (quitAfterSheet_ || quitWaiting_ || ending_) return;
    quitAfterSheet_ = true;
    showDeviceWork();
}

void MainWindowLogic::sheetsMayHaveEnded()
{
    if (!quitAfterSheet_ || parts_->appDelegate.isShowingDialog()) return;
    quitAfterSheet_ = false;
    parts_->dialogs.clearAllDialog();
    quit();
    parts_->chrome.refreshMenus();
}

void MainWindowLogic::quit()
{
    // The coordinator lets the running work finish before the program ends: the busy line says so.
    if ((quitWaiting_ && poolWaits_ > 0) || ending_) return;
    // A name being typed is the user's last gesture: it commits before the program saves and ends.
    parts_->chrome.endTextEditing();
    noteQuitAsked();
    quitWaiting_ = true;
    holdUnitEdits(true);
    showDeviceWork();
    // The save at the end needs the pool's copies made: they end first.
    afterPoolCopies([this] { parts_->coordinator.closeApp(); });
}

void MainWindowLogic::checkConnectionToServer() { parts_->coordinator.requestServerConnected(); }

void MainWindowLogic::animateSyncIcon()
{
    const std::size_t count = parts_ ? parts_->syncIconFrameCount : 0;
    if (count == 0) return;
    if (frameIndex_ >= count) frameIndex_ = 0;
    parts_->chrome.setSyncIconFrame(frameIndex_);
    ++frameIndex_;
}

// ---- menus ----

bool MainWindowLogic::validateMenuItem(MenuAction action) const
{
    const AppDelegate& flags = parts_->appDelegate;
    // A Disconnect or Quit waiting for the pool's copies, or the end's save: nothing else starts.
    if (poolWaits_ > 0 || closingSave_) return false;
    switch (action) {
    case MenuAction::DisconnectDevice:
        // A waiting Quit lets the unit go itself: a Disconnect then would do nothing.
        return flags.isDeviceConnected() && !ejectWaiting_ && !quitWaiting_ && !quitAfterSheet_;
    case MenuAction::DeviceInformation:
        return flags.isDeviceConnected();
    case MenuAction::ConnectDevice:
        return !flags.isDeviceConnected();
    case MenuAction::Undo:
        return parts_->coordinator.canBeUndo() && !flags.isUndoHeld() && !flags.isShowingDialog();
    case MenuAction::Quit:
        // Taken while a sheet shows too: the program ends once the sheet is answered with its own buttons.
        return !quitWaiting_ && !quitAfterSheet_;
    case MenuAction::Manual:
        // A guide that is not installed leaves the item greyed rather than dead.
        return manualPath().has_value();
    default:
        return true;
    }
}

void MainWindowLogic::performMenuAction(MenuAction action)
{
    if (!validateMenuItem(action)) return;
    switch (action) {
    case MenuAction::ConnectDevice:
        parts_->coordinator.connectDevice();
        break;
    case MenuAction::DisconnectDevice:
        disconnectDevice();
        break;
    case MenuAction::DeviceInformation:
        parts_->chrome.showDeviceProperty();
        break;
    case MenuAction::Undo:
        parts_->coordinator.doUndoAction();
        break;
    case MenuAction::Quit:
        if (parts_->appDelegate.isShowingDialog()) {
            quitOnceAnswered();
            break;
        }
        parts_->dialogs.clearAllDialog();
        quit();
        break;
    case MenuAction::Version:
        didClickVersionMenu();
        break;
    case MenuAction::License:
        didClickOnLicense();
        break;
    case MenuAction::Manual:
        didClickManualMenu();
        break;
    case MenuAction::VersionUpdateHistory:
        didClickVersionUpdateHistory();
        break;
    case MenuAction::InformUpdatingApplication:
        didClickInformUpdatingApplicationMenu();
        break;
    case MenuAction::InformUpdatingDevice:
        didClickInformUpdatingDeviceMenu();
        break;
    }
    parts_->chrome.refreshMenus();
}

void MainWindowLogic::setUpControlMenuState()
{
    parts_->options.read();
    parts_->chrome.setCheckMarks(appUpdatingComfirmation(), deviceUpdatingComfirmation());
}

void MainWindowLogic::didClickInformUpdatingApplicationMenu()
{
    parts_->options.toggleApplicationUpdating();
    parts_->chrome.setCheckMarks(appUpdatingComfirmation(), deviceUpdatingComfirmation());
}

void MainWindowLogic::didClickInformUpdatingDeviceMenu()
{
    parts_->options.toggleDeviceUpdating();
    parts_->chrome.setCheckMarks(appUpdatingComfirmation(), deviceUpdatingComfirmation());
}

void MainWindowLogic::didClickVersionMenu() { parts_->chrome.showVersionWindow(); }

void MainWindowLogic::didClickOnLicense() { parts_->chrome.showLicenseWindow(); }

std::optional<std::string> MainWindowLogic::manualPath() const
{
    if (!parts_ || parts_->resourcesDirectory.empty()) return std::nullopt;
    const bool japanese = parts_->language == "ja";
    const std::filesystem::path manual = std::filesystem::path(parts_->resourcesDirectory) /
                                         (japanese ? "PEXO Rigmora リファレンスガイド.pdf" : "PEXO Rigmora Reference guide.pdf");
    std::error_code error;
    if (!std::filesystem::is_regular_file(manual, error)) return std::nullopt;
    return manual.string();
}

void MainWindowLogic::didClickManualMenu()
{
    if (const auto manual = manualPath()) parts_->opener.openFile(*manual);
}

void MainWindowLogic::didClickVersionUpdateHistory()
{
    const std::string& url = parts_->language == "ja" ? parts_->historyUrlJp : parts_->historyUrlEn;
    if (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) parts_->opener.openUrl(url);
}

// ---- connections, losses and terminating reports ----

void MainWindowLogic::terminateAfter(const std::string& key)
{
    clearAppData();
    // The end is asked for later on the main queue, after the sheet has gone.
    parts_->dialogs.showInformation(key, std::nullopt, [this] { parts_->post([this] { parts_->chrome.terminate(); }); });
}

void MainWindowLogic::allQFXDataWithState(std::int64_t state)
{
    if (state == 1 || state == 2) terminateAfter("Main_CanNotGetQFXFileFromServer");
}

void MainWindowLogic::internetNoConnect() { terminateAfter("Main_CanNotConnectToInternet"); }

void MainWindowLogic::deviceConnectWithState(std::int32_t state)
{
    if (state == 3) {
        clearAppData();
        parts_->dialogs.showInformation("Main_AllQFXNotSupportThisModel");
        return;
    }
    if (state != 1) return;
    if (isFirstTimeConnect_) parts_->dialogs.clearAllDialog();
    isFirstTimeConnect_ = true;
    // The clearing is the screens' own: the read of the new unit may have been told already, and it goes
    // on through it.
    const auto work = deviceWork_;
    const auto progress = deviceWorkProgress_;
    clearAppData();
    deviceWork_ = work;
    deviceWorkProgress_ = progress;
    parts_->appDelegate.setDeviceConnected(true);
    showDeviceWork();
    showDeviceImage();
    parts_->patchManager.setNumberOfSlotsInBlank(parts_->coordinator.getNumberOfSlotsInBank());
    if (isPatchPoolLoaded_) parts_->coordinator.updateDirectoryObjectForPatchPool(parts_->patchManager.structureData());
    parts_->chrome.refreshMenus();
}

void MainWindowLogic::deviceImageDidArrive()
{
    if (parts_->appDelegate.isDeviceConnected()) showDeviceImage();
}

void MainWindowLogic::showDeviceImage()
{
    const std::uint64_t asked = ++deviceImageAsked_;
    parts_->coordinator.getImageDevice([this, asked, alive = std::weak_ptr<const bool>(lifetime_)](const QImage& image) {
        // A picture asked for a unit since gone, or overtaken by a later ask, is not shown.
        if (!alive.expired() && asked == deviceImageAsked_ && parts_->appDelegate.isDeviceConnected())
            parts_->chrome.setDeviceImage(image);
    });
}

void MainWindowLogic::serverConnectWithState(bool reachable)
{
    parts_->chrome.setLostServerIconVisible(!reachable);
    if (!reachable) parts_->chrome.setServerSyncIconVisible(false);
}

void MainWindowLogic::dropDevice()
{
    parts_->dialogs.clearAllDialog();
    clearAppData();
    parts_->coordinator.removeDeviceDataFolder();
    parts_->appDelegate.setDeviceConnected(false);
    parts_->chrome.refreshMenus();
}

void MainWindowLogic::lostDevice()
{
    dropDevice();
    parts_->dialogs.showInformation(kLostConnection);
}

void MainWindowLogic::deviceDisonnect() { lostDevice(); }

// The failure that made the coordinator let the unit go is told next, over the cleared window.
void MainWindowLogic::deviceLetGo() { dropDevice(); }

void MainWindowLogic::deviceLostConnectOrNoReply() { lostDevice(); }

// The list goes with the unit, so the sheet names the slots whose patches the unit may not hold.
void MainWindowLogic::deviceLostDuringWrite(const std::vector<std::string>& unsure)
{
    dropDevice();
    std::string named;
    for (const std::string& slot : unsure) named += (named.empty() ? "" : ", ") + slot;
    parts_->dialogs.showInformation("Main_LostDuringWriteSlotsUnsure", named);
}

void MainWindowLogic::systemDidSleep() { clearAppData(); }

void MainWindowLogic::ejectDeviceWithState(std::int32_t state)
{
    if (ejectWaiting_) {
        ejectWaiting_ = false;
        parts_->chrome.refreshMenus();
    }
    if (state == 1) {
        clearAppData();
        parts_->coordinator.removeDeviceDataFolder();
    } else if (state == -4 || state == -2) {
        deviceDisonnect();
    } else {
        // The unit stays connected and usable; only the eject did not happen. A Quit or a signal asked
        // meanwhile still lets it go: its edits stay off.
        if (!quitWaiting_) holdUnitEdits(false);
        parts_->dialogs.showInformation("Main_EjectDeviceFailed");
    }
}

// ---- effect edits ----

std::size_t MainWindowLogic::effectIndexOfType(const EffectItem& item) const
{
    const auto& list = parts_->effectManager.effectList();
    const auto found = std::find_if(list.begin(), list.end(),
                                    [&](const auto& entry) { return entry && entry->effectType == item.effectType; });
    return static_cast<std::size_t>(found - list.begin());
}

void MainWindowLogic::writeEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType,
                                      std::int32_t failedState)
{
    if (!item) return;
    auto& list = parts_->effectManager.effectList();
    const std::size_t index = effectIndexOfType(*item);
    if (index >= list.size()) return;
    const std::shared_ptr<EffectItem> entry = list[index];
    // A file gone from this machine is no fault of the unit: it stays connected, its list untouched.
    std::string key = failedState == CommonUtilsDelegate::kEffectFileMissing ? "Main_EffectFileMissing"
                                                                              : "Main_WriteEffectItemFailed";
    if (isLostDevice(failedState)) {
        key = kLostConnection;
        ejectDevice();
        clearAppData();
        parts_->dialogs.showInformation(key);
        return;
    }
    // Only what the action changed on the screen goes back.
    switch (actionType) {
    case 1:  // an update replaced nothing on the screen yet
        break;
    case 2:
        entry->isDeleted = false;
        break;
    case 3:
        entry->isFavourite = !entry->isFavourite;
        break;
    case 4:
        entry->isDeleted = true;
        break;
    default:
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
        break;
    }
    parts_->effectManager.reloadDataInEffectList();
    parts_->dialogs.showInformation(key, entry->effectName);
}

void MainWindowLogic::deleteEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t failedState)
{
    if (!item) return;
    auto& list = parts_->effectManager.effectList();
    const std::size_t index = effectIndexOfType(*item);
    if (index >= list.size()) return;
    const std::shared_ptr<EffectItem> entry = list[index];
    entry->isDeleted = false;
    parts_->effectManager.reloadDataInEffectList();
    if (isLostDevice(failedState)) {
        ejectDevice();
        clearAppData();
        parts_->dialogs.showInformation(kLostConnection);
        return;
    }
    parts_->dialogs.showInformation("Main_DeleteEffectItemFailed", entry->effectName);
}

void MainWindowLogic::changeEffectListSuccessfully() { parts_->patchManager.reloadData(); }

// ---- patch writes ----

void MainWindowLogic::writePatchListWithState(std::int32_t state)
{
    auto& patch = parts_->patchManager;
    auto& summaries = patch.numberOfRestoredDictionaryArray();
    std::optional<PatchScreen::RestoredCount> summary;
    if (!summaries.empty()) {
        // This result belongs to the oldest restore; a later equal restore keeps its own summary.
        summary = summaries.front();
        summaries.erase(summaries.begin());
    }
    if (state == 1) {
        if (summary) patch.displayRestoreDialogWithNumberOfRestoredItems(summary->restoredItems, summary->maxItems);
    } else {
        parts_->dialogs.showInformation("Main_WritePatchListFailed");
    }
    // Success or failure, the restore has ended: nothing stays locked until an eject.
    setBackUpAllEnabled(true);
    patch.setlockPatchList(false);
    parts_->appDelegate.setIsRestoringAll(false);
    parts_->chrome.refreshMenus();
}

void MainWindowLogic::writePatchItemWithFailedState(std::int32_t state, const std::shared_ptr<PatchItem>& oldPatchItem,
                                                    std::uint32_t index)
{
    if (state == -3 || !oldPatchItem) {
        parts_->dialogs.showInformation("Patch_ErrorAndEjectDevice");
        ejectDevice();
        return;
    }
    auto items = parts_->patchManager.patchItems();
    if (index >= items.size()) return;
    items[index] = oldPatchItem;
    parts_->patchManager.setPatchItems(std::move(items));
    parts_->patchManager.reloadDataInPatchList();
}

// ---- device lists ----

void MainWindowLogic::getQFXListwithFailedState(std::int32_t state)
{
    if (state == -4) {
        ejectDevice();
        clearAppData();
        parts_->dialogs.showInformation(kLostConnection);
        return;
    }
    parts_->dialogs.showInformation("Main_GetQFXListFailed");
}

void MainWindowLogic::getPatchListWithFailedState(std::int32_t state)
{
    if (state == -4) {
        clearAppData();
        parts_->dialogs.showInformation(kLostConnection);
        return;
    }
    parts_->dialogs.showInformation("Main_GetPatchListFailed");
}

void MainWindowLogic::readQFXListFail()
{
    clearAppData();
    parts_->dialogs.showInformation("Main_ReadQFXListFailed");
}

void MainWindowLogic::deviceEffectListRepaired(const std::optional<std::string>& droppedModule)
{
    if (droppedModule) parts_->dialogs.showInformation("Main_DeviceEffectDroppedFromList", *droppedModule);
    else parts_->dialogs.showInformation("Main_DeviceEffectListRepaired");
}

void MainWindowLogic::effectListFromDevice(const std::vector<std::shared_ptr<EffectItem>>& effects)
{
    setEffectList(effects);
}

void MainWindowLogic::setEffectList(const std::vector<std::shared_ptr<EffectItem>>& effects)
{
    parts_->effectManager.setEffectList(effects);
    parts_->effectManager.setIsEffectListLoaded(true);
    parts_->effectManager.reloadDataInEffectList();
}

void MainWindowLogic::patchListFromDevice(const Items& patches, const std::vector<std::string>& offsetNameList)
{
    setPatchList(patches);
    setBankListFromPatchObjects(offsetNameList);
    parts_->patchManager.reloadData();
    setBackUpAllEnabled(!parts_->patchManager.isLockPatchPool());
}

void MainWindowLogic::setPatchList(const Items& patches)
{
    parts_->patchManager.setPatchItems(patches);
    // Marked read first: the effect screen counts uses only over a list that has been read.
    parts_->patchManager.setIsPatchListLoaded(true);
    parts_->effectManager.reloadDataInEffectList();
    parts_->coordinator.clearUndoStack();
}

void MainWindowLogic::setBankListFromPatchObjects(const std::vector<std::string>& offsetNameList)
{
    PatchScreen::BankItems banks;
    for (const auto& name : offsetNameList) {
        auto bank = std::make_shared<BankItem>();
        bank->bankName = name;
        banks.push_back(std::move(bank));
    }
    parts_->patchManager.setBankItems(std::move(banks));
    parts_->patchManager.reloadDataInPatchList();
}

void MainWindowLogic::updatePatchItemFromDevice(const std::shared_ptr<PatchItem>& item, const std::string& atOffset,
                                                const UnitPatchChange& origin)
{
    parts_->patchManager.updatePatchItem(item, atOffset, origin);
}

// ---- trees ----

void MainWindowLogic::sortEffectPool(const Tree& effectPool)
{
    for (const auto& model : effectPool) {
        if (!model) continue;
        sortByKey<std::int32_t>(model->childDirectories, [](const DirectoryObject& category) -> std::optional<std::int32_t> {
            if (category.childDirectories.empty() || !category.childDirectories.front()) return std::nullopt;
            const EffectItem* item = category.childDirectories.front()->effectItem();
            if (item == nullptr) return std::nullopt;
            return item->effectCategoryID;
        });
        for (const auto& category : model->childDirectories) {
            if (!category) continue;
            sortByKey<std::string>(category->childDirectories, [](const DirectoryObject& effect) -> std::optional<std::string> {
                const EffectItem* item = effect.effectItem();
                if (item == nullptr) return std::nullopt;
                return lowered(item->effectName);
            });
        }
    }
}

void MainWindowLogic::serverDirectoryObject(const Tree& effectPool)
{
    parts_->post([this] { patchDirectoryObject(); });
    sortEffectPool(effectPool);
    parts_->effectManager.setStructureData(effectPool);
    parts_->effectManager.reloadDataInEffectPool();
}

void MainWindowLogic::patchDirectoryObject() { parts_->coordinator.createPatchDirectoryObjectFromLocal(); }

void MainWindowLogic::patchPoolDirectoryObject(const Tree& patchPool)
{
    auto& patch = parts_->patchManager;
    patch.setStructureData(patchPool);
    patch.reloadDataInPatchPoolWarningsLater();
    isPatchPoolLoaded_ = true;
    patch.setLockPatchPool(false);
    if (!parts_->appDelegate.isDeviceConnected()) {
        setBackUpAllEnabled(false);
        return;
    }
    parts_->coordinator.updateDirectoryObjectForPatchPool(patch.structureData());
    setBackUpAllEnabled(patch.isPatchListLoaded());
}

void MainWindowLogic::patchPoolMarksUpdated() { parts_->patchManager.reloadDataInPatchPoolWarningsLater(); }

// Said with its cause, as the end says it: the user learns what to free or fix before the next save.
void MainWindowLogic::patchPoolNotSaved(const std::string& reason)
{
    parts_->dialogs.showInformation("Main_PatchPoolNotSaved", reason);
}

void MainWindowLogic::patchPoolKeptFromLastRun() { parts_->dialogs.showInformation("Main_PatchPoolKeptFromLastRun"); }

void MainWindowLogic::patchPoolKeptWithout(const std::string& files)
{
    parts_->dialogs.showInformation("Main_PatchPoolKeptWithout", files);
}

void MainWindowLogic::patchPoolKeptBesideLibrary(const std::string& groups)
{
    parts_->dialogs.showInformation("Main_PatchPoolKeptBesideLibrary", groups);
}

void MainWindowLogic::patchLibraryNotRead(const std::string& reason)
{
    parts_->dialogs.showInformation("Main_PatchLibraryNotRead", reason);
}

void MainWindowLogic::patchLibraryPartKeptAside(const std::string& part, const std::string& aside)
{
    parts_->dialogs.showInformation("Main_PatchLibraryPartKeptAside",
                                    InterfaceTexts::localizedString("Main_PatchLibraryPartNamed")
                                        .arg(QString::fromStdString(part), QString::fromStdString(aside))
                                        .toStdString());
}

// ---- header ----

void MainWindowLogic::didGetDeviceName(const std::string& name)
{
    deviceName_ = name;
    updateDeviceName(name);
    parts_->chrome.setDeviceProperty(name, parts_->coordinator.getDeviceVersion());
}

void MainWindowLogic::didGetDeviceMemory(float percentInUse)
{
    const bool shown = parts_->appDelegate.isDeviceConnected() && percentInUse >= 0.0F;
    const unsigned value = shown ? static_cast<unsigned>(std::lround(percentInUse)) : 0U;
    parts_->chrome.setMemory(value, shown);
}

void MainWindowLogic::didDoSynchronizationActionServer(const std::string& code)
{
    synchServerActionList_.push_back(code);
    parts_->chrome.setServerSyncIconVisible(true);
    parts_->chrome.setLostServerIconVisible(false);
}

void MainWindowLogic::didFinishSynchronizationActionServer(const std::string& code)
{
    const auto found = std::find(synchServerActionList_.begin(), synchServerActionList_.end(), code);
    if (found != synchServerActionList_.end()) synchServerActionList_.erase(found);
    if (synchServerActionList_.empty()) parts_->chrome.setServerSyncIconVisible(false);
}

void MainWindowLogic::didDoSynchronizationActionDevice(const std::optional<std::string>& /*code*/)
{
    if (parts_->appDelegate.isDeviceConnected()) parts_->chrome.setDeviceSyncIconVisible(true);
}

void MainWindowLogic::didFinishSynchronizationActionDevice(const std::optional<std::string>& /*code*/)
{
    parts_->chrome.setDeviceSyncIconVisible(false);
}

void MainWindowLogic::deviceWorkDidEnd()
{
    deviceWork_.reset();
    deviceWorkProgress_.reset();
    showDeviceWork();
}

std::string MainWindowLogic::endCount(const std::string& count)
{
    // A count is no sentence of its own: it is ended before the sentence that follows it.
    return InterfaceTexts::localizedString("Main_BusyCountEnds").arg(QString::fromStdString(count)).toStdString();
}

void MainWindowLogic::deviceWorkDidStart(DeviceWork work)
{
    deviceWork_ = work;
    deviceWorkProgress_.reset();
    showDeviceWork();
}

void MainWindowLogic::deviceWorkProgress(std::int32_t done, std::int32_t total)
{
    deviceWorkProgress_ = {done, total};
    showDeviceWork();
}

void MainWindowLogic::poolCopiesProgress(std::size_t made, std::size_t asked)
{
    if (asked == 0) poolCopies_.reset();
    else poolCopies_ = {std::min(made, asked), asked};
    showDeviceWork();
}

void MainWindowLogic::poolFilesReading(std::size_t files)
{
    poolFilesReading_ = files;
    showDeviceWork();
}

void MainWindowLogic::showDeviceWork()
{
    bool endsWithCount = false;
    std::string text = deviceWorkText(endsWithCount);
    parts_->chrome.setDeviceWorkText(withSheetQuit(std::move(text), endsWithCount));
}

std::string MainWindowLogic::withSheetQuit(std::string text, bool endsWithCount) const
{
    if (!quitAfterSheet_) return text;
    const std::string waits = InterfaceTexts::localizedString("Main_BusyQuitAfterSheet").toStdString();
    if (text.empty()) return waits;
    // A count is no sentence of its own: it is ended before the sentence that follows it.
    if (endsWithCount) return endCount(text) + " " + waits;
    return text + "  " + waits;
}

std::string MainWindowLogic::deviceWorkText(bool& endsWithCount) const
{
    // The pool's reads and copies go on with or without a unit; they share the line with the unit's work.
    std::string copying;
    if (poolFilesReading_ > 0)
        copying = InterfaceTexts::localizedString("Main_BusyReadingDroppedFiles")
                      .arg(static_cast<qulonglong>(poolFilesReading_))
                      .toStdString();
    if (poolCopies_)
        copying += (copying.empty() ? "" : "  ") + InterfaceTexts::localizedString("Main_BusyCopyingPatches")
                                                        .arg(static_cast<qulonglong>(poolCopies_->first))
                                                        .arg(static_cast<qulonglong>(poolCopies_->second))
                                                        .toStdString();
    static const std::map<DeviceWork, const char*> keys{
        {DeviceWork::Reading, "Main_BusyReading"},          {DeviceWork::Ejecting, "Main_BusyEjecting"},
        {DeviceWork::ChangingEffects, "Main_BusyEffects"},  {DeviceWork::SelectingPatch, "Main_BusySelecting"},
        {DeviceWork::WritingPatches, "Main_BusyWriting"},   {DeviceWork::Repairing, "Main_BusyRepairing"},
    };
    // While the unit waits to be let go, the wait says too why an edit of the unit is refused.
    const bool lettingGo = parts_->appDelegate.isLettingDeviceGo() && parts_->appDelegate.isDeviceConnected();
    const char* quitWaits = lettingGo ? "Main_BusyQuitWaitsEditsOff" : "Main_BusyQuitWaits";
    const char* ejectWaits = lettingGo ? "Main_BusyEjectWaitsEditsOff" : "Main_BusyEjectWaits";
    if (!deviceWork_ || !parts_->appDelegate.isDeviceConnected()) {
        // A Quit or an eject waiting for the copies says so after their count.
        const char* waits = quitWaiting_ ? quitWaits : ejectWaiting_ ? ejectWaits : nullptr;
        if (!copying.empty() && waits != nullptr)
            copying = endCount(copying) + " " + InterfaceTexts::localizedString(waits).toStdString();
        endsWithCount = !copying.empty() && waits == nullptr;
        return copying;
    }
    std::string text = InterfaceTexts::localizedString(keys.at(*deviceWork_)).toStdString();
    // Only a read's dump and a write of several patches count their patches.
    const bool counted =
        deviceWorkProgress_ && (*deviceWork_ == DeviceWork::Reading || *deviceWork_ == DeviceWork::WritingPatches);
    if (counted) {
        const char* key = *deviceWork_ == DeviceWork::Reading ? "Main_BusyReadingPatches" : "Main_BusyWritingPatches";
        text = InterfaceTexts::localizedString(key)
                   .arg(deviceWorkProgress_->first)
                   .arg(deviceWorkProgress_->second)
                   .toStdString();
    }
    const char* waits = quitWaiting_ && *deviceWork_ != DeviceWork::Ejecting         ? quitWaits
                        : ejectWaiting_ && *deviceWork_ != DeviceWork::Ejecting ? ejectWaits
                                                                                : nullptr;
    if (waits != nullptr) {
        if (counted) text = endCount(text);
        text += " " + InterfaceTexts::localizedString(waits).toStdString();
    }
    if (!copying.empty()) text += "  " + copying;
    endsWithCount = !copying.empty() || (counted && waits == nullptr);
    return text;
}

// ---- update notices ----

void MainWindowLogic::applicationDidHaveUpdateWithCurentVersion(const std::string& /*curentVersion*/,
                                                                const std::string& /*newVersion*/)
{
    if (!appUpdatingComfirmation() || receivedAppVersion_) return;
    receivedAppVersion_ = true;
    parts_->dialogs.showInformation("Main_ApplicationUpdateInformationText", std::string(kApplicationName));
}

void MainWindowLogic::deviceDidHaveUpdateWithCurentVersion(const std::string& /*curentVersion*/,
                                                           const std::string& /*newVersion*/)
{
    if (!deviceUpdatingComfirmation() || !parts_->appDelegate.isDeviceConnected() || deviceName_.empty() ||
        isDisplayedDeviceUpdate_)
        return;
    isDisplayedDeviceUpdate_ = true;
    parts_->dialogs.showInformation("Main_DeviceUpdateInformationText", deviceName_);
}

void MainWindowLogic::effectItem(const std::shared_ptr<EffectItem>& item, const std::string& didUpdateFromOldVersion)
{
    if (!item) return;
    updatedEffectItems_.push_back({item, didUpdateFromOldVersion});
    auto& list = parts_->effectManager.effectList();
    const std::size_t index = effectIndexOfType(*item);
    if (index >= list.size()) return;
    // The same effect in the same patches and the same record of the unit's list: its use count
    // carries over (a count still running maps onto it by type), and so does its favourite star, which
    // the update left on the unit.
    if (list[index]) {
        item->effectUsedTimes = list[index]->effectUsedTimes;
        item->isFavourite = list[index]->isFavourite;
    }
    list[index] = item;
    parts_->effectManager.reloadEffectListRow(index);
}

void MainWindowLogic::didFinishUpdateEffectDevice()
{
    if (!updatedEffectItems_.empty()) parts_->dialogs.showEffectUpdateSheet(updatedEffectItems_);
}

void MainWindowLogic::copyPatchFileFrom(const std::string& from, const std::string& toDestination,
                                        const std::string& isExistedAndCanChangeWithPath)
{
    MainCoordinator& coordinator = parts_->coordinator;
    MainDialogs& dialogs = parts_->dialogs;
    const std::string fileName = std::filesystem::path(toDestination).filename().string();
    dialogs.showDuplicatingFileNameAlert(
        fileName,
        [&coordinator, from, isExistedAndCanChangeWithPath] {
            coordinator.writeFilePatchWithPath(from, isExistedAndCanChangeWithPath, false, false);
        },
        [&coordinator, from, toDestination] { coordinator.writeFilePatchWithPath(from, toDestination, true, false); },
        // Closed with the other sheets before the user answered: the copy is not made, and the user is told.
        [&dialogs, fileName] { dialogs.showInformation("Main_DuplicateCopyNotMade", fileName); });
}

void MainWindowLogic::setBackUpAllEnabled(bool enabled)
{
    if (auto* button = parts_->patchManager.backUpAllOrRestoreAllButton()) button->setEnabled(enabled);
}

void MainWindowLogic::setSavingToDeviceEnabled(bool enabled)
{
    if (auto* button = parts_->effectManager.savingToDeviceButton()) button->setEnabled(enabled);
}
