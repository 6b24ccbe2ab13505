#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

#include "app/dialogs/ConfirmationView.h"
#include "app/dialogs/UpdateInformationView.h"

class AppDelegate;
class QDialog;
class QWidget;

// Puts every message and question in front of the user one sheet at a time. Sheet-opening actions wait
// in arrival order; the next runs only when the sheet of the previous one has ended. The queue opens
// each action's sheet itself and listens to its end, so an action that opens nothing, or a sheet that
// goes away by any road, never leaves the later ones waiting for good. Main thread only.
class ShowingDialogQueue final : public QObject {
    Q_OBJECT
public:
    // Makes its sheet (a window from sheetWindowWithView) and returns it for the queue to open over
    // the main window; nullptr when it has nothing to show after all.
    using BlockAction = std::function<QDialog*()>;
    using ButtonAction = std::function<void()>;

    explicit ShowingDialogQueue(AppDelegate& appDelegate);
    static ShowingDialogQueue& getInstance();

    // An information sheet; OK runs the completion (when given), then closes it.
    void showDialogWithInformation(const QString& information, ButtonAction completionBlock = {});
    // A confirmation sheet; each button runs its action (when given), then closes it. A null title
    // leaves the button with its default text.
    void showConfirmationDialogWithTitle(const QString& title, const QString& description,
                                         const QString& firstButtonTitle, const QString& secondButtonTitle,
                                         ButtonAction actionForFirstButton, ButtonAction actionForSecondButton,
                                         bool isDefaultFirstButton);

    // `whenDropped` runs when the action is dropped unrun by clearAllDialog or clearDialogQueue, after the
    // queue is free again: what waited for the user's answer can act as if refused and say so.
    void addBlockActionQueue(BlockAction action, ButtonAction whenDropped = {});
    // Runs the next action when none is showing.
    void doBlockActionQueue();
    // The end of the sheet the queue opened last; ends of other windows change nothing.
    void didEndSheet(QDialog* sheet);
    // Drops every waiting action, then closes the showing sheet without running its buttons' actions; the
    // dropped actions' `whenDropped` run last.
    void clearAllDialog();
    // Drops every waiting action and frees the queue, leaving a showing sheet up; then runs the dropped
    // actions' `whenDropped`.
    void clearDialogQueue();

    // A fresh sheet window holding `view`, with the dialog flag set: what an action returns.
    QDialog* sheetWindowWithView(QWidget* view);
    // A sheet's closing road: the dialog flag cleared, then the sheet holding `view` ended.
    void closeSheetOf(QWidget* view);

    AppDelegate& appDelegate() const { return appDelegate_; }
    bool isDoingBlockAction() const { return isDoingBlockAction_; }
    std::size_t waitingActionCount() const { return blockActionQueue_.size(); }
    QDialog* showingSheet() const { return showingSheet_; }
    UpdateInformationView* informationView() const { return informationView_; }
    ConfirmationView* confirmationView() const { return confirmationView_; }

private:
    AppDelegate& appDelegate_;
    struct Waiting {
        BlockAction action;
        ButtonAction whenDropped;
    };
    void runDropped(std::deque<Waiting>& dropped);

    std::deque<Waiting> blockActionQueue_;
    bool isDoingBlockAction_ = false;
    QDialog* showingSheet_ = nullptr;  // cleared at its end, also when it is deleted
    QPointer<UpdateInformationView> informationView_;
    QPointer<ConfirmationView> confirmationView_;
};
