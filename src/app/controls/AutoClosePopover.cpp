#include "app/controls/AutoClosePopover.h"

#include <QApplication>
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
    // The views let go of the keyboard before their menu opens: then the view itself takes it back.
    returnFocus_ = QApplication::focusWidget();
    if (!returnFocus_ && parentWidget() && !parentWidget()->isWindow()) returnFocus_ = parentWidget();
    adjustSize();
    const QScreen* screen = QGuiApplication::screenAt(globalPointer);
    setGeometry(frameAtPointer(globalPointer, sizeHint(), screen ? screen->availableGeometry() : QRect()));
    show();
    raise();
    activateWindow();
}

void AutoClosePopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    QWidget* target = returnFocus_;
    if (target == nullptr) return;
    // An editor the chosen item opened keeps the keyboard; after a sheet the chosen item opened, the
    // view has it again once its window is active.
    const QWidget* recorded = target->window()->focusWidget();
    if (recorded == nullptr || recorded == this || isAncestorOf(recorded)) target->setFocus(Qt::PopupFocusReason);
}
