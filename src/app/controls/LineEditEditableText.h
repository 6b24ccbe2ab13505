#pragma once

#include "library/text/EditableText.h"

class EditingTextDelegate;
class QLineEdit;

// A single-line editor's text as the text rules see it; its delegate's say is the control's delegate's.
class LineEditEditableText final : public EditableText {
public:
    explicit LineEditEditableText(QLineEdit& editor) : editor_(editor) {}

    void setDelegate(EditingTextDelegate* delegate) { delegate_ = delegate; }

    std::string string() const override;
    void setString(const std::string& text) override;
    void setSelectedRange(TextRange range) override;
    bool delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                  const std::vector<std::string>& replacements) override;

private:
    QLineEdit& editor_;
    EditingTextDelegate* delegate_ = nullptr;
};
