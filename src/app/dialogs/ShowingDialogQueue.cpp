#include "app/dialogs/ShowingDialogQueue.h"

#include <QDialog>

#include "app/dialogs/ConfirmationView.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/DialogWindow.h"

ShowingDialogQueue::ShowingDialogQueue(AppDelegate& appDelegate) : appDelegate_(appDelegate) {}

ShowingDialogQueue& ShowingDialogQueue::getInstance()
{
    static auto* instance = new ShowingDialogQueue(AppDelegate::getInstance());
    return *instance;
}

void ShowingDialogQueue::showDialogWithInformation(const QString& information, ButtonAction completionBlock)
{
    addBlockActionQueue([this, information, completionBlock = std::move(completionBlock)]() -> QDialog* {
        auto* view = new UpdateInformationView(information);
        informationView_ = view;
        view->setActionForOkButton([this, completionBlock] {
            if (completionBlock) completionBlock();
            if (informationView_) closeSheetOf(informationView_);
        });
        return sheetWindowWithView(view);
    });
}

void ShowingDialogQueue::showConfirmationDialogWithTitle(const QString& title, const QString& description,
                                                         const QString& firstButtonTitle,
                                                         const QString& secondButtonTitle,
                                                         ButtonAction actionForFirstButton,
                                                         ButtonAction actionForSecondButton,
                                                         bool isDefaultFirstButton)
{
    addBlockActionQueue([=, this]() -> QDialog* {
        auto* view = new ConfirmationView;
        confirmationView_ = view;
        view->setTitleText(title);
        view->setDescriptionText(description);
        if (!firstButtonTitle.isNull()) view->setFirstButtonTitleText(firstButtonTitle);
        if (!secondButtonTitle.isNull()) view->setSecondButtonTitleText(secondButtonTitle);
        const auto closing = [this](const ButtonAction& action) {
            return [this, action] {
                if (action) action();
                if (confirmationView_) closeSheetOf(confirmationView_);
            };
        };
        view->setActionForFirstButton(closing(actionForFirstButton));
        view->setActionForSecondButton(closing(actionForSecondButton));
        view->setIsDefaultSecondButton(!isDefaultFirstButton);
        return sheetWindowWithView(view);
    });
}

void ShowingDialogQueue::addBlockActionQueue(BlockAction action, ButtonAction whenDropped)
{
    blockActionQueue_.push_back({std::move(action), std::move(whenDropped)});
    doBlockActionQueue();
}

void ShowingDialogQueue::doBlockActionQueue()
{
    while (!blockActionQueue_.empty() && !isDoingBlockAction_) {
        BlockAction action = std::move(blockActionQueue_.front().action);
        blockActionQueue_.pop_front();
        isDoingBlockAction_ = true;
        QDialog* sheet = action ? action() : nullptr;
        if (sheet == nullptr) {
            // Nothing to wait for: the next action may run.
            isDoingBlockAction_ = false;
            continue;
        }
        showingSheet_ = sheet;
        connect(sheet, &QDialog::finished, this, [this, sheet] { didEndSheet(sheet); });
        // A sheet deleted without ending frees the queue too; the next one opens on a later turn of
        // the event loop, once the deleted window is gone for good.
        connect(sheet, &QObject::destroyed, this, [this, sheet] {
            if (sheet != showingSheet_) return;
            showingSheet_ = nullptr;
            isDoingBlockAction_ = false;
            QMetaObject::invokeMethod(this, &ShowingDialogQueue::doBlockActionQueue, Qt::QueuedConnection);
        });
        sheet->open();
    }
}

void ShowingDialogQueue::didEndSheet(QDialog* sheet)
{
    if (sheet == nullptr || sheet != showingSheet_) return;
    disconnect(sheet, nullptr, this, nullptr);
    showingSheet_ = nullptr;
    isDoingBlockAction_ = false;
    doBlockActionQueue();
}

void ShowingDialogQueue::clearAllDialog()
{
    std::deque<Waiting> dropped;
    dropped.swap(blockActionQueue_);
    // The queue is free before the sheet ends: what its end and the dropped actions put in front of the
    // user next (a word about what was not done) opens as usual.
    QDialog* showing = showingSheet_;
    if (showing) disconnect(showing, nullptr, this, nullptr);
    showingSheet_ = nullptr;
    appDelegate_.setIsShowingDialog(false);
    isDoingBlockAction_ = false;
    if (showing) showing->done(0);
    runDropped(dropped);
}

void ShowingDialogQueue::clearDialogQueue()
{
    std::deque<Waiting> dropped;
    dropped.swap(blockActionQueue_);
    isDoingBlockAction_ = false;
    runDropped(dropped);
}

void ShowingDialogQueue::runDropped(std::deque<Waiting>& dropped)
{
    for (Waiting& waiting : dropped)
        if (waiting.whenDropped) waiting.whenDropped();
}

QDialog* ShowingDialogQueue::sheetWindowWithView(QWidget* view)
{
    DialogWindow* window = appDelegate_.getDialogWindow();
    window->setContentView(view);
    appDelegate_.setIsShowingDialog(true);
    return window;
}

void ShowingDialogQueue::closeSheetOf(QWidget* view)
{
    appDelegate_.setIsShowingDialog(false);
    if (auto* sheet = qobject_cast<QDialog*>(view->window())) sheet->done(0);
}
