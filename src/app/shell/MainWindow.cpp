#include "app/shell/MainWindow.h"

#include <QGuiApplication>
#include <QScreen>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("PEXO Rigmora"));
    setContentView(new QWidget);
}

QRect MainWindow::contentFrame(const QSize& wanted, const QRect& available)
{
    const QSize size = wanted.boundedTo(available.size());
    const QPoint topLeft(available.x() + (available.width() - size.width()) / 2,
                         available.y() + (available.height() - size.height()) / 2);
    return {topLeft, size};
}

void MainWindow::setContentView(QWidget* view)
{
    view->setObjectName(QStringLiteral("content"));
    setCentralWidget(view);
}

void MainWindow::placeOnScreen()
{
    const QSize wanted(kContentWidth, kContentHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(contentFrame(wanted, screen->availableGeometry()));
    } else {
        resize(wanted);
    }
}
