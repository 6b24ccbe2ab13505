#include "app/controls/EditingKeyMonitor.h"

#include <QApplication>
#include <QKeyEvent>

#include "app/controls/ChangingColorWhenEditingTextField.h"

namespace {

QPointer<EditingKeyMonitor>& installedMonitor()
{
    static QPointer<EditingKeyMonitor> monitor;
    return monitor;
}

}  // namespace

EditingKeyMonitor::EditingKeyMonitor(ChangingColorWhenEditingTextField* field)
    : QObject(field), field_(field), fieldObject_(field)
{
}

ChangingColorWhenEditingTextField* EditingKeyMonitor::field() const { return fieldObject_ ? field_ : nullptr; }

EditingKeyMonitor* EditingKeyMonitor::installed() { return installedMonitor(); }

EditingKeyMonitor* EditingKeyMonitor::installFor(ChangingColorWhenEditingTextField* field)
{
    if (installedMonitor() || field == nullptr) return nullptr;
    auto* monitor = new EditingKeyMonitor(field);
    qApp->installEventFilter(monitor);
    installedMonitor() = monitor;
    return monitor;
}

void EditingKeyMonitor::removeFor(const ChangingColorWhenEditingTextField* field)
{
    EditingKeyMonitor* monitor = installedMonitor();
    if (!monitor || monitor->field_ != field) return;
    installedMonitor() = nullptr;
    qApp->removeEventFilter(monitor);
    monitor->deleteLater();
}

bool EditingKeyMonitor::eventFilter(QObject* watched, QEvent* event)
{
    // Compared as objects only: the field may be part way through going away.
    if (!fieldObject_ || watched != fieldObject_.data()) return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // The field's own keys are keys, not the window's shortcuts.
        if (ChangingColorWhenEditingTextField::isOwnShortcut(*static_cast<QKeyEvent*>(event))) event->accept();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    return field_->keyDownEvent(static_cast<QKeyEvent*>(event));
}
