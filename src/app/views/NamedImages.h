#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// The pictures the interface asks for by name. All are drawn here in one flat look (dark rows, the
// memory bar's blues, the selection orange), so the program ships no picture files.
class NamedImages {
public:
    // The picture, or a null image when no picture has that name.
    static QImage image(const QString& name);
    static const QStringList& names();
};
