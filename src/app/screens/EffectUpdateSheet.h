#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class EffectItem;
class QWidget;

// The sheet that lists the effects just updated on the device.
class EffectUpdateSheet {
public:
    struct UpdatedEffect {
        std::shared_ptr<EffectItem> effectItem;
        std::string oldVersion;
    };

    virtual ~EffectUpdateSheet() = default;

    // The sheet's content.
    virtual QWidget* view() = 0;
    virtual void setUpdatedEffectItems(std::vector<UpdatedEffect> updatedEffectItems) = 0;
    // Run by the close button.
    virtual void setDismissActionBlock(std::function<void()> dismissActionBlock) = 0;
};
