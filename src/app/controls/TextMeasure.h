#pragma once

#include <QFont>
#include <QSizeF>
#include <QString>

// How much room a text takes when wrapped into a box: its lines' widest width and their height, the
// lines past the box's bottom cut off. An empty text takes none.
class TextMeasure {
public:
    static QSizeF measure(const QString& text, const QFont& font, const QSizeF& box);
};
