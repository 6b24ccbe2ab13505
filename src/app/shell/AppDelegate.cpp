#include "app/shell/AppDelegate.h"

#include <QAction>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QShortcut>

#include <algorithm>

#include "app/shell/DialogWindow.h"
#include "app/shell/MainWindowController.h"

namespace {

void showNotEditingColour(QWidget* control)
{
    if (control == nullptr) return;
    QPalette palette = control->palette();
    palette.setColor(QPalette::Text, Qt::white);
    control->setPalette(palette);
    control->repaint();
}

}  // namespace

AppDelegate::~AppDelegate()
{
    if (dialogWindow_ && dialogWindow_->parent() == nullptr) delete dialogWindow_;
}

AppDelegate& AppDelegate::getInstance()
{
    static AppDelegate* instance = new AppDelegate;  // lives until the process ends, like its windows
    return *instance;
}

DialogWindow* AppDelegate::getDialogWindow()
{
    // The previous sheet has ended by now; one still up (opened past the queue) stays with its parent.
    if (dialogWindow_ && !dialogWindow_->isVisible()) dialogWindow_->deleteLater();
    dialogWindow_ = new DialogWindow(mainWindow_);
    return dialogWindow_;
}

void AppDelegate::setEditingTextView(bool editing, QWidget* textView)
{
    isEditingTextView_ = editing;
    previousEditingTextView_ = editingTextView_;
    editingTextView_ = textView;
}

void AppDelegate::setEditingTextField(QWidget* textField)
{
    previousEditingTextField_ = editingTextField_;
    editingTextField_ = textField;
}

void AppDelegate::clearColorEditingTextView()
{
    if (!isDeviceConnected_) return;
    showNotEditingColour(editingTextView_);
    showNotEditingColour(previousEditingTextView_);
}

void AppDelegate::clearColorEditingTextField()
{
    if (!isDeviceConnected_) return;
    showNotEditingColour(editingTextField_);
    showNotEditingColour(previousEditingTextField_);
}

void AppDelegate::disableMenuShortkey()
{
    if (menuShortkeyDisabled_) return;
    menuShortkeyDisabled_ = true;
    if (!mainWindow_) return;
    for (QAction* action : mainWindow_->findChildren<QAction*>()) {
        if (action->shortcuts().isEmpty()) continue;
        disabledActions_.emplace_back(action, action->shortcuts());
        action->setShortcuts(QList<QKeySequence>());
    }
    for (QShortcut* shortcut : mainWindow_->findChildren<QShortcut*>()) {
        if (!shortcut->isEnabled()) continue;
        disabledShortcuts_.emplace_back(shortcut);
        shortcut->setEnabled(false);
    }
}

void AppDelegate::enableMenuShortkey()
{
    menuShortkeyDisabled_ = false;
    for (auto& [action, shortcuts] : disabledActions_) {
        if (action) action->setShortcuts(shortcuts);
    }
    for (QPointer<QShortcut>& shortcut : disabledShortcuts_) {
        if (shortcut) shortcut->setEnabled(true);
    }
    disabledActions_.clear();
    disabledShortcuts_.clear();
}

void AppDelegate::clearData()
{
    isEditingTextView_ = false;
    isDeviceConnected_ = false;
    editingTextField_ = nullptr;
    editingTextView_ = nullptr;
    previousEditingTextField_ = nullptr;
    previousEditingTextView_ = nullptr;
    isRestoringAll_ = false;
}

int AppDelegate::getWindowState() const { return mainController_ ? mainController_->state() : 0; }

void AppDelegate::setReloadDataFromDeviceTimer()
{
    if (mainController_) mainController_->setReloadBufferDataTimer();
}

bool AppDelegate::isRetinaSystem()
{
    static const qreal largestScale = [] {
        qreal largest = 1.0;
        for (const QScreen* screen : QGuiApplication::screens()) largest = std::max(largest, screen->devicePixelRatio());
        return largest;
    }();
    return largestScale > 1.0;
}
