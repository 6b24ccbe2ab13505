#pragma once

#include <QLineEdit>

#include <string>

#include "app/controls/InputMethodComposition.h"
#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The line editor of a pool row's name: every change goes through the group-name or patch-name rule
// before it shows, and the end of editing applies the rule's final check, a refused name ending as the
// old one.
class PoolNameEditor final : public QLineEdit, private EditableText {
    Q_OBJECT
public:
    PoolNameEditor(bool isGroup, std::string oldName, TextRuleContext context, QWidget* parent = nullptr);

    bool isGroup() const { return isGroup_; }
    const std::string& oldName() const { return oldName_; }
    // The name to commit: the text as typed when the rule takes it, else the old name (the rule has
    // shown its message).
    std::string textShouldEndEditing();
    // Escape: the old name comes back.
    void cancelOperation();
    // Goes on with the typing of an editor of the same item that a reload of the tree closed; its old
    // name stays the one this editor was made with, the item's after the reload.
    void continueTypingOf(const PoolNameEditor& closed);

protected:
    // An input method's composition shows no further than the name's room; one that ends with nothing
    // taken puts back the name it took away as it began.
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void filterEdit(const QString& edited);
    bool applyRule(const std::vector<TextRange>& ranges, const std::vector<std::string>& replacements);

    // EditableText
    std::string string() const override;
    void setString(const std::string& text) override;
    void setSelectedRange(TextRange range) override;
    bool delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                  const std::vector<std::string>& replacements) override;

    bool isGroup_;
    std::string oldName_;
    TextRuleContext context_;
    QString accepted_;
    bool filtering_ = false;
    InputMethodComposition composition_;
};
