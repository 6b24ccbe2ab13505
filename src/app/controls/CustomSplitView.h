#pragma once

#include <QColor>
#include <QSplitter>

// A splitter with a 2-point divider in fixed colours: grey between panes side by side, dark blue
// between panes one above the other.
class CustomSplitView : public QSplitter {
    Q_OBJECT
public:
    static constexpr int kDividerThickness = 2;

    explicit CustomSplitView(Qt::Orientation orientation, QWidget* parent = nullptr);

    // The divider's colour for panes laid out along `orientation` (Qt::Horizontal: side by side).
    static QColor dividerColor(Qt::Orientation orientation);
    int dividerThickness() const { return handleWidth(); }
};
