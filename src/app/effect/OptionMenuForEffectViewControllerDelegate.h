#pragma once

#include <cstddef>
#include <functional>
#include <memory>

class EffectItem;

// What the effect option menu tells its owner, the effect list table: each answer with the row and the
// effect the menu was opened for. Answers given in a question may come after the menu has closed.
class OptionMenuForEffectViewControllerDelegate {
public:
    virtual ~OptionMenuForEffectViewControllerDelegate() = default;

    virtual void optionMenuDidClickOnFavoriteButton(bool isFavourite, std::size_t index,
                                                    const std::shared_ptr<EffectItem>& item) = 0;
    virtual void optionMenuDidClickOnDeletingButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item) = 0;
    virtual void optionMenuDidClickOnRecoveryButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item) = 0;
    virtual void optionMenuDidClickOnPropertyButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item) = 0;
    virtual void optionMenuDidCancelDeletingAtIndex(std::size_t index) = 0;
    virtual void optionMenuDidCancelChangingFavouriteAtIndex(std::size_t index) = 0;
    // Runs `ask` once the effects' use counts are true; an owner that always knows them runs it at once.
    virtual void optionMenuWhenUsedTimesAreCounted(std::function<void()> ask) { ask(); }
};
