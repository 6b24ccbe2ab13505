#include "app/controls/LineEditEditableText.h"

#include <QLineEdit>

#include <algorithm>

#include "app/controls/EditingTextDelegate.h"
#include "app/controls/RuleText.h"

std::string LineEditEditableText::string() const { return RuleText::of(editor_.text()); }

void LineEditEditableText::setString(const std::string& text) { editor_.setText(QString::fromStdString(text)); }

void LineEditEditableText::setSelectedRange(TextRange range)
{
    const auto size = static_cast<std::size_t>(editor_.text().size());
    const auto start = static_cast<int>(std::min(range.location, size));
    const auto length = static_cast<int>(std::min(range.length, size - static_cast<std::size_t>(start)));
    if (length == 0) {
        editor_.setCursorPosition(start);
    } else {
        editor_.setSelection(start, length);
    }
}

bool LineEditEditableText::delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                                    const std::vector<std::string>& replacements)
{
    return delegate_ == nullptr || delegate_->shouldChangeText(*this, ranges, replacements);
}
