#pragma once

#include <QPointer>

#include "library/text/EditableText.h"

class QLineEdit;
class QPlainTextEdit;
class QWidget;

// A line or plain-text editor as the text rules see it. An editor that has gone reads as empty.
class EditorEditableText final : public EditableText {
public:
    explicit EditorEditableText(QWidget* editor);

    std::string string() const override;
    void setString(const std::string& text) override;
    void setSelectedRange(TextRange range) override;
    bool delegateShouldChangeText(const std::vector<TextRange>&, const std::vector<std::string>&) override { return true; }

    // The selection in UTF-16 units, where typed text goes.
    TextRange selectedRange() const;
    // Puts `text` over the selection, as typing does.
    void insert(const std::string& text);

private:
    QPointer<QLineEdit> line_;
    QPointer<QPlainTextEdit> plain_;
};
