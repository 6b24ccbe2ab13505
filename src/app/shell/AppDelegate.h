#pragma once

#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "app/shell/DialogWindow.h"

class MainWindowController;
class QAction;
class QShortcut;

// The process-wide interface state that every screen, view and sheet reads or sets: the flags (device
// connected, restoring all, patch pool changed, a dialog showing, a text view being edited), the text
// controls being edited, the main window, the newest sheet's window and the main window controller.
// The program uses getInstance(); tests build their own. Main thread only, except that the
// termination routine reads and clears the connected flag while the main thread waits for it.
class AppDelegate {
public:
    AppDelegate() = default;
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    static AppDelegate& getInstance();

    void setMainWindow(QWidget* window) { mainWindow_ = window; }
    QWidget* getMainWindow() const { return mainWindow_; }
    // A fresh, empty sheet window over the main window, kept as the newest one; every call makes one.
    DialogWindow* getDialogWindow();
    // The newest sheet window, without making one (none before the first sheet).
    DialogWindow* getPreviousDialogWindow() const { return dialogWindow_; }

    void setMainController(MainWindowController* controller) { mainController_ = controller; }
    MainWindowController* mainController() const { return mainController_; }

    bool isShowingDialog() const { return isShowingDialog_; }
    void setIsShowingDialog(bool showing) { isShowingDialog_ = showing; }
    bool isDeviceConnected() const { return isDeviceConnected_; }
    void setDeviceConnected(bool connected) { isDeviceConnected_ = connected; }
    bool isRestoringAll() const { return isRestoringAll_; }
    void setIsRestoringAll(bool restoring) { isRestoringAll_ = restoring; }
    // The unit is being let go (a Disconnect, a Quit or a signal waits for it): a gesture that would change
    // the unit is refused, since nothing more reaches it.
    bool isLettingDeviceGo() const { return isLettingDeviceGo_; }
    void setLettingDeviceGo(bool lettingGo) { isLettingDeviceGo_ = lettingGo; }
    // An undo may write to the unit, so it waits for a Restore All and is refused while the unit goes.
    bool isUndoHeld() const { return isRestoringAll_ || isLettingDeviceGo_; }
    bool isPatchPoolChanged() const { return isPatchPoolChanged_; }
    void setIsPatchPoolChanged(bool changed)
    {
        if (changed) ++patchPoolChanges_;
        isPatchPoolChanged_ = changed;
        if (changed && patchPoolChangeHeard_) patchPoolChangeHeard_();
    }
    // Told of every change marked from here on (a gesture's), on the main thread; empty to stop.
    void setPatchPoolChangeHeard(std::function<void()> heard) { patchPoolChangeHeard_ = std::move(heard); }
    // How many times the pool was marked changed: a save written meanwhile does not hold the later changes.
    std::uint64_t patchPoolChanges() const { return patchPoolChanges_; }

    // The text view edited now becomes the previous one.
    void setEditingTextView(bool editing, QWidget* textView);
    bool isEdittingTextView() const { return isEditingTextView_; }
    QWidget* editingTextView() const { return editingTextView_; }
    QWidget* previousEditingTextView() const { return previousEditingTextView_; }
    // The text field edited now becomes the previous one.
    void setEditingTextField(QWidget* textField);
    QWidget* getEdittingTextField() const { return editingTextField_; }
    QWidget* previousEditingTextField() const { return previousEditingTextField_; }

    // While a device is connected, the edited and the previously edited control show their text in
    // white, the colour of a control that is not being edited, at once.
    void clearColorEditingTextView();
    void clearColorEditingTextField();

    // The main window's keyboard shortcuts (its menus' and its own) are off while a text control is
    // edited, so that the keys typed reach the control; enabling gives back exactly what was disabled.
    // Disabling twice before enabling keeps the first record.
    void disableMenuShortkey();
    void enableMenuShortkey();
    bool isMenuShortkeyDisabled() const { return menuShortkeyDisabled_; }

    // Forgets the device and the edited controls. A showing dialog and an unsaved pool keep their flags.
    void clearData();

    // The main window controller's screen, 0 while there is no controller.
    int getWindowState() const;
    void setReloadDataFromDeviceTimer();

    // Whether any screen had more than one device pixel per point when first asked.
    static bool isRetinaSystem();

private:
    QPointer<QWidget> mainWindow_;
    QPointer<DialogWindow> dialogWindow_;
    MainWindowController* mainController_ = nullptr;
    bool isShowingDialog_ = false;
    bool isDeviceConnected_ = false;
    bool isEditingTextView_ = false;
    bool isRestoringAll_ = false;
    bool isLettingDeviceGo_ = false;
    bool isPatchPoolChanged_ = false;
    std::uint64_t patchPoolChanges_ = 0;
    std::function<void()> patchPoolChangeHeard_;
    QPointer<QWidget> editingTextView_;
    QPointer<QWidget> previousEditingTextView_;
    QPointer<QWidget> editingTextField_;
    QPointer<QWidget> previousEditingTextField_;
    bool menuShortkeyDisabled_ = false;
    std::vector<std::pair<QPointer<QAction>, QList<QKeySequence>>> disabledActions_;
    std::vector<QPointer<QShortcut>> disabledShortcuts_;
};
