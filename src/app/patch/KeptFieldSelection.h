#pragma once

#include <QString>

#include <optional>

class QEvent;
class QLineEdit;

// What a sheet's name field had selected when another window or a popup borrowed the keys, put back
// when they return. The line edit drops its selection when its window is activated while the field
// does not have the keys, and a click on the main window under a sheet activates the sheet in passing
// (the sheet, the main window, then the sheet for good). Nothing is kept while the field has the keys
// or once they moved on within the sheet; a text changed meanwhile, or a press in the field, is left as
// it is.
class KeptFieldSelection {
public:
    // Follows the focus events and presses `field` gets, before the field's own handling.
    void see(QLineEdit& field, const QEvent& event);

private:
    struct Kept {
        QString text;
        int anchor;
        int cursor;
    };
    std::optional<Kept> kept_;
};
