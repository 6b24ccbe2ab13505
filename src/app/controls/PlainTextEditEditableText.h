#pragma once

#include "library/text/EditableText.h"

class EditingTextDelegate;
class QPlainTextEdit;

// A multi-line editor's text as the text rules see it; line breaks are "\n".
class PlainTextEditEditableText final : public EditableText {
public:
    explicit PlainTextEditEditableText(QPlainTextEdit& editor) : editor_(editor) {}

    void setDelegate(EditingTextDelegate* delegate) { delegate_ = delegate; }

    std::string string() const override;
    void setString(const std::string& text) override;
    void setSelectedRange(TextRange range) override;
    bool delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                  const std::vector<std::string>& replacements) override;

private:
    QPlainTextEdit& editor_;
    EditingTextDelegate* delegate_ = nullptr;
};
