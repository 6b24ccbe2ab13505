#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "app/screens/EffectUpdateSheet.h"

namespace testing_app {

// The effect update sheet: keeps its rows and its dismiss block, which a test runs as the close button.
class FakeEffectUpdateSheet final : public EffectUpdateSheet {
public:
    std::vector<UpdatedEffect> updatedEffectItems;
    std::function<void()> dismissActionBlock;
    QWidget* view() override { return &view_; }
    void setUpdatedEffectItems(std::vector<UpdatedEffect> items) override { updatedEffectItems = std::move(items); }
    void setDismissActionBlock(std::function<void()> block) override { dismissActionBlock = std::move(block); }

private:
    QWidget view_;
};

}  // namespace testing_app
