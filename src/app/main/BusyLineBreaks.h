#pragma once

#include <QString>

#include <functional>

// Where the header's busy line breaks when it does not fit its room. It breaks only where the language
// allows and the reader expects: first between its parts (a sentence, a count, the wait that follows
// them), so the break stays put while a count grows; inside a part only at a space, never between two
// letters of a Japanese word. A part that fits nowhere stays whole on its own line.
class BusyLineBreaks {
public:
    // `text` with "\n" where its lines break within `width`, as `widthOf` measures a line.
    static QString lay(const QString& text, int width, const std::function<int(const QString&)>& widthOf);
};
