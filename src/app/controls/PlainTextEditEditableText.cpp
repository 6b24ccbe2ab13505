#include "app/controls/PlainTextEditEditableText.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include <algorithm>

#include "app/controls/EditingTextDelegate.h"
#include "app/controls/RuleText.h"

std::string PlainTextEditEditableText::string() const { return RuleText::of(editor_.toPlainText()); }

void PlainTextEditEditableText::setString(const std::string& text)
{
    editor_.setPlainText(QString::fromStdString(text));
}

void PlainTextEditEditableText::setSelectedRange(TextRange range)
{
    QTextCursor cursor = editor_.textCursor();
    const auto end = static_cast<std::size_t>(std::max(0, editor_.document()->characterCount() - 1));
    const auto start = std::min(range.location, end);
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(std::min(start + range.length, end)), QTextCursor::KeepAnchor);
    editor_.setTextCursor(cursor);
}

bool PlainTextEditEditableText::delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                                         const std::vector<std::string>& replacements)
{
    return delegate_ == nullptr || delegate_->shouldChangeText(*this, ranges, replacements);
}
