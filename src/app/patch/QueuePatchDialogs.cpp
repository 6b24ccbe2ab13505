#include "app/patch/QueuePatchDialogs.h"

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QPointer>

#include "app/controls/RuleText.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"
#include "platform/bundle/StringFormat.h"

void QueuePatchDialogs::showInformation(const std::string& key, const std::optional<std::string>& argument,
                                        const std::optional<std::string>& reasonKey)
{
    QString text = InterfaceTexts::localizedString(key);
    if (argument) text = QString::fromStdString(platform::StringFormat::format(text.toStdString(), {*argument}));
    if (reasonKey) text += QLatin1Char(' ') + InterfaceTexts::localizedString(*reasonKey);
    dialogQueue_.showDialogWithInformation(text);
}

void QueuePatchDialogs::showText(const std::string& text)
{
    dialogQueue_.showDialogWithInformation(QString::fromStdString(text));
}

void QueuePatchDialogs::addSheetAction(std::function<QWidget*()> opening)
{
    ShowingDialogQueue* queue = &dialogQueue_;
    dialogQueue_.addBlockActionQueue([queue, opening = std::move(opening)]() -> QDialog* {
        QWidget* view = opening ? opening() : nullptr;
        return view ? queue->sheetWindowWithView(view) : nullptr;
    });
}

void QueuePatchDialogs::endSheet(QWidget* view, int returnCode)
{
    dialogQueue_.appDelegate().setIsShowingDialog(false);
    if (!view) return;
    if (auto* sheet = qobject_cast<QDialog*>(view->window())) sheet->done(returnCode);
}

TextRuleContext QueuePatchDialogs::textRuleContext(ShowingDialogQueue& dialogQueue, const std::string& language)
{
    TextRuleContext context;
    context.language = language;
    context.pasteboardString = []() -> std::optional<std::string> {
        const QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard) return std::nullopt;
        const QString text = clipboard->text();
        if (text.isNull()) return std::nullopt;
        // Half a character on the clipboard reaches the rules as such, never as Qt's "?".
        return RuleText::of(text);
    };
    QPointer<ShowingDialogQueue> queue(&dialogQueue);
    context.showDialogWithInformation = [queue](const std::string& text) {
        if (queue) queue->showDialogWithInformation(QString::fromStdString(text));
    };
    context.localizedString = [](const std::string& key) { return InterfaceTexts::localizedString(key).toStdString(); };
    return context;
}
