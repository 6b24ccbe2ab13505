#pragma once

#include <QFrame>
#include <QPointer>
#include <QRect>

// A small window over the interface that shows one content view and closes itself as soon as the user
// presses anywhere outside it (or presses Escape). The option menus and the undo menu open in it,
// centred on the pointer and just below it. Each opening brings a fresh content view, which the
// popover keeps until the next one replaces it.
class AutoClosePopover : public QFrame {
    Q_OBJECT
public:
    explicit AutoClosePopover(QWidget* parent = nullptr);

    // The popover every right-click view shares, made on first use; main thread only.
    static AutoClosePopover* getMenuPopover();

    // Takes `content`; the previous content goes (later, as it may be the one whose click got here).
    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return content_; }

    // Closes the popover if it shows, then shows it at the pointer (global coordinates). When it closes,
    // the keyboard goes back to what had it, or to the view the popover belongs to, so keys work at once.
    void showAtPointer(const QPoint& globalPointer);
    bool isShown() const { return isVisible(); }

    // A popover of `size` centred on the pointer, its top just below it, moved inside `available`
    // (when given) as far as it fits.
    static QRect frameAtPointer(const QPoint& pointer, const QSize& size, const QRect& available = QRect());

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QPointer<QWidget> content_;
    QPointer<QWidget> returnFocus_;
};
