#pragma once

#include <cstddef>
#include <functional>
#include <memory>

class CustomTableViewForEffect;
class EffectItem;

// What the effect list table tells the screen of its clicks and its option menu. The menu's answers
// carry the effect the menu was opened for, as the list may have changed under it meanwhile.
class TableViewForEffectRightClickDelegate {
public:
    virtual ~TableViewForEffectRightClickDelegate() = default;

    virtual void tableViewDidClickOnFavoriteButton(CustomTableViewForEffect& tableView, bool isFavourite,
                                                   std::size_t index, const std::shared_ptr<EffectItem>& item) = 0;
    virtual void tableViewDidClickOnDeletingButtonAtIndex(CustomTableViewForEffect& tableView, std::size_t index,
                                                          const std::shared_ptr<EffectItem>& item) = 0;
    virtual void tableViewDidClickOnRecoveryButtonAtIndex(CustomTableViewForEffect& tableView, std::size_t index,
                                                          const std::shared_ptr<EffectItem>& item) = 0;
    virtual void tableViewDidClickOnPropertyButtonAtIndex(CustomTableViewForEffect& tableView, std::size_t index,
                                                          const std::shared_ptr<EffectItem>& item) = 0;
    // Runs `ask` once the effects' use counts are true; a screen that always knows them runs it at once.
    virtual void tableViewWhenUsedTimesAreCounted(CustomTableViewForEffect& /*tableView*/, std::function<void()> ask)
    {
        ask();
    }
    // The effect of a row, nothing for an empty one.
    virtual std::shared_ptr<EffectItem> tableViewItemForRightClickAtIndex(CustomTableViewForEffect& tableView,
                                                                         std::size_t index) = 0;
};
