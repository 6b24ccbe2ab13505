#pragma once

#include <QColor>
#include <QSplitter>

// A splitter with a 2-point divider in fixed colours: grey between panes side by side, dark blue
// between panes one above the other. The divider paints itself: a style sheet would have every widget
// in the panes styled through the style sheet's engine, which polishes and draws them more slowly.
class CustomSplitView : public QSplitter {
    Q_OBJECT
public:
    static constexpr int kDividerThickness = 2;

    explicit CustomSplitView(Qt::Orientation orientation, QWidget* parent = nullptr);

    // The divider's colour for panes laid out along `orientation` (Qt::Horizontal: side by side).
    static QColor dividerColor(Qt::Orientation orientation);
    int dividerThickness() const { return handleWidth(); }

protected:
    QSplitterHandle* createHandle() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
