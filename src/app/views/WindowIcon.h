#pragma once

#include <QIcon>
#include <QString>

// The program's icon as its windows carry it. A window hands the desktop every size its icon holds, pixel
// for pixel, each time it is shown; the installed picture is made for launchers (256 points), so the
// windows carry it only at the sizes title bars and window switchers draw.
class WindowIcon {
public:
    // The picture at `path` at those sizes; an empty icon when it cannot be read.
    static QIcon fromFile(const QString& path);
};
