#include "app/effect/CommonUtilsEffectCoordinator.h"

#include "library/CommonUtils.h"

std::uint32_t CommonUtilsEffectCoordinator::getNumberOfExistedEffectsInDevice()
{
    return utils_.getNumberOfExistedEffectsInDevice();
}

std::int32_t CommonUtilsEffectCoordinator::getMaxEffectInDevice() { return utils_.getMaxEffectInDevice(); }

void CommonUtilsEffectCoordinator::addEffectItem(const std::shared_ptr<EffectItem>& item) { utils_.addEffectItem(item); }

void CommonUtilsEffectCoordinator::recoverEffectItem(const std::shared_ptr<EffectItem>& item)
{
    utils_.recoverEffectItem(item);
}

void CommonUtilsEffectCoordinator::deleteEffectItem(const std::shared_ptr<EffectItem>& item)
{
    utils_.deleteEffectItem(item);
}

void CommonUtilsEffectCoordinator::addFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item)
{
    utils_.addFavouriteOfEffectItem(item);
}

void CommonUtilsEffectCoordinator::removeFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item)
{
    utils_.removeFavouriteOfEffectItem(item);
}
