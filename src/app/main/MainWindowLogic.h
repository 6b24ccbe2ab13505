#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/main/MainDialogs.h"
#include "library/CommonUtilsDelegate.h"

class AppDelegate;
class EffectScreen;
class HelpOpener;
class MainCoordinator;
class MainWindowController;
class MainWindowChrome;
class OptionMenuState;
class PatchScreen;

// The main window controller's decisions: the set-up, the screen switch, the timers' work, the menus,
// the clearing of the device display and every answer to the coordinator. It drives the screens, the
// window's chrome, the dialogs and the coordinator through their interfaces only. Main thread.
class MainWindowLogic : public CommonUtilsDelegate {
public:
    static constexpr const char* kApplicationName = "PEXO Rigmora";
    static constexpr int kStateNone = 2;
    static constexpr int kStateEffect = 0;
    static constexpr int kStatePatch = 1;

    enum class MenuAction {
        ConnectDevice,
        DisconnectDevice,
        DeviceInformation,
        Undo,
        Quit,
        Version,
        License,
        Manual,
        VersionUpdateHistory,
        InformUpdatingApplication,
        InformUpdatingDevice,
    };

    struct Parts {
        AppDelegate& appDelegate;
        MainCoordinator& coordinator;
        MainDialogs& dialogs;
        MainWindowChrome& chrome;
        EffectScreen& effectManager;
        PatchScreen& patchManager;
        OptionMenuState& options;
        HelpOpener& opener;
        // What the screens are given as their main window controller.
        MainWindowController* mainController = nullptr;
        // Runs work later on the main queue; nothing here ever waits for it.
        std::function<void(std::function<void()>)> post;
        // The program's resources folder (the manuals), the interface language and the update-history
        // pages in English and Japanese.
        std::string resourcesDirectory;
        std::string language;
        std::string historyUrlEn;
        std::string historyUrlJp;
        // The names of the animation frames that exist.
        std::size_t syncIconFrameCount = 0;
    };

    // The set-up, in its order: screens, the effect screen shown, options, icons, the coordinator's
    // delegate and its synchronisation, the pool locked until it arrives.
    void awakeFromNib(const Parts& parts);

    // Window states: 0 the effect screen, 1 the patch screen, 2 none chosen yet.
    int state() const { return state_; }
    void effectManagerButtonClicked();
    void patchManagerButtonClicked();

    void updateDeviceName(const std::string& name);
    const std::string& deviceName() const { return deviceName_; }
    void clearAppData();
    void ejectDevice();
    // The user's Disconnect, from the menu or the Eject button: the typing ends, then the eject.
    void disconnectDevice();
    std::optional<std::string> saveDataBeforeClosing();
    void saveDataLater();
    void showClosingSave();
    void closingSaveEnded();
    // Every quit, whatever asked it, is noted for the coordinator before anything waits.
    void noteQuitAsked();
    // From a Disconnect, Quit or signal until the unit is let go (or stays, its eject refused), gestures
    // that would change the unit are refused: the list's edits and drops, the effect edits, Undo and
    // Restore. Nothing else stops: the pool goes on taking edits, which the end's save keeps.
    void holdUnitEdits(bool held);
    // A termination signal ends the program after the unit is let go: a Quit's wait, asked from outside.
    void signalEndAsked();
    void setReloadBufferDataTimer();
    std::vector<std::shared_ptr<PatchItem>> getPatchItemsInPatchList() const;
    bool isPatchListLoaded() const;
    void reloadEffectListIfNeeded();
    void windowDidResize();
    void windowShouldClose();
    // A sheet may have been answered: a Quit asked while it showed is carried out now that none shows.
    void sheetsMayHaveEnded();

    void checkConnectionToServer();
    void animateSyncIcon();
    std::size_t syncIconFrame() const { return frameIndex_; }

    bool validateMenuItem(MenuAction action) const;
    // An eject was asked for and the unit has not been let go yet: it waits behind the running work.
    bool isEjectWaiting() const { return ejectWaiting_; }
    // Checks the item's condition again (a shortcut fires without the menu opening), then acts.
    void performMenuAction(MenuAction action);

