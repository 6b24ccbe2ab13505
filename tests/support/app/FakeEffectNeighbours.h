#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/effect/EffectCoordinator.h"
#include "app/effect/EffectDialogs.h"
#include "library/models/EffectItem.h"
#include "support/app/FakeShellNeighbours.h"

namespace testing_app {

// The coordinator as the effect screen sees it: a capacity set by the test, every edit in the log as
// "<edit> <effect name>".
class FakeEffectCoordinator final : public EffectCoordinator {
public:
    explicit FakeEffectCoordinator(CallLog& log) : log_(log) {}
    std::uint32_t existing = 0;
    std::int32_t maximum = 100;
    std::uint32_t getNumberOfExistedEffectsInDevice() override { return existing; }
    std::int32_t getMaxEffectInDevice() override { return maximum; }
    void addEffectItem(const std::shared_ptr<EffectItem>& item) override { record("add", item); }
    void recoverEffectItem(const std::shared_ptr<EffectItem>& item) override { record("recover", item); }
    void deleteEffectItem(const std::shared_ptr<EffectItem>& item) override { record("delete", item); }
    void addFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item) override { record("favourite on", item); }
    void removeFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item) override { record("favourite off", item); }

private:
    void record(const std::string& edit, const std::shared_ptr<EffectItem>& item)
    {
        log_.push_back(edit + " " + (item ? item->effectName : std::string("(none)")));
    }
    CallLog& log_;
};

// The effect screen's sheets by key; a confirmation's two answers are kept for the test to give.
class FakeEffectDialogs final : public EffectDialogs {
public:
    explicit FakeEffectDialogs(CallLog& log) : log_(log) {}
    Action first, second;
    void showInformation(const std::string& key) override { log_.push_back("information " + key); }
    void showConfirmation(const std::string& titleKey, const std::optional<std::string>& argument,
                          const std::optional<Description>& description, const std::string&, const std::string&,
                          Action firstAction, Action secondAction, bool isDefaultFirstButton) override
    {
        log_.push_back("confirm " + titleKey + (argument ? " " + *argument : std::string()) +
                       (description ? " [" + description->key + " " + std::to_string(description->count) + "]"
                                    : std::string()) +
                       (isDefaultFirstButton ? " (first default)" : " (second default)"));
        first = std::move(firstAction);
        second = std::move(secondAction);
    }
    void showEffectProperty(const std::shared_ptr<EffectItem>& item, bool isUsedTimesKnown) override
    {
        log_.push_back("property " + (item ? item->effectName : std::string("(none)")) +
                       (isUsedTimesKnown ? "" : " (uses unknown)"));
    }

private:
    CallLog& log_;
};

}  // namespace testing_app
