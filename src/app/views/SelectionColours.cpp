#include "app/views/SelectionColours.h"

#include <QPalette>
#include <QWidget>

// 6.6:1 under white: past 4.5:1 for names of any size.
QColor SelectionColours::highlight() { return QColor(5, 96, 159); }

QColor SelectionColours::highlightedText() { return QColor(Qt::white); }

void SelectionColours::apply(QWidget& widget)
{
    QPalette colours = widget.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Highlight, highlight());
        colours.setColor(group, QPalette::HighlightedText, highlightedText());
    }
    widget.setPalette(colours);
}

QString SelectionColours::styleSheetRules()
{
    return QStringLiteral("selection-background-color: %1; selection-color: %2;")
        .arg(highlight().name(), highlightedText().name());
}
