#pragma once

#include <string>
#include <vector>

#include "library/text/TextRange.h"

// The editor a text rule works on: its text, its selection, and its own delegate's say on a change.
class EditableText {
public:
    virtual ~EditableText() = default;

    virtual std::string string() const = 0;
    virtual void setString(const std::string& text) = 0;
    virtual void setSelectedRange(TextRange range) = 0;
    // Whether the editor's delegate lets the change through (it runs the same rule again).
    virtual bool delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                          const std::vector<std::string>& replacements) = 0;
};
