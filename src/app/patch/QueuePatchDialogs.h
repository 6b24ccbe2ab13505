#pragma once

#include <string>

#include "app/patch/PatchDialogs.h"
#include "library/text/TextRuleContext.h"

class ShowingDialogQueue;

// The patch screen's messages on the program's dialog queue, and what the text rules need of the program.
class QueuePatchDialogs final : public PatchDialogs {
public:
    explicit QueuePatchDialogs(ShowingDialogQueue& dialogQueue) : dialogQueue_(dialogQueue) {}

    void showInformation(const std::string& key, const std::optional<std::string>& argument = {},
                         const std::optional<std::string>& reasonKey = {}) override;
    void showText(const std::string& text) override;
    void addSheetAction(std::function<QWidget*()> opening) override;
    void endSheet(QWidget* view, int returnCode) override;

    // The interface language, the clipboard's text, the dialog queue and the localised texts.
    static TextRuleContext textRuleContext(ShowingDialogQueue& dialogQueue, const std::string& language);

private:
    ShowingDialogQueue& dialogQueue_;
};
