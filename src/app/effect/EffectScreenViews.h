#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

class DirectoryObject;
struct EffectPoolPanel;

// What the effect screen's decisions ask of its widgets: the list table, its header, the pool outline,
// the information panel and the rulers.
class EffectScreenViews {
public:
    virtual ~EffectScreenViews() = default;

    // The list table reloads; its ruler follows.
    virtual void reloadEffectTable() = 0;
    // One row again in all its columns.
    virtual void reloadEffectRow(std::size_t row) = 0;
    virtual std::vector<std::size_t> selectedEffectRows() const = 0;
    // Replaces the selection.
    virtual void selectEffectRows(const std::vector<std::size_t>& rows) = 0;
    virtual void scrollEffectRowToVisible(std::size_t row) = 0;
    virtual void scrollEffectListToTop() = 0;
    // The list gives up the keyboard focus to the screen.
    virtual void resignEffectListFocus() = 0;
    // The header cells' arrows by column identifier: 0 none, 1 ascending, 2 descending.
    virtual void setSortStates(const std::map<std::string, int>& sortStates) = 0;

    // The pool outline reloads; its ruler follows.
    virtual void reloadEffectPool() = 0;
    // Opens every top node without scrolling.
    virtual void forceExpandTopNodes() = 0;
    virtual std::vector<std::shared_ptr<DirectoryObject>> selectedPoolNodes() const = 0;
    virtual void showPanel(const EffectPoolPanel& panel) = 0;

    virtual void validateRuler() = 0;
    // The main window's effect tab repaints.
    virtual void redrawEffectManagerButton() = 0;
};
