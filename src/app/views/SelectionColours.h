#pragma once

#include <QColor>
#include <QString>

class QWidget;

// The colours of selected text in the editors of names and comments: white on a deep blue. The default
// style's own highlight reads 3.7:1 under white text, too faint for the small names of the sheets, and
// the pool's editor, which sits on a list that draws its own selection, would take that list's
// transparent highlight and show a selected name white on white.
class SelectionColours {
public:
    static QColor highlight();
    static QColor highlightedText();
    // The two colours in every state of `widget`'s palette (active, inactive, disabled); its children
    // take them unless they set their own.
    static void apply(QWidget& widget);
    // The same for a style sheet's rule, which sets a widget's palette over its parent's.
    static QString styleSheetRules();
};
