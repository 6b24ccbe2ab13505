#include "app/main/QueueMainDialogs.h"

#include "app/dialogs/DuplicatingFileNameAlert.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/EffectItem.h"
#include "platform/bundle/StringFormat.h"

QString QueueMainDialogs::textOf(const std::string& key, const std::optional<std::string>& argument)
{
    const QString text = InterfaceTexts::localizedString(key);
    if (!argument) return text;
    return QString::fromStdString(platform::StringFormat::format(text.toStdString(), {*argument}));
}

void QueueMainDialogs::showInformation(const std::string& key, const std::optional<std::string>& argument,
                                       Action completion)
{
    dialogQueue_.showDialogWithInformation(textOf(key, argument), std::move(completion));
}

void QueueMainDialogs::clearAllDialog() { dialogQueue_.clearAllDialog(); }

void QueueMainDialogs::showEffectUpdateSheet(const std::vector<UpdatedEffect>& updatedEffectItems)
{
    QString text = textOf("Main_EffectUpdate");
    text.replace(QStringLiteral("%ld"), QString::number(updatedEffectItems.size()));
    for (const auto& entry : updatedEffectItems) {
        if (!entry.effectItem) continue;
        text += QStringLiteral("\n%1: %2 \u2192 %3")
                    .arg(QString::fromStdString(entry.effectItem->effectName), QString::fromStdString(entry.oldVersion),
                         QString::fromStdString(entry.effectItem->effectVersion));
    }
    dialogQueue_.addBlockActionQueue([this, text]() -> QDialog* {
        auto* view = new UpdateInformationView(text);
        QPointer<UpdateInformationView> guarded(view);
        view->setActionForOkButton([this, guarded] {
            if (guarded) dialogQueue_.closeSheetOf(guarded);
        });
        return dialogQueue_.sheetWindowWithView(view);
    });
}

void QueueMainDialogs::showDuplicatingFileNameAlert(const std::string& fileName, Action keepBoth, Action replace)
{
    auto* alert = new DuplicatingFileNameAlert(QString::fromStdString(fileName));
    alert->showAlertInWindow(window_, dialogQueue_, std::move(keepBoth), std::move(replace), {});
}
