#pragma once

#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls/EditingTextDelegate.h"
#include "app/controls/InputMethodComposition.h"
#include "app/controls/LineEditEditableText.h"
#include "app/dialogs/KeyDownInViewDelegate.h"
#include "app/dialogs/SheetButton.h"
#include "app/dialogs/ViewForKeyDown.h"
#include "app/patch/KeptFieldSelection.h"
#include "library/text/TextRuleContext.h"
#include "platform/plist/PlistValue.h"

class AppDelegate;
class CustomTextViewForPatchProperty;
class PatchItem;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The property sheet of one patch: its name and comment for editing and, with a device connected, the
// effects its slots use. It works on the patch it is given (the opener's copy): Save checks both texts
// against the rules, writes them into that patch and runs the save block; a refused text, and Cancel,
// run the cancel block. Save is usable only while both texts pass the rules as they are typed.
class PatchPropertyViewController final : public ViewForKeyDown,
                                          public KeyDownInViewDelegate,
                                          public EditingTextDelegate {
    Q_OBJECT
public:
    PatchPropertyViewController(AppDelegate& appDelegate, TextRuleContext textRules, QWidget* parent = nullptr);
    ~PatchPropertyViewController() override;

    // Set before the view is taken.
    void setPatchItem(std::shared_ptr<PatchItem> patchItem) { patchItem_ = std::move(patchItem); }
    const std::shared_ptr<PatchItem>& patchItem() const { return patchItem_; }
    void setIsPatchInBackupAllGroup(bool inBackupAll) { isPatchInBackupAllGroup_ = inBackupAll; }
    bool isPatchInBackupAllGroup() const { return isPatchInBackupAllGroup_; }
    void setSaveActionBlock(std::function<void()> block) { saveActionBlock_ = std::move(block); }
    void setCancelActionBlock(std::function<void()> block) { cancelActionBlock_ = std::move(block); }

    // The sheet's view, filled from the patch the first time it is taken.
    QWidget* view();
    // Focuses the name field and selects its whole text on the next turn of the event loop.
    void setSelection();

    void saveButtonClicked();
    void cancelButtonClicked();

    // The lines of the effects a patch's slots use: an effect's name, then its name in parentheses for
    // each further slot it takes; an empty slot as its one-based number in parentheses.
    static std::vector<std::string> parseUsedEffectInPatch(const platform::PlistDictionary& effects);
    const std::vector<std::string>& usedEffectList() const { return usedEffectList_; }

    bool wrongName() const { return wrongName_; }
    bool wrongComment() const { return wrongComment_; }
    QLineEdit* patchNameTextField() const { return patchNameTextField_; }
    CustomTextViewForPatchProperty* patchCommentTextView() const { return patchCommentTextView_; }
    QPlainTextEdit* effectListTextView() const { return effectListTextView_; }
    QLabel* patchNameLabel() const { return patchNameLabel_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* focusedButton() const { return focusedButton_; }

    // KeyDownInViewDelegate
    void view(ViewForKeyDown* view, QKeyEvent* event) override;
    // EditingTextDelegate: the typing filters of the name and the comment, and a paste's live check.
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override;
    std::size_t longestText(const EditableText& editor) override;
    void textDidChange(QWidget* control) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The sheet itself taking or losing the keys shows or hides them on its marked button.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void viewDidLoad();
    void showKeys() { SheetButton::showKeys(*this, {saveButton_, cancelButton_}, focusedButton_); }
    void nameDidChange();
    void commentDidChange();
    // Whether the field's text differs from the patch's stored one.
    bool nameChanged(const std::string& name) const;
    bool commentChanged() const;
    void updateSaveButton();

    AppDelegate& appDelegate_;
    TextRuleContext textRules_;
    bool loaded_ = false;
    bool isPatchInBackupAllGroup_ = false;
    bool wrongName_ = false;
    bool wrongComment_ = false;
    std::shared_ptr<PatchItem> patchItem_;
    std::function<void()> cancelActionBlock_;
    std::function<void()> saveActionBlock_;
    QLabel* patchNameLabel_ = nullptr;
    QLabel* patchCommentLabel_ = nullptr;
    QLabel* effectLabel_ = nullptr;
    SheetButton* saveButton_ = nullptr;
    SheetButton* cancelButton_ = nullptr;
    QLineEdit* patchNameTextField_ = nullptr;
    LineEditEditableText nameText_;
    InputMethodComposition nameComposition_;
    KeptFieldSelection keptSelection_;
    QPointer<QPushButton> focusedButton_;
    CustomTextViewForPatchProperty* patchCommentTextView_ = nullptr;
    QPlainTextEdit* effectListTextView_ = nullptr;
    std::vector<std::string> usedEffectList_;
    std::string previousPatchName_;
    std::string previousPatchComment_;
};
