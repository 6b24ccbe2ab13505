#include "PoolTour.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>

#include "DemoPool.h"
#include "WindowShot.h"
#include "app/patch/BackupPatch.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolDataSource.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPoolOutlineViewDelegate.h"
#include "app/patch/PoolSelectionEntry.h"
#include "app/patch/PoolNameEditor.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace {

constexpr std::size_t kSavedRows = 3;

PatchPoolOutlineView* poolIn(QWidget* window)
{
    return window != nullptr ? window->findChild<PatchPoolOutlineView*>() : nullptr;
}

PatchPoolOutlineView* pool() { return poolIn(WindowShot::findWindow(QApplication::applicationName())); }

// The pool's top-level item of that name.
std::shared_ptr<DirectoryObject> topLevel(PatchPoolOutlineView* view, const std::string& name)
{
    if (view == nullptr || view->poolModel() == nullptr) return nullptr;
    PatchPoolDataSource& source = view->poolModel()->dataSource();
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i) {
        auto item = source.childOfItem(i, nullptr);
        if (item && item->name == name) return item;
    }
    return nullptr;
}

void openGroup(PatchPoolOutlineView* view, const std::string& name)
{
    const auto group = topLevel(view, name);
    if (!group) return;
    const QModelIndex index = view->poolModel()->indexOf(group.get());
    if (!view->isExpanded(index)) view->expandItem(index);
}

}  // namespace

void PoolTour::openBackupGroup(QWidget& window)
{
    PatchPoolOutlineView* view = poolIn(&window);
    openGroup(view, DemoPool::kBackupName);
    if (view != nullptr) view->scrollToTop();
}

bool PoolTour::backupGroupOpen()
{
    PatchPoolOutlineView* view = pool();
    const auto group = topLevel(view, DemoPool::kBackupName);
    return group && view->isExpanded(view->poolModel()->indexOf(group.get()));
}

void PoolTour::renamePatch(QWidget& window) { renameItem(window, kRenamedFrom, kRenamedTo); }

namespace {

void typeNameInPlace(PatchPoolOutlineView* view, const std::shared_ptr<DirectoryObject>& item, const char* to)
{
    view->setFocus();
    view->editItemAtRow(view->rowForIndex(view->poolModel()->indexOf(item.get())));
    PoolNameEditor* editor = view->nameEditor();
    if (editor == nullptr) return;
    editor->selectAll();
    // Typed a key at a time, as the user would, through the name rule.
    for (const QChar ch : QString::fromLatin1(to)) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(editor, &press);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
}

}  // namespace

void PoolTour::renameItem(QWidget& window, const char* from, const char* to)
{
    PatchPoolOutlineView* view = poolIn(&window);
    if (const auto item = topLevel(view, from)) typeNameInPlace(view, item, to);
}

void PoolTour::renameChild(QWidget& window, const std::string& group, const std::string& from, const char* to)
{
    PatchPoolOutlineView* view = poolIn(&window);
    const auto parent = topLevel(view, group);
    if (!parent) return;
    openGroup(view, group);
    for (const auto& child : parent->childDirectories)
        if (child && child->name == from) return typeNameInPlace(view, child, to);
}

bool PoolTour::showsTopLevel(const char* name) { return topLevel(pool(), name) != nullptr; }

bool PoolTour::patchRenamed() { return topLevel(pool(), kRenamedTo) != nullptr; }

void PoolTour::saveDeviceRowsIntoGroup(QWidget& window)
{
    PatchPoolOutlineView* view = poolIn(&window);
    const auto group = topLevel(view, DemoPool::kGroupName);
    if (!group || rowsSaved() || view->backUpDelegate() == nullptr) return;
    openGroup(view, DemoPool::kGroupName);
    // Dropped onto the group: the rows go to its end.
    view->backUpDelegate()->insertBackUpPatchForPatchItemAtIndexs({0, 1, 2}, group, group->childDirectories.size() - 1,
                                                                  false);
}

bool PoolTour::rowsSaved()
{
    const auto group = topLevel(pool(), DemoPool::kGroupName);
    return group && group->childDirectories.size() >= 3 + kSavedRows;
}

void PoolTour::createGroup(QWidget& window)
{
    if (groupCreated()) return;
    if (PatchPoolOutlineView* view = poolIn(&window))
        view->optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(nullptr, nullptr, nullptr);
}

