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
    // Sheets and popups are windows of their own: they are laid over the picture where they show.
    const QPoint origin = window.mapToGlobal(QPoint(0, 0));
    QPainter painter(&image);
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other == &window || !other->isVisible() || other->windowType() == Qt::Desktop) continue;
        painter.drawPixmap(other->mapToGlobal(QPoint(0, 0)) - origin, other->grab());
    }
    painter.end();
    if (isBlank(image)) return QStringLiteral("the window's picture is blank");
    if (!image.save(path, "PNG")) return QStringLiteral("cannot save the picture to ") + path;
    return {};
}
