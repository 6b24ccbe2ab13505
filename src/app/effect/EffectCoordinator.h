#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class EffectItem;
class PatchItem;

// What the effect screen asks of the library coordinator: the device's capacity and the queued edits of
// its effect list. Each edit is queued only while a device is connected; a failure comes back through
// the main window controller.
class EffectCoordinator {
public:
    virtual ~EffectCoordinator() = default;

    // The records of the device's effect list as the coordinator read them, loaded or not.
    virtual std::uint32_t getNumberOfExistedEffectsInDevice() = 0;
    // How many effects the device's effect memory holds.
    virtual std::int32_t getMaxEffectInDevice() = 0;

    virtual void addEffectItem(const std::shared_ptr<EffectItem>& item) = 0;
    virtual void recoverEffectItem(const std::shared_ptr<EffectItem>& item) = 0;
    virtual void deleteEffectItem(const std::shared_ptr<EffectItem>& item) = 0;
    virtual void addFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item) = 0;
    virtual void removeFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item) = 0;
};
