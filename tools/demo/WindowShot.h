#pragma once

#include <QImage>
#include <QString>

class QWidget;

// A picture of the program's main window, as proof that the demo drew something.
class WindowShot {
public:
    // The largest visible top-level window with this title, or none.
    static QWidget* findWindow(const QString& title);
    // Blank: null, or every pixel the same colour.
    static bool isBlank(const QImage& image);
    // Grabs the window, with the sheets and menus shown over it, and saves it as PNG unless the picture
    // is blank. Answers an error, empty on success.
    static QString save(QWidget& window, const QString& path);
};
