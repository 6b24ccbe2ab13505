#pragma once

#include <QString>

#include <string>

// An editor's text as the text rules take it: UTF-8, except that an unpaired surrogate (half a
// character, as an input method may send) is written as its own three bytes where Qt would write "?".
// Those bytes are not UTF-8, so every rule refuses the text and says why, instead of storing a "?".
class RuleText {
public:
    static std::string of(const QString& text);
};
