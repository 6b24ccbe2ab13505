#pragma once

#include "app/effect/EffectDialogs.h"

class ShowingDialogQueue;

// The effect screen's sheets on the program's dialog queue, their texts from the strings tables.
class QueueEffectDialogs final : public EffectDialogs {
public:
    explicit QueueEffectDialogs(ShowingDialogQueue& queue) : queue_(queue) {}

    void showInformation(const std::string& key) override;
    void showConfirmation(const std::string& titleKey, const std::optional<std::string>& argument,
                          const std::optional<Description>& description, const std::string& firstButtonKey,
                          const std::string& secondButtonKey, Action first, Action second,
                          bool isDefaultFirstButton) override;
    void showEffectProperty(const std::shared_ptr<EffectItem>& item, bool isUsedTimesKnown) override;

private:
    ShowingDialogQueue& queue_;
};
