#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EffectItem;

// The sheets the main window controller puts in front of the user, all through the dialog queue
// except the duplicate-name prompt.
class MainDialogs {
public:
    using Action = std::function<void()>;
    struct UpdatedEffect {
        std::shared_ptr<EffectItem> effectItem;
        std::string oldVersion;
    };

    virtual ~MainDialogs() = default;

    // The localised text of `key`, used as a format with `argument` when one is given.
    virtual void showInformation(const std::string& key, const std::optional<std::string>& argument = {},
                                 Action completion = {}) = 0;
    // Drops every waiting sheet, then ends the showing one.
    virtual void clearAllDialog() = 0;
    virtual void showEffectUpdateSheet(const std::vector<UpdatedEffect>& updatedEffectItems) = 0;
    // Cancel and Return copy nothing; `unanswered` runs when the alert goes unanswered (dropped or closed
    // with the other sheets).
    virtual void showDuplicatingFileNameAlert(const std::string& fileName, Action keepBoth, Action replace,
                                              Action unanswered) = 0;
};
