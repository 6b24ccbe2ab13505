#pragma once

#include <QDialog>

// The window of one sheet: window-modal over the main window, without a close button, and closed only
// by its own buttons (endSheet), never by Escape, so the sheet's closing path always runs. A close the
// window manager sends anyway does what Escape does: nothing; it never quits the program.
class DialogWindow final : public QDialog {
    Q_OBJECT
public:
    explicit DialogWindow(QWidget* parent = nullptr);

    // Puts the sheet's view in the window, sized to the view.
    void setContentView(QWidget* view);
    void endSheet(int returnCode = 0) { done(returnCode); }

public slots:
    // Escape ends here and is ignored: only the sheet's own buttons, or quitting, close a sheet.
    void reject() override {}

protected:
    // A shown sheet has the keys, as the window it belongs to would: also when that window is made active
    // under it (at the start, the main window becomes active once it has painted, after the first sheet).
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeTheKeys();
};
