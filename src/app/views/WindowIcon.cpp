#include "app/views/WindowIcon.h"

#include <QImage>
#include <QPixmap>

QIcon WindowIcon::fromFile(const QString& path)
{
    const QImage picture(path);
    QIcon icon;
    if (picture.isNull()) return icon;
    for (const int side : {16, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    return icon;
}
