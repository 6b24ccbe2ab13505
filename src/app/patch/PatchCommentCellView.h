#pragma once

#include "app/patch/PatchTextCellView.h"

// The comment cell of the device list: a comment the comment rule takes is written to the patch file
// and the device and recorded for undo, an empty one too; a refused comment or a failed rewrite is put
// back.
class PatchCommentCellView final : public PatchTextCellView {
public:
    static constexpr int kUndoType = 2;

    using PatchTextCellView::PatchTextCellView;

    bool textShouldEndEditing(std::string& fieldText) override;
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override;
    std::size_t longestText(const EditableText& editor) override;

protected:
    const std::string& committedText() const override;
};
