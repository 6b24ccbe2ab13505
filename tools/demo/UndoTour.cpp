#include "UndoTour.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>

#include <string>

#include "DemoPool.h"
#include "WindowGestures.h"
#include "WindowShot.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/UndoMenu.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolDataSource.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"

namespace {

// The second slot's name once the seeded backup is restored (the unit's own first slots share the
// backup's first name).
const QString kRestoredSecondSlot = QStringLiteral("Crunch 1");

QWidget* window() { return WindowShot::findWindow(QApplication::applicationName()); }

CustomTableViewForPatch* listIn(QWidget* w) { return w != nullptr ? w->findChild<CustomTableViewForPatch*>() : nullptr; }

PatchPoolOutlineView* poolIn(QWidget* w) { return w != nullptr ? w->findChild<PatchPoolOutlineView*>() : nullptr; }

QPushButton* backupButtonIn(QWidget* w)
{
    return w != nullptr ? w->findChild<QPushButton*>(QStringLiteral("BackUpAllOrRestoreAllButton")) : nullptr;
}

void mouse(QWidget& target, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF point(at);
    const QPointF global = target.mapToGlobal(point);
    QMouseEvent press(QEvent::MouseButtonPress, point, global, button, button, modifiers);
    QApplication::sendEvent(&target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, point, global, button, Qt::NoButton, modifiers);
    QApplication::sendEvent(&target, &release);
}

void clickRow(CustomTableViewForPatch& list, int row, Qt::KeyboardModifiers modifiers)
{
    mouse(*list.viewport(), list.visualRect(list.model()->index(row, 1)).center(), Qt::LeftButton, modifiers);
}

// The pool's backup-all groups at the top level.
int backupGroups(PatchPoolOutlineView* pool)
{
    if (pool == nullptr || pool->poolModel() == nullptr) return 0;
    PatchPoolDataSource& source = pool->poolModel()->dataSource();
    int count = 0;
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i) {
        const auto item = source.childOfItem(i, nullptr);
        if (item && item->isBackUpAllGroup) ++count;
    }
    return count;
}

UpdateInformationView* shownSheet()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        if (auto* sheet = top->findChild<UpdateInformationView*>(); sheet && sheet->isVisible()) return sheet;
    }
    return nullptr;
}

UndoMenu* shownUndoMenu()
{
    AutoClosePopover* popover = RightClickImageView::getMenuPopover();
    return popover->isShown() ? qobject_cast<UndoMenu*>(popover->contentWidget()) : nullptr;
}

QString secondSlotName()
{
    CustomTableViewForPatch* list = listIn(window());
    return list != nullptr ? list->model()->index(1, 1).data().toString() : QString();
}

}  // namespace

void UndoTour::selectShiftRange(QWidget& w)
{
    CustomTableViewForPatch* list = listIn(&w);
    if (list == nullptr || shiftRangeSelected()) return;
    list->scrollToTop();
    clickRow(*list, 1, Qt::NoModifier);
    clickRow(*list, 4, Qt::ShiftModifier);
}

bool UndoTour::shiftRangeSelected()
{
    CustomTableViewForPatch* list = listIn(window());
    return list != nullptr && list->selectedRows() == std::vector<std::uint64_t>{1, 2, 3, 4};
}

void UndoTour::backUpAll(QWidget& w)
{
    if (backedUp()) return;
    if (QPushButton* button = backupButtonIn(&w); button && button->isEnabled()) button->click();
}

bool UndoTour::backedUp() { return backupGroups(poolIn(window())) >= 2; }

void UndoTour::restoreSeededBackup(QWidget& w)
{
    PatchPoolOutlineView* pool = poolIn(&w);
    if (pool == nullptr || secondSlotName() == kRestoredSecondSlot) return;
    PatchPoolDataSource& source = pool->poolModel()->dataSource();
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i) {
        const auto item = source.childOfItem(i, nullptr);
        if (!item || item->name != DemoPool::kBackupName) continue;
        // Selecting a backup turns the button into Restore All.
        pool->selectRows({pool->rowForIndex(pool->poolModel()->indexOf(item.get()))});
        if (QPushButton* button = backupButtonIn(&w); button && button->isEnabled()) button->click();
        return;
    }
}

bool UndoTour::restoreResultShown() { return shownSheet() != nullptr && secondSlotName() == kRestoredSecondSlot; }

void UndoTour::openUndoPopover(QWidget& w)
{
    if (undoPopoverShown()) return;
    // The result sheet goes first: no popover opens under a dialog.
    if (UpdateInformationView* sheet = shownSheet()) {
        sheet->okButton()->click();
        return;
    }
    if (auto* bar = w.findChild<RightClickImageView*>(QStringLiteral("PatchButtonBar")))
        WindowGestures::click(*bar, QPoint(bar->width() / 4, bar->height() / 2), Qt::RightButton);
}

bool UndoTour::undoPopoverShown()
{
    const UndoMenu* menu = shownUndoMenu();
    return menu != nullptr && menu->undoButton()->isEnabled();
}

void UndoTour::undoFromPopover(QWidget&)
{
    // Pressed as the pointer presses it, which may move the keys.
    if (UndoMenu* menu = shownUndoMenu()) WindowGestures::click(*menu->undoButton());
}

bool UndoTour::listUndone()
{
    return shownUndoMenu() == nullptr && !secondSlotName().isEmpty() && secondSlotName() != kRestoredSecondSlot;
}
