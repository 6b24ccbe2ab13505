#include "app/controls/CustomLeftView.h"

CustomLeftView::CustomLeftView(QWidget* parent) : QWidget(parent) {}

void CustomLeftView::boundsDidChangeNotification()
{
    if (call_) call_();
}

void CustomLeftView::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    boundsDidChangeNotification();
}

void CustomLeftView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    boundsDidChangeNotification();
}