bool PoolTour::groupCreated() { return topLevel(pool(), "New Patch Group 1") != nullptr; }

void PoolTour::movePatchIntoGroup(QWidget& window)
{
    PatchPoolOutlineView* view = poolIn(&window);
    const auto patch = topLevel(view, kMovedPatch);
    const auto group = topLevel(view, DemoPool::kGroupName);
    if (!patch || !group || view->backUpDelegate() == nullptr) return;
    view->backUpDelegate()->changePositionWithItems({{nullptr, patch}}, group, 1);
}

bool PoolTour::patchMoved()
{
    const auto group = topLevel(pool(), DemoPool::kGroupName);
    if (!group) return false;
    for (const auto& child : group->childDirectories)
        if (child->name == kMovedPatch) return true;
    return false;
}

void PoolTour::saveDeviceRowsInto(QWidget& window, const std::string& name, const std::vector<std::int64_t>& rows)
{
    PatchPoolOutlineView* view = poolIn(&window);
    const auto group = topLevel(view, name);
    if (!group || view->backUpDelegate() == nullptr) return;
    const std::uint64_t last = group->childDirectories.empty() ? 0 : group->childDirectories.size() - 1;
    view->backUpDelegate()->insertBackUpPatchForPatchItemAtIndexs(rows, group, last, false);
}

namespace {

PoolSelectionEntries lastChildren(const std::shared_ptr<DirectoryObject>& group, std::size_t count)
{
    PoolSelectionEntries entries;
    if (!group) return entries;
    const auto& children = group->childDirectories;
    for (std::size_t i = children.size() - std::min(count, children.size()); i < children.size(); ++i)
        entries.push_back({group, children[i]});
    return entries;
}

}  // namespace

void PoolTour::moveChildrenInto(QWidget& window, const std::string& from, std::size_t count, const std::string& to)
{
    PatchPoolOutlineView* view = poolIn(&window);
    const auto source = topLevel(view, from);
    const auto target = topLevel(view, to);
    if (!source || !target || view->backUpDelegate() == nullptr) return;
    view->backUpDelegate()->changePositionWithItems(lastChildren(source, count), target, 1);
}

void PoolTour::deleteChildren(QWidget& window, const std::string& group, std::size_t count)
{
    PatchPoolOutlineView* view = poolIn(&window);
    auto* screen = view != nullptr ? dynamic_cast<PatchPoolOutlineViewDelegate*>(view->backUpDelegate()) : nullptr;
    if (screen == nullptr) return;
    screen->didClickOnDeleteButtonWithItems(view, lastChildren(topLevel(view, group), count));
}

std::vector<PoolTour::Shown> PoolTour::shownPool()
{
    std::vector<Shown> shown;
    PatchPoolOutlineView* view = pool();
    if (view == nullptr || view->poolModel() == nullptr) return shown;
    PatchPoolDataSource& source = view->poolModel()->dataSource();
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i) {
        const auto item = source.childOfItem(i, nullptr);
        if (!item) continue;
        Shown entry{item->name.value_or(""), item->isGroup, {}};
        for (const auto& child : item->childDirectories) entry.children.push_back(child->name.value_or(""));
        shown.push_back(std::move(entry));
    }
    return shown;
}

bool PoolTour::copiesLanded(const std::string& local)
{
    PatchPoolOutlineView* view = pool();
    if (view == nullptr || view->poolModel() == nullptr) return false;
    PatchPoolDataSource& source = view->poolModel()->dataSource();
    const auto inLocal = [&](const DirectoryObject& node) {
        const PatchItem* patch = node.patchItem();
        return patch == nullptr || patch->path.rfind(local, 0) == 0;
    };
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i) {
        const auto item = source.childOfItem(i, nullptr);
        if (!item || !inLocal(*item)) return false;
        for (const auto& child : item->childDirectories)
            if (!inLocal(*child)) return false;
    }
    return true;
}

bool PoolTour::poolAtRest()
{
    PatchPoolOutlineView* view = pool();
    if (view == nullptr || view->poolModel() == nullptr) return false;
    const auto* screen = dynamic_cast<const PatchManagerViewController*>(&view->poolModel()->dataSource());
    return screen != nullptr && !screen->isPatchPoolWorking();
}
