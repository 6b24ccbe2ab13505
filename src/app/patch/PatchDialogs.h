#pragma once

#include <optional>
#include <string>

// The messages of the patch screen, shown one at a time through the dialog queue.
class PatchDialogs {
public:
    virtual ~PatchDialogs() = default;

    // The localised text of `key`, used as a format with `argument` when one is given.
    virtual void showInformation(const std::string& key, const std::optional<std::string>& argument = {}) = 0;
    // A text already localised and filled in.
    virtual void showText(const std::string& text) = 0;
};
