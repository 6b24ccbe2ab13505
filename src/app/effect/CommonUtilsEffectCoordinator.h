#pragma once

#include "app/effect/EffectCoordinator.h"

class CommonUtils;

// The effect screen's coordinator over the program's CommonUtils.
class CommonUtilsEffectCoordinator final : public EffectCoordinator {
public:
    explicit CommonUtilsEffectCoordinator(CommonUtils& utils) : utils_(utils) {}

    std::uint32_t getNumberOfExistedEffectsInDevice() override;
    std::int32_t getMaxEffectInDevice() override;
    void addEffectItem(const std::shared_ptr<EffectItem>& item) override;
    void recoverEffectItem(const std::shared_ptr<EffectItem>& item) override;
    void deleteEffectItem(const std::shared_ptr<EffectItem>& item) override;
    void addFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item) override;
    void removeFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item) override;

private:
    CommonUtils& utils_;
};
