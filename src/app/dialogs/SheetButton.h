#pragma once

#include <QPushButton>

class QFocusEvent;

#include <initializer_list>

// A button of a sheet that keeps the keys itself (a `ViewForKeyDown`): it takes no focus of its own, and
// shows the keys with the style's keyboard-focus frame while its sheet hands them to it. Its default
// state (the button Return presses) is not drawn: a style may draw it as that same frame, which would
// show the keys on a button that does not have them and hide their arrival there.
class SheetButton final : public QPushButton {
    Q_OBJECT
public:
    explicit SheetButton(QWidget* parent = nullptr);

    void setHasKeys(bool hasKeys);
    bool hasKeys() const { return hasKeys_; }

    // The keys on `marked` alone among `buttons` while `sheet` itself has the focus; on none while a
    // field of the sheet, or another window, has it.
    static void showKeys(const QWidget& sheet, std::initializer_list<SheetButton*> buttons, const QPushButton* marked);
    // The button marked once `sheet` itself lost the keys: the first of `buttons` when they went on to one of
    // its fields, since no mark shows while a field has them and a field's Return must not answer a button
    // nobody can see marked; `marked` still when another window or a popup only borrows them.
    static QPushButton* markedAfterFocusOut(const QFocusEvent& event, std::initializer_list<SheetButton*> buttons,
                                            QPushButton* marked);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool hasKeys_ = false;
};
