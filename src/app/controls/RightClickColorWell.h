#pragma once

#include <QColor>
#include <QLayout>
#include <QWidget>

#include <memory>

class AppDelegate;
class RightClickImageView;
class UndoController;

// A colour swatch that never opens a colour chooser and ignores keys; the effect screen's information
// panel sits on one. A right click or a Control-click (ControlClick), except while a dialog shows, asks a
// fresh right-click picture of its own, never placed anywhere, to open the undo popover over the swatch:
// as for every such picture, it opens on the patch screen only, so on the effect screen nothing opens.
class RightClickColorWell : public QWidget {
    Q_OBJECT
public:
    // The program's application state and undo stack, unless others are given.
    explicit RightClickColorWell(QWidget* parent = nullptr);
    RightClickColorWell(AppDelegate& appDelegate, UndoController& undoController, QWidget* parent = nullptr);
    ~RightClickColorWell() override;

    QColor color() const { return color_; }
    void setColor(const QColor& colour);

    // The picture that took the last right click; none before the first.
    RightClickImageView* rightClickImageView() const { return rightClickImageView_.get(); }

    // A swatch alone is a small square; one that holds a panel is as large as what it holds.
    QSize sizeHint() const override { return layout() ? QWidget::sizeHint() : QSize(44, 23); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    AppDelegate& appDelegate_;
    UndoController& undoController_;
    QColor color_ = Qt::white;
    std::unique_ptr<RightClickImageView> rightClickImageView_;
};