    // The menu's handlers. The two options: read at set-up and shown as the items' check marks; each
    // toggle inverts its option and writes both.
    void setUpControlMenuState();
    void didClickInformUpdatingApplicationMenu();
    void didClickInformUpdatingDeviceMenu();
    void didClickVersionMenu();
    void didClickOnLicense();
    // The reference guide in the interface language; a missing one opens nothing.
    void didClickManualMenu();
    // The reference guide of the interface language, when it is installed.
    std::optional<std::string> manualPath() const;
    // The update-history page in the interface language; a URL that is no web page opens nothing.
    void didClickVersionUpdateHistory();

    bool appUpdatingComfirmation() const;
    bool deviceUpdatingComfirmation() const;
    bool isPatchPoolLoaded() const { return isPatchPoolLoaded_; }
    bool isDisplayedDeviceUpdate() const { return isDisplayedDeviceUpdate_; }
    const std::vector<std::string>& synchServerActionList() const { return synchServerActionList_; }
    const std::vector<MainDialogs::UpdatedEffect>& updatedEffectItems() const { return updatedEffectItems_; }

    // ---- CommonUtilsDelegate ----
    void allQFXDataWithState(std::int64_t state) override;
    void deviceConnectWithState(std::int32_t state) override;
    void deviceImageDidArrive() override;
    void serverConnectWithState(bool reachable) override;
    void internetNoConnect() override;
    void writeEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType,
                         std::int32_t failedState) override;
    void deleteEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t failedState) override;
    void changeEffectListSuccessfully() override;
    void writePatchListWithState(std::int32_t state) override;
    void writePatchItemWithFailedState(std::int32_t state, const std::shared_ptr<PatchItem>& oldPatchItem,
                                       std::uint32_t index) override;
    void getQFXListwithFailedState(std::int32_t state) override;
    void getPatchListWithFailedState(std::int32_t state) override;
    void ejectDeviceWithState(std::int32_t state) override;
    void deviceDisonnect() override;
    void deviceLetGo() override;
    void deviceLostConnectOrNoReply() override;
    void deviceLostDuringWrite(const std::vector<std::string>& unsure) override;
    void didFinishUpdateEffectDevice() override;
    void systemDidSleep() override;
    void applicationDidHaveUpdateWithCurentVersion(const std::string& curentVersion,
                                                   const std::string& newVersion) override;
    void deviceDidHaveUpdateWithCurentVersion(const std::string& curentVersion, const std::string& newVersion) override;
    void serverDirectoryObject(const Tree& effectPool) override;
    void patchPoolDirectoryObject(const Tree& patchPool) override;
    void patchPoolMarksUpdated() override;
    void patchPoolNotSaved(const std::string& reason) override;
    void patchPoolKeptFromLastRun() override;
    void patchPoolKeptWithout(const std::string& files) override;
    void patchPoolKeptBesideLibrary(const std::string& groups) override;
    void patchLibraryNotRead(const std::string& reason) override;
    void patchLibraryPartKeptAside(const std::string& part, const std::string& aside) override;
    void effectListFromDevice(const std::vector<std::shared_ptr<EffectItem>>& effects) override;
    void patchListFromDevice(const Items& patches, const std::vector<std::string>& offsetNameList) override;
    void didGetDeviceName(const std::string& name) override;
    void didGetDeviceMemory(float percentInUse) override;
    void readQFXListFail() override;
    void deviceEffectListRepaired(const std::optional<std::string>& droppedModule) override;
    void didDoSynchronizationActionServer(const std::string& code) override;
    void didFinishSynchronizationActionServer(const std::string& code) override;
    void didDoSynchronizationActionDevice(const std::optional<std::string>& code) override;
    void deviceWorkDidStart(DeviceWork work) override;
    void deviceWorkProgress(std::int32_t done, std::int32_t total) override;
    void poolCopiesProgress(std::size_t made, std::size_t asked) override;
    void poolFilesReading(std::size_t files) override;
    void deviceWorkDidEnd() override;
    void deviceWillBeLetGo() override;
    void sleepWillLetDeviceGo() override;
    void didFinishSynchronizationActionDevice(const std::optional<std::string>& code) override;
    void effectItem(const std::shared_ptr<EffectItem>& item, const std::string& didUpdateFromOldVersion) override;
    void copyPatchFileFrom(const std::string& from, const std::string& toDestination,
                           const std::string& isExistedAndCanChangeWithPath) override;
    void updatePatchItemFromDevice(const std::shared_ptr<PatchItem>& item, const std::string& atOffset,
                                   const UnitPatchChange& origin) override;

    // Category nodes by their first effect's category ID, effects by name ignoring case.
    static void sortEffectPool(const Tree& effectPool);
    static bool isLostDevice(std::int32_t failedState) { return failedState == -3 || failedState == -4; }

