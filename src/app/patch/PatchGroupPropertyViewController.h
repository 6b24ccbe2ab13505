#pragma once

#include <QPointer>

#include <functional>
#include <memory>

#include "app/controls/InputMethodComposition.h"
#include "app/controls/LineEditEditableText.h"
#include "app/dialogs/KeyDownInViewDelegate.h"
#include "app/dialogs/SheetButton.h"
#include "app/dialogs/ViewForKeyDown.h"
#include "app/patch/KeptFieldSelection.h"
#include "app/controls/EditingTextDelegate.h"
#include "library/text/TextRuleContext.h"

class DirectoryObject;
class QLabel;
class QLineEdit;

// The property sheet of one pool group: its name for editing and, read only, how many patches it holds
// and, for a backup of the whole list, the device model it was made from. Save checks the name against
// the group-name rule, writes a changed name into the group and runs the save block; a refused name,
// and Cancel, run the cancel block.
class PatchGroupPropertyViewController final : public ViewForKeyDown,
                                               public KeyDownInViewDelegate,
                                               public EditingTextDelegate {
    Q_OBJECT
public:
    PatchGroupPropertyViewController(TextRuleContext textRules, QWidget* parent = nullptr);
    ~PatchGroupPropertyViewController() override;

    // Set before the view is taken.
    void setGroup(std::shared_ptr<DirectoryObject> group) { group_ = std::move(group); }
    const std::shared_ptr<DirectoryObject>& group() const { return group_; }
    void setSaveActionBlock(std::function<void()> block) { saveActionBlock_ = std::move(block); }
    void setCancelActionBlock(std::function<void()> block) { cancelActionBlock_ = std::move(block); }

    QWidget* view();
    // Focuses the name field and selects its whole text on the next turn of the event loop.
    void setSelection();

    void saveButtonClicked();
    void cancelButtonClicked();

    QLineEdit* groupNameTextField() const { return groupNameTextField_; }
    QLabel* titleLabel1() const { return titleLabel1_; }
    QLabel* informationLabel1() const { return informationLabel1_; }
    QLabel* titleLabel2() const { return titleLabel2_; }
    QLabel* informationLabel2() const { return informationLabel2_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* focusedButton() const { return focusedButton_; }

    // KeyDownInViewDelegate
    void view(ViewForKeyDown* view, QKeyEvent* event) override;
    // EditingTextDelegate: the typing filter of the name.
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override;
    std::size_t longestText(const EditableText& editor) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The sheet itself taking or losing the keys shows or hides them on its marked button.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void viewDidLoad();
    void showKeys() { SheetButton::showKeys(*this, {saveButton_, cancelButton_}, focusedButton_); }

    TextRuleContext textRules_;
    bool loaded_ = false;
    std::function<void()> cancelActionBlock_;
    std::function<void()> saveActionBlock_;
    std::shared_ptr<DirectoryObject> group_;
    QLabel* groupNameLabel_ = nullptr;
    QLineEdit* groupNameTextField_ = nullptr;
    LineEditEditableText nameText_;
    InputMethodComposition nameComposition_;
    KeptFieldSelection keptSelection_;
    QLabel* titleLabel1_ = nullptr;
    QLabel* informationLabel1_ = nullptr;
    QLabel* titleLabel2_ = nullptr;
    QLabel* informationLabel2_ = nullptr;
    SheetButton* saveButton_ = nullptr;
    SheetButton* cancelButton_ = nullptr;
    QPointer<QPushButton> focusedButton_;
};
