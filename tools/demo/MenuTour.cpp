#include "MenuTour.h"

#include <QApplication>
#include <QMouseEvent>

#include "DemoPool.h"
#include "PoolTour.h"
#include "WindowShot.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickButton.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/PatchGroupPropertyViewController.h"
#include "app/patch/PatchPoolDataSource.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPropertyViewController.h"
#include "library/models/DirectoryObject.h"

namespace {

QWidget* mainWindow() { return WindowShot::findWindow(QApplication::applicationName()); }

PatchPoolOutlineView* pool()
{
    QWidget* window = mainWindow();
    return window != nullptr ? window->findChild<PatchPoolOutlineView*>() : nullptr;
}

CustomTableViewForPatch* patchList()
{
    QWidget* window = mainWindow();
    return window != nullptr ? window->findChild<CustomTableViewForPatch*>() : nullptr;
}

// The pool's row showing the top-level item of that name, -1 when none.
int poolRow(const std::string& name)
{
    PatchPoolOutlineView* view = pool();
    if (view == nullptr || view->poolModel() == nullptr) return -1;
    PatchPoolDataSource& source = view->poolModel()->dataSource();
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i) {
        auto item = source.childOfItem(i, nullptr);
        if (item && item->name == name) return view->rowForIndex(view->poolModel()->indexOf(item.get()));
    }
    return -1;
}

// A right click, as the mouse makes it: the press, then the release.
void rightClick(QWidget* target, const QPoint& at)
{
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), Qt::RightButton,
                          type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
}

void rightClickPoolRow(int row)
{
    PatchPoolOutlineView* view = pool();
    if (view == nullptr || row < 0) return;
    view->setFocus();
    rightClick(view->viewport(), view->visualRect(view->indexForRow(row)).center());
}

// The pool menu of the top-level item of that name, its row selected first as a right click does.
void openPoolMenuOf(const std::string& name)
{
    PatchPoolOutlineView* view = pool();
    if (view == nullptr || (view->optionMenu() != nullptr && view->menuPopover()->isVisible())) return;
    // The press outside closes the list's menu, as a real one would.
    if (CustomTableViewForPatch* table = patchList()) table->closeRightClickMenu();
    const int row = poolRow(name);
    if (row < 0) return;
    view->selectRows({row});
    rightClickPoolRow(row);
}

void rightClickListRow(int row)
{
    CustomTableViewForPatch* table = patchList();
    if (table == nullptr) return;
    table->setFocus();
    const QModelIndex index = table->model()->index(row, 1);
    table->scrollTo(index);
    rightClick(table->viewport(), table->visualRect(index).center());
}

template <typename Sheet>
bool sheetShown()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible()) continue;
        if (auto* sheet = widget->findChild<Sheet*>(); sheet != nullptr && sheet->isVisible()) return true;
    }
    return false;
}

// A message still up from an earlier step is read and closed first, as the menus wait for it.
bool closeShownMessage()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* message = top->isVisible() ? top->findChild<UpdateInformationView*>() : nullptr;
        if (message != nullptr && message->isVisible()) {
            message->okButton()->click();
            return true;
        }
    }
    return false;
}

}  // namespace

void MenuTour::openListMenu(QWidget&)
{
    if (closeShownMessage()) return;
    if (!listMenuShown()) rightClickListRow(MenuTour::kListRow);
}

bool MenuTour::listMenuShown()
{
    CustomTableViewForPatch* table = patchList();
    return table != nullptr && table->optionMenu() != nullptr && table->menuPopover()->isVisible();
}

void MenuTour::openPoolMenu(QWidget&) { openPoolMenuOf(PoolTour::kRenamedTo); }

void MenuTour::openPoolMenuOfItem(QWidget&, const char* name) { openPoolMenuOf(name); }

bool MenuTour::poolMenuShown()
{
    PatchPoolOutlineView* view = pool();
    return view != nullptr && view->optionMenu() != nullptr && view->menuPopover()->isVisible();
}

void MenuTour::deleteFromPoolMenu(QWidget& window)
{
    if (patchDeleted()) return;
    deleteFromPoolMenuOf(window, PoolTour::kRenamedTo);
}

void MenuTour::deleteFromPoolMenuOf(QWidget&, const char* name)
{
    if (!poolMenuShown()) openPoolMenuOf(name);
    if (OptionMenuForPatchPool* menu = pool() != nullptr ? pool()->optionMenu() : nullptr) menu->deleteButton()->click();
}

bool MenuTour::patchDeleted() { return pool() != nullptr && poolRow(PoolTour::kRenamedTo) < 0; }

void MenuTour::openPatchSheet(QWidget&)
{
    if (patchSheetShown()) return;
    rightClickListRow(MenuTour::kListRow);
    if (CustomTableViewForPatch* table = patchList(); table != nullptr && table->optionMenu() != nullptr)
        table->optionMenu()->propertyButton()->click();
}

bool MenuTour::patchSheetShown() { return sheetShown<PatchPropertyViewController>(); }

void MenuTour::openBackupGroupSheet(QWidget&)
{
    if (backupGroupSheetShown()) return;
    // The patch's sheet is cancelled first, as a second sheet waits for the first.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* sheet = widget->findChild<PatchPropertyViewController*>(); sheet != nullptr && sheet->isVisible())
            sheet->cancelButton()->click();
    rightClickPoolRow(poolRow(DemoPool::kBackupName));
    if (OptionMenuForPatchPool* menu = pool() != nullptr ? pool()->optionMenu() : nullptr) menu->propertyButton()->click();
}

bool MenuTour::backupGroupSheetShown() { return sheetShown<PatchGroupPropertyViewController>(); }
