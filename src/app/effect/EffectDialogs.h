#pragma once

#include <functional>
#include <optional>
#include <string>

// The sheets of the effect screen, all through the dialog queue.
class EffectDialogs {
public:
    using Action = std::function<void()>;

    virtual ~EffectDialogs() = default;

    // An information sheet with the localised text of `key`.
    virtual void showInformation(const std::string& key) = 0;
    // A confirmation: the localised `titleKey` used as a format with `argument`, the localised button
    // titles, and which button answers Return.
    virtual void showConfirmation(const std::string& titleKey, const std::optional<std::string>& argument,
                                  const std::string& firstButtonKey, const std::string& secondButtonKey,
                                  Action first, Action second, bool isDefaultFirstButton) = 0;
};
