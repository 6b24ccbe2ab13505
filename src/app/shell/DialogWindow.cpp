#include "app/shell/DialogWindow.h"

#include <QVBoxLayout>

DialogWindow::DialogWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void DialogWindow::setContentView(QWidget* view)
{
    layout()->addWidget(view);
    adjustSize();
}
