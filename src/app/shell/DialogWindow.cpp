#include "app/shell/DialogWindow.h"

#include <QEvent>
#include <QTimer>
#include <QVBoxLayout>

DialogWindow::DialogWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowModality(Qt::WindowModal);
    if (parent != nullptr) parent->window()->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void DialogWindow::setContentView(QWidget* view)
{
    layout()->addWidget(view);
    adjustSize();
}

void DialogWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    takeTheKeys();
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && isVisible()) takeTheKeys();
    return QDialog::eventFilter(watched, event);
}

void DialogWindow::takeTheKeys()
{
    // On the next turn: the activation under way ends first.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible() || isActiveWindow()) return;
        raise();
        activateWindow();
    });
}
