#include "WindowShot.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

QWidget* WindowShot::findWindow(const QString& title)
{
    QWidget* found = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->windowTitle() != title) continue;
        if (found == nullptr || widget->width() * widget->height() > found->width() * found->height())
            found = widget;
    }
    return found;
}

bool WindowShot::isBlank(const QImage& image)
{
    if (image.isNull()) return true;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first) return false;
    return true;
}

QString WindowShot::save(QWidget& window, const QString& path)
{
    QImage image = window.grab().toImage();
    // The window's own popovers and sheets are windows of their own: drawn over it where they show.
    QPainter painter(&image);
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == &window || !widget->isVisible() || widget->parentWidget() == nullptr) continue;
        if (widget->parentWidget()->window() != &window) continue;
        const QPoint at = widget->mapToGlobal(QPoint(0, 0)) - origin;
        painter.drawPixmap(at, widget->grab());
    }
    painter.end();
    if (isBlank(image)) return QStringLiteral("the window's picture is blank");
    if (!image.save(path, "PNG")) return QStringLiteral("cannot save the picture to ") + path;
    return {};
}
