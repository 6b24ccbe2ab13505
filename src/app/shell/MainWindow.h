#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QTimer>

// The single window of the program. The main window controller's view is its content.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    static constexpr int kContentWidth = 1500;
    static constexpr int kContentHeight = 1500;
    // What a desktop's title bar and border usually take, assumed until the window manager tells.
    static constexpr QMargins kAssumedFrame{1, 30, 1, 1};

    // The content size wanted, cut so that it and the window manager's frame round it fit the room the
    // screen has, the whole framed window centred on it: a title bar is never placed above the screen.
    static QRect contentFrame(const QSize& wanted, const QRect& available, const QMargins& frame = {});
    void setContentView(QWidget* view);
    // Sizes the window to its content frame on the primary screen; once shown, placed again as soon as
    // the window manager's frame is known, unless the user has moved or resized it meanwhile.
    void placeOnScreen();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void placeWithFrame(const QMargins& frame);
    void placeAgainWithKnownFrame();

    QMargins placedFrame_;
    QRect placedGeometry_;
    QTimer frameWatch_;
    int frameChecksLeft_ = 0;
};
