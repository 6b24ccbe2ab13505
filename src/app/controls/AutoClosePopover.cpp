#include "app/controls/AutoClosePopover.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "app/shell/AppDelegate.h"

AutoClosePopover::AutoClosePopover(QWidget* parent) : QFrame(parent, Qt::Popup)
{
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
}

AutoClosePopover* AutoClosePopover::getMenuPopover()
{
    static QPointer<AutoClosePopover> shared;
    // Kept with the main window, so that it goes with the interface; one made without a window stays.
    if (!shared) shared = new AutoClosePopover(AppDelegate::getInstance().getMainWindow());
    return shared;
}

void AutoClosePopover::setContentWidget(QWidget* content)
{
    if (content_ == content) return;
    if (content_) {
        content_->hide();
        layout()->removeWidget(content_);
        content_->deleteLater();
    }
    content_ = content;
    if (content_) layout()->addWidget(content_);
}

QRect AutoClosePopover::frameAtPointer(const QPoint& pointer, const QSize& size, const QRect& available)
{
    QRect frame(pointer.x() - size.width() / 2, pointer.y() + 1, size.width(), size.height());
    if (available.isValid()) {
        frame.moveLeft(std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width())));
        frame.moveTop(std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height())));
    }
    return frame;
}

void AutoClosePopover::showAtPointer(const QPoint& globalPointer)
{
    if (isVisible()) close();
    adjustSize();
    const QScreen* screen = QGuiApplication::screenAt(globalPointer);
    setGeometry(frameAtPointer(globalPointer, sizeHint(), screen ? screen->availableGeometry() : QRect()));
    show();
    raise();
    activateWindow();
}
