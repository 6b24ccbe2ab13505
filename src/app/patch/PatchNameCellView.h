#pragma once

#include "app/patch/PatchTextCellView.h"

// The name cell of the device list: a name is checked against the name rules, written to the patch
// file and the device, and recorded for undo; a refused or failed name is put back.
class PatchNameCellView final : public PatchTextCellView {
public:
    static constexpr int kUndoType = 1;

    using PatchTextCellView::PatchTextCellView;

    bool textShouldEndEditing(std::string& fieldText) override;
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override;
    std::size_t longestText(const EditableText& editor) override;

protected:
    const std::string& committedText() const override;
};
