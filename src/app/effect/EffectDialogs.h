#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class EffectItem;

// The sheets of the effect screen, all through the dialog queue.
class EffectDialogs {
public:
    using Action = std::function<void()>;

    // A confirmation's description: the localised `key` used as a format with a count, or none.
    struct Description {
        std::string key;
        std::int64_t count = 0;
    };

    virtual ~EffectDialogs() = default;

    // An information sheet with the localised text of `key`.
    virtual void showInformation(const std::string& key) = 0;
    // A confirmation: the localised `titleKey` used as a format with `argument`, an optional
    // description, the localised button titles, and which button answers Return.
    virtual void showConfirmation(const std::string& titleKey, const std::optional<std::string>& argument,
                                  const std::optional<Description>& description, const std::string& firstButtonKey,
                                  const std::string& secondButtonKey, Action first, Action second,
                                  bool isDefaultFirstButton) = 0;
    // The property sheet of one effect, queued like every other sheet; its use count shows as "-" when
    // it is not known.
    virtual void showEffectProperty(const std::shared_ptr<EffectItem>& item, bool isUsedTimesKnown) = 0;
};
