#include "app/dialogs/DuplicatingFileNameAlert.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QPointer>
#include <QPushButton>

#include "app/dialogs/ShowingDialogQueue.h"
#include "app/shell/AppDelegate.h"
#include "platform/bundle/StringFormat.h"

DuplicatingFileNameAlert::DuplicatingFileNameAlert(const QString& fileName)
{
    setTextFormat(Qt::PlainText);
    setText(QString::fromStdString(
        platform::StringFormat::format("An item named %@ already exists.", {fileName.toStdString()})));
    answers_ = {addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole),
                addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole),
                addButton(QStringLiteral("Keep Both"), QMessageBox::AcceptRole)};
    // Return answers Cancel, as Escape does: a key pressed without reading replaces or copies nothing.
    setEscapeButton(answers_.front());
    setDefaultButton(static_cast<QPushButton*>(answers_.front()));
    setInformativeText(QStringLiteral("Do you want to replace it with the one you are moving?"));
    setIcon(QMessageBox::Critical);
}

void DuplicatingFileNameAlert::closeEvent(QCloseEvent* event)
{
    event->ignore();
    // Once answered (or ended by the queue) it is going: nothing more to answer.
    if (!isVisible()) return;
    if (QAbstractButton* cancel = escapeButton()) cancel->click();
}

int DuplicatingFileNameAlert::returnCodeOf(QAbstractButton* button) const
{
    const qsizetype index = answers_.indexOf(button);
    return index < 0 ? kCancelReturn : kCancelReturn + static_cast<int>(index);
}

QAbstractButton* DuplicatingFileNameAlert::buttonWithReturnCode(int returnCode) const
{
    const int index = returnCode - kCancelReturn;
    return index >= 0 && index < answers_.size() ? answers_.at(index) : nullptr;
}

void DuplicatingFileNameAlert::showAlertInWindow(QWidget* window, ShowingDialogQueue& dialogQueue,
                                                 Action keepBothAction, Action replaceAction, Action cancelAction,
                                                 Action unansweredAction)
{
    setWindowModality(Qt::WindowModal);
    // Like every sheet it offers no close button: its answers end it. Set after the modality, which gives
    // a message box its close button back.
    setParent(window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    AppDelegate* appDelegate = &dialogQueue.appDelegate();
    connect(this, &QMessageBox::buttonClicked, this, [=, this](QAbstractButton* button) {
        answered_ = true;
        const int answer = returnCodeOf(button);
        const Action& chosen =
            answer == kKeepBothReturn ? keepBothAction : (answer == kReplaceReturn ? replaceAction : cancelAction);
        if (chosen) chosen();
        appDelegate->setIsShowingDialog(false);
    });
    // Ended without an answer: the queue let it go (its flag is the queue's to clear then).
    const auto unanswered = [cancelAction, unansweredAction] {
        if (cancelAction) cancelAction();
        if (unansweredAction) unansweredAction();
    };
    connect(this, &QDialog::finished, this, [this, unanswered] {
        if (!answered_) {
            answered_ = true;
            unanswered();
        }
        deleteLater();
    });
    QPointer<DuplicatingFileNameAlert> self(this);
    dialogQueue.addBlockActionQueue(
        [self, appDelegate]() -> QDialog* {
            if (!self) return nullptr;  // its window went while it waited
            appDelegate->setIsShowingDialog(true);
            return self;
        },
        [self, unanswered] {
            if (!self || self->answered_) return;
            self->answered_ = true;
            self->deleteLater();
            unanswered();
        });
}
