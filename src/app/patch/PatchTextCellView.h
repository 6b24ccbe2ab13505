#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/controls/EditingTextDelegate.h"
#include "app/patch/PatchCellContext.h"

class PatchItem;

// What the name and the comment cells of the device list share: the patch shown, its slot, the text
// the field showed when the edit began, and the end of an edit. A plain class: the list's delegate
// holds the editor and asks the cell what an edit does; the editor puts every change of its text to it.
class PatchTextCellView : public EditingTextDelegate {
public:
    explicit PatchTextCellView(PatchCellContext context) : context_(context) {}
    ~PatchTextCellView() override = default;

    // Forgets the patch and the texts before the cell shows another row.
    virtual void clearCell();

    const std::shared_ptr<PatchItem>& patchItem() const { return patchItem_; }
    void setPatchItem(std::shared_ptr<PatchItem> item) { patchItem_ = std::move(item); }
    std::uint64_t index() const { return index_; }
    void setIndex(std::uint64_t index) { index_ = index; }
    const std::string& originalText() const { return originalText_; }
    void setOriginalText(std::string text) { originalText_ = std::move(text); }

    // Ends the edit: editing colours cleared, the original text becomes the committed one. Always true.
    bool makeTextFieldStopEditing();
    // Commits the field's text when the edit ends; `fieldText` may be given the committed text back.
    // The edit always ends.
    virtual bool textShouldEndEditing(std::string& fieldText) = 0;
    // ---- EditingTextDelegate ----
    bool textShouldBeginEditing(QWidget*) override { return true; }
    // The commit comes when the editor closes; a line break or a paste-only edit may end it at once.
    bool textShouldEndEditing(EditableText&) override { return true; }

protected:
    // The patch's committed text in this cell's column.
    virtual const std::string& committedText() const = 0;
    // Rewrites the patch file with `newText` in this cell's field; on failure the old text goes back and
    // the user is told.
    bool rewrite(std::string& fieldText, std::string& field, int undoType);

    PatchCellContext context_;
    std::shared_ptr<PatchItem> patchItem_;
    std::uint64_t index_ = 0;
    std::string originalText_;
};
