#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"
#include "support/app/PatchScreenRig.h"

namespace testing_app {

using Node = std::shared_ptr<DirectoryObject>;
using Names = std::vector<std::string>;
using Rows = std::vector<std::uint64_t>;

// A pool patch whose file lies in the rig's local pool folder, and a group whose folder is its name.
inline Node localPatch(const std::string& name, bool incompatible = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    auto item = std::make_shared<PatchItem>();
    item->patchName = name;
    item->patchComment = "c" + name;
    item->path = "/root/Temp/Local/" + name + ".qptc";
    node->object = item;
    node->isIncompatible = incompatible;
    return node;
}

inline Node localGroup(const std::string& name, std::vector<Node> children, bool backupAll = false)
{
    auto group = std::make_shared<DirectoryObject>();
    group->name = group->path = name;
    group->isGroup = true;
    group->isBackUpAllGroup = backupAll;
    group->childDirectories = std::move(children);
    return group;
}

// `prefix`0, `prefix`1, ...
inline std::vector<Node> localPatches(const std::string& prefix, int count)
{
    std::vector<Node> nodes;
    for (int i = 0; i < count; ++i) nodes.push_back(localPatch(prefix + std::to_string(i)));
    return nodes;
}

inline Names namesOf(const std::vector<Node>& nodes)
{
    Names names;
    for (const Node& node : nodes) names.push_back(node ? node->name.value_or("") : "-");
    return names;
}

inline void sendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, at, target->mapToGlobal(at), button, buttons, modifiers);
    QApplication::sendEvent(target, &event);
}

// A press and a release of `button` at `at`.
inline void clickAt(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    sendMouse(target, QEvent::MouseButtonPress, at, button, button, modifiers);
    sendMouse(target, QEvent::MouseButtonRelease, at, button, Qt::NoButton, modifiers);
}

inline void sendKey(QWidget* target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {},
                    QEvent::Type type = QEvent::KeyPress)
{
    QKeyEvent event(type, code, modifiers, text);
    QApplication::sendEvent(target, &event);
}

// A few turns of the event loop, for what lands on a later turn.
inline void spin() { processEventsUntil([] { return false; }, std::chrono::milliseconds(20)); }

// The patch screen's rig with its two views at hand and the questions its tests ask of the pool, the
// undo stack and the log.
class PatchScreenCases : public PatchScreenRig {
protected:
    PatchPoolOutlineView& pool() { return *screen->rightPanelOutlineView(); }
    CustomTableViewForPatch& list() { return *screen->patchManagerTableView(); }

    // Loads `count` slots whose patches name files of `folder`, as the unit's working copies do.
    void loadWithPaths(std::size_t count, const std::string& folder = "/root/Device/Patch/")
    {
        load(count);
        for (const auto& item : screen->patchItems()) item->path = folder + item->patchName + ".qptc";
    }
    void setPool(std::vector<Node> nodes, const std::vector<int>& expandedRows = {})
    {
        screen->setStructureData(std::move(nodes));
        screen->reloadDataInPatchPool();
        for (const int row : expandedRows) pool().expandItem(pool().indexForRow(row));
        log.clear();
    }
    void selectPool(const std::vector<int>& rows) { pool().selectRows(rows); }
    void selectList(const Rows& rows) { list().setUpCurrentSelectionWithIndexSet(rows, false); }
    int poolRowOf(const Node& node) { return pool().rowForIndex(pool().poolModel()->indexOf(node.get())); }

    // The newest record, as `Record`.
    template <typename Record>
    std::shared_ptr<Record> lastRecord() const
    {
        return undo.actionStack().empty() ? nullptr : std::dynamic_pointer_cast<Record>(undo.actionStack().front());
    }
    std::size_t records() const { return undo.actionStack().size(); }
    // Whether the stack reaches `count` records once what is under way has landed.
    bool recordsReach(std::size_t count)
    {
        return processEventsUntil([&] { return records() == count; }, std::chrono::seconds(2));
    }
    Names topNames() const { return namesOf(screen->structureData()); }
    // The names of the `count` slots from `first` on.
    Names namesAt(std::size_t first, std::size_t count) const
    {
        const Names all = names();
        return Names(all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(first + count));
    }
    bool logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    long loggedTimes(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }
    // The entries of the log that hold `part`.
    Names loggedWith(const std::string& part) const
    {
        Names found;
        std::copy_if(log.begin(), log.end(), std::back_inserter(found),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
        return found;
    }
};

}  // namespace testing_app
