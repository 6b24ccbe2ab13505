#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class ShowingDialogQueue;

// Asks what to do when a copied file's name is already taken at the destination: "Cancel", "Replace"
// or "Keep Both". The alert waits its turn in the dialog queue like every sheet, so it never stacks on
// another, and it deletes itself once answered.
class DuplicatingFileNameAlert final : public QMessageBox {
    Q_OBJECT
public:
    using Action = std::function<void()>;
    static constexpr int kCancelReturn = 1000;
    static constexpr int kReplaceReturn = 1001;
    static constexpr int kKeepBothReturn = 1002;

    explicit DuplicatingFileNameAlert(const QString& fileName);

    // Queues the alert over `window`; the chosen answer's action runs when given, then the dialog flag
    // is cleared. Escape and Return answer Cancel. An alert the queue lets go unanswered (dropped while it
    // waits, or closed while it shows: an unplugged unit, a second one, Quit) is answered Cancel too, and
    // then `unansweredAction` runs, to tell the user what was not done.
    void showAlertInWindow(QWidget* window, ShowingDialogQueue& dialogQueue, Action keepBothAction,
                           Action replaceAction, Action cancelAction, Action unansweredAction = {});

    int returnCodeOf(QAbstractButton* button) const;
    QAbstractButton* buttonWithReturnCode(int returnCode) const;

protected:
    // A close the window manager sends anyway answers as Escape does: Cancel, with its action.
    void closeEvent(QCloseEvent* event) override;

private:
    QList<QAbstractButton*> answers_;  // Cancel, Replace, Keep Both
    bool answered_ = false;
};
