#include "app/controls/AttributedTitle.h"

#include <algorithm>

QList<QTextLayout::FormatRange> AttributedTitle::formats() const
{
    QList<QTextLayout::FormatRange> all;
    QTextLayout::FormatRange whole;
    whole.start = 0;
    whole.length = static_cast<int>(text.size());
    whole.format.setForeground(colour);
    all.append(whole);
    for (const Run& run : runs) {
        const int start = std::clamp(run.start, 0, static_cast<int>(text.size()));
        const int end = std::clamp(run.start + std::max(0, run.length), start, static_cast<int>(text.size()));
        if (end == start) continue;
        QTextLayout::FormatRange range;
        range.start = start;
        range.length = end - start;
        range.format.setForeground(run.colour);
        all.append(range);
    }
    return all;
}
