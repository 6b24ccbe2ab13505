#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class PatchItem;
class QWidget;

// What the application shell asks of the main window controller (QFXMainController), which owns the
// screens and the coordinator's results.
class MainWindowController {
public:
    virtual ~MainWindowController() = default;

    // The content of the main window; the window takes it over.
    virtual QWidget* view() = 0;
    // The processing overlay's area, hidden until the program ends.
    virtual QWidget* viewForIndicator() = 0;
    // The screen shown: 2 none chosen yet, 1 the patch screen, 0 the effect screen.
    virtual int state() const = 0;
    // Re-arms the patch screen's buffered reload of device-side changes.
    virtual void setReloadBufferDataTimer() = 0;
    // Hands the patch pool to the coordinator's save and returns when it is saved; why it could not be,
    // when it failed. Called at termination on the main thread, whose loop turns while the pool is
    // written (the user's input held).
    virtual std::optional<std::string> saveDataBeforeClosing() = 0;
    // The same save asked while the program goes on (a sleep, a power-off): written with the window free.
    virtual void saveDataLater() { saveDataBeforeClosing(); }
    // Ends the text being typed with its commit, whatever window has the keys; on the main thread.
    virtual void endTextEditing() {}
    // The end's save is about to begin: the busy line says the pool is being saved and that the program
    // ends when that is done, and nothing can be started meanwhile. Main thread, before the save.
    virtual void showClosingSave() {}
    // The end's save is over (it failed, and the message saying so follows): nothing is being saved now.
    virtual void closingSaveEnded() {}
    // A quit was asked: noted at once, so that a run cut from here on keeps the session. Main thread.
    virtual void noteQuitAsked() {}
    // The unit is about to be let go at the end: gestures that would change it are refused from here on,
    // and the busy line says so. Main thread.
    virtual void refuseUnitEdits() {}

    // What the screens ask of it.
    // The patch screen's device list (the effect screen counts effect uses in it).
    virtual std::vector<std::shared_ptr<PatchItem>> getPatchItemsInPatchList() const { return {}; }
    // Whether that list has been read from the device; no list is read without a patch screen.
    virtual bool isPatchListLoaded() const { return false; }
    // The effect screen's list again when it is the one shown.
    virtual void reloadEffectListIfNeeded() {}
    virtual void ejectDevice() {}
    // The connected device's name; empty when none.
    virtual std::string deviceName() const { return {}; }
    // The tab that shows the effect screen, which repaints it when it reloads; none without a window.
    virtual QWidget* effectManagerButton() const { return nullptr; }
};
