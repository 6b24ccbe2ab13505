#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRange.h"

class QWidget;

// What the owner of an in-place text control (a list cell) decides while its text is edited. The
// text rules of the library work on `editor`, the control's text seen as an EditableText.
class EditingTextDelegate {
public:
    virtual ~EditingTextDelegate() = default;

    // Asked at the first key of a name's edit; while it answers false that key is not interpreted by
    // the name field's own shortcuts.
    virtual bool textShouldBeginEditing(QWidget* control)
    {
        (void)control;
        return false;
    }
    // Asked before any change of the text: typing, deleting, pasting.
    virtual bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                                  const std::vector<std::string>& replacements)
    {
        (void)editor;
        (void)ranges;
        (void)replacements;
        return true;
    }
    // The most UTF-16 units the text may hold: no commit past it could be taken, so an input method's
    // composition is cut to the room it leaves. No field of the program holds more than the default.
    static constexpr std::size_t kLongestText = 1024;
    virtual std::size_t longestText(const EditableText& editor)
    {
        (void)editor;
        return kLongestText;
    }
    // Told after a paste.
    virtual void textDidChange(QWidget* control) { (void)control; }
    // Asked for Ctrl+Return in a name and when a pasted-only text is about to be given up.
    virtual bool textShouldEndEditing(EditableText& editor)
    {
        (void)editor;
        return true;
    }
};
