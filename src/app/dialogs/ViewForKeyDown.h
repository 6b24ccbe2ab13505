#pragma once

#include <QList>
#include <QWidget>

class KeyDownInViewDelegate;
class QKeyEvent;
class QPushButton;

// A view that keeps the keyboard: every key pressed on it, Tab and Escape included, goes to its delegate
// and no further. Its buttons take no focus of their own; the marked (default) one is the focus, shown by
// the default look, or by a `SheetButton`'s focus frame while the view itself has the keys.
// A text field of the view keeps its own keys: only its Return and Enter reach the delegate, and its Tab
// and Shift+Tab move the typing to the view's next or previous field; past the last field (or before the
// first) they give the keys to the view and its buttons, and Shift+Tab there goes back to the last field.
class ViewForKeyDown : public QWidget {
    Q_OBJECT
public:
    explicit ViewForKeyDown(QWidget* parent = nullptr);

    void setDelegate(KeyDownInViewDelegate* delegate) { delegate_ = delegate; }

    // Moves the focus among `buttons` for a key: Right or Tab the next (the first after the last),
    // Left the previous (the last before the first), Return clicks the focused one. Answers the button
    // focused afterwards; a focus outside the list stays as it is.
    static QPushButton* keyDownToSwichButtonWithEvent(const QKeyEvent& event, const QList<QPushButton*>& buttons,
                                                      QPushButton* focusedButton);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // The field of this view that has the typing focus, if any.
    QWidget* editedField() const;

    KeyDownInViewDelegate* delegate_ = nullptr;
};