private:
    void switchScreen(int target);
    void setEffectList(const std::vector<std::shared_ptr<EffectItem>>& effects);
    void setPatchList(const Items& patches);
    void setBankListFromPatchObjects(const std::vector<std::string>& offsetNameList);
    void patchDirectoryObject();
    // The window as for a unit that is gone: no sheet, no device data, Connect possible again.
    void dropDevice();
    void lostDevice();
    // The first entry of the device effect list with the item's type, or the list's end.
    std::size_t effectIndexOfType(const EffectItem& item) const;
    void terminateAfter(const std::string& key);
    void setBackUpAllEnabled(bool enabled);
    void setSavingToDeviceEnabled(bool enabled);
    // Asks for the connected model's picture, which the header shows when it comes.
    void showDeviceImage();

    std::unique_ptr<Parts> parts_;
    // Counts the asks for the model's picture and the clearings of the display: only the last ask's
    // answer shows, and none once the unit has gone.
    std::uint64_t deviceImageAsked_ = 0;
    // Held only by this object: an answer that lands after it has gone finds it expired.
    std::shared_ptr<const bool> lifetime_ = std::make_shared<const bool>(true);
    int state_ = kStateNone;
    std::string deviceName_;
    bool isDisplayedDeviceUpdate_ = false;
    bool isPatchPoolLoaded_ = false;
    bool isFirstTimeConnect_ = false;
    bool ejectWaiting_ = false;
    // Quit was asked for: the program ends once the running work is done.
    bool quitWaiting_ = false;
    // The end's save of a changed pool is under way: the busy line says so and nothing starts.
    bool closingSave_ = false;
    // The program's end has begun (its save is being written).
    bool ending_ = false;
    void quit();
    // A Quit asked while a sheet shows is kept until the sheet is answered (`sheetsMayHaveEnded`).
    bool quitAfterSheet_ = false;
    void quitOnceAnswered();
    // Steps waiting for the pool's copies to land (a Disconnect's, a Quit's), the user's input held
    // meanwhile.
    int poolWaits_ = 0;
    // Runs `step` once the pool's reads and copies have landed, which a save needs, without holding the
    // main thread: the window paints and counts the copies, and nothing else starts meanwhile.
    void afterPoolCopies(std::function<void()> step);
    std::optional<DeviceWork> deviceWork_;
    std::optional<std::pair<std::int32_t, std::int32_t>> deviceWorkProgress_;  // patches done, of total
    // The pool's copies made, of those asked, while any remain.
    std::optional<std::pair<std::size_t, std::size_t>> poolCopies_;
    // The dropped files still being read before their copies are asked.
    std::size_t poolFilesReading_ = 0;
    // The busy line from the running work and a waiting eject.
    void showDeviceWork();
    // `endsWithCount`: the line's last part is a count, which a sentence after it ends first.
    std::string deviceWorkText(bool& endsWithCount) const;
    // The line ends saying that a Quit waits for the sheet, while one does.
    std::string withSheetQuit(std::string text, bool endsWithCount) const;
    static std::string endCount(const std::string& count);
    bool receivedAppVersion_ = false;
    std::vector<MainDialogs::UpdatedEffect> updatedEffectItems_;
    std::vector<std::string> synchServerActionList_;
    std::size_t frameIndex_ = 0;
};
