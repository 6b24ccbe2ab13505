#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QTextLayout>

// A row title in one font with colours over ranges: the whole title in `colour`, then each run's colour
// over its range (the effect pool's groups with a new effect end in a differently coloured "- NEW").
// Ranges count UTF-16 code units, as QString does; the parts of a run outside the text are dropped.
struct AttributedTitle {
    struct Run {
        int start = 0;
        int length = 0;
        QColor colour;
    };

    QString text;
    QFont font;
    QColor colour = Qt::white;
    QList<Run> runs;

    bool isEmpty() const { return text.isEmpty(); }
    // The colour of every character, as the text layout takes it.
    QList<QTextLayout::FormatRange> formats() const;
};
