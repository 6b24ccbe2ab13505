#pragma once

#include <QColor>
#include <QLayout>
#include <QWidget>

#include <functional>

// A colour swatch of the patch screen that never opens a colour chooser and ignores keys: a right click,
// or a left click with Ctrl held, hands the release to its owner (which opens the undo popover), except
// while a dialog shows.
class RightClickColorWell : public QWidget {
    Q_OBJECT
public:
    explicit RightClickColorWell(QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& colour);
    // Called with the release's global position.
    void setRightClickHandler(std::function<void(const QPoint&)> handler) { rightClick_ = std::move(handler); }

    // Whether a release of `button` with `modifiers` is a right click.
    static bool isRightClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);

    // A swatch alone is a small square; one that holds a panel is as large as what it holds.
    QSize sizeHint() const override { return layout() ? QWidget::sizeHint() : QSize(44, 23); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QColor color_ = Qt::white;
    std::function<void(const QPoint&)> rightClick_;
};
