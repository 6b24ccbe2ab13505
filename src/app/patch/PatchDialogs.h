#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

// The messages of the patch screen, shown one at a time through the dialog queue.
class PatchDialogs {
public:
    virtual ~PatchDialogs() = default;

    // The localised text of `key`, used as a format with `argument` when one is given, then the localised
    // text of `reasonKey` when one is given.
    virtual void showInformation(const std::string& key, const std::optional<std::string>& argument = {},
                                 const std::optional<std::string>& reasonKey = {}) = 0;
    // A text already localised and filled in.
    virtual void showText(const std::string& text) = 0;
    // Queues a sheet: `opening` runs once no other sheet shows and answers the view to show in a sheet
    // over the main window, or none to show nothing.
    virtual void addSheetAction(std::function<QWidget*()> opening) = 0;
    // Ends the sheet showing `view` with `returnCode`.
    virtual void endSheet(QWidget* view, int returnCode) = 0;
};
