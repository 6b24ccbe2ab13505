#include "app/shell/MainWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

// The window manager tells its frame a little after the window maps; it is looked for this often, this long.
constexpr int kFrameCheckMilliseconds = 100;
constexpr int kFrameChecks = 30;

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("PEXO Rigmora"));
    setContentView(new QWidget);
    frameWatch_.setInterval(kFrameCheckMilliseconds);
    connect(&frameWatch_, &QTimer::timeout, this, &MainWindow::placeAgainWithKnownFrame);
}

QRect MainWindow::contentFrame(const QSize& wanted, const QRect& available, const QMargins& frame)
{
    const int frameWidth = frame.left() + frame.right();
    const int frameHeight = frame.top() + frame.bottom();
    const QSize room(std::max(1, available.width() - frameWidth), std::max(1, available.height() - frameHeight));
    const QSize size = wanted.boundedTo(room);
    const QPoint topLeft(available.x() + (available.width() - size.width() - frameWidth) / 2 + frame.left(),
                         available.y() + (available.height() - size.height() - frameHeight) / 2 + frame.top());
    return {topLeft, size};
}

void MainWindow::setContentView(QWidget* view)
{
    view->setObjectName(QStringLiteral("content"));
    setCentralWidget(view);
}

void MainWindow::placeOnScreen()
{
    const QWindow* handle = windowHandle();
    const QMargins known = handle != nullptr && isVisible() ? handle->frameMargins() : QMargins();
    placeWithFrame(known.isNull() ? kAssumedFrame : known);
}

void MainWindow::placeWithFrame(const QMargins& frame)
{
    const QSize wanted(kContentWidth, kContentHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(contentFrame(wanted, screen->availableGeometry(), frame));
    } else {
        resize(wanted);
    }
    placedFrame_ = frame;
    placedGeometry_ = geometry();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (frameWatch_.isActive() || frameChecksLeft_ < 0) return;
    frameChecksLeft_ = kFrameChecks;
    frameWatch_.start();
}

void MainWindow::placeAgainWithKnownFrame()
{
    const QWindow* handle = windowHandle();
    // Without a window manager there is no frame: the place taken at first stands.
    if (--frameChecksLeft_ <= 0 || handle == nullptr) {
        frameWatch_.stop();
        frameChecksLeft_ = -1;
        return;
    }
    const QMargins frame = handle->frameMargins();
    if (frame.isNull()) return;
    frameWatch_.stop();
    frameChecksLeft_ = -1;
    if (frame == placedFrame_ || size() != placedGeometry_.size()) return;
    placeWithFrame(frame);
}
