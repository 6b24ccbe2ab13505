#include "app/main/QueueMainDialogs.h"

#include "app/dialogs/DuplicatingFileNameAlert.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/screens/EffectUpdateSheet.h"
#include "app/views/InterfaceTexts.h"
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
    std::vector<EffectUpdateSheet::UpdatedEffect> entries;
    entries.reserve(updatedEffectItems.size());
    for (const auto& entry : updatedEffectItems) entries.push_back({entry.effectItem, entry.oldVersion});
    dialogQueue_.addBlockActionQueue([this, entries = std::move(entries)]() mutable -> QDialog* {
        if (!updatedEffectViewContent_) {
            updatedEffectView_ = makeEffectUpdateSheet_ ? makeEffectUpdateSheet_() : nullptr;
            updatedEffectViewContent_ = updatedEffectView_ ? updatedEffectView_->view() : nullptr;
        }
        if (!updatedEffectViewContent_) return nullptr;
        updatedEffectView_->setUpdatedEffectItems(std::move(entries));
        updatedEffectView_->setDismissActionBlock([this] {
            if (updatedEffectViewContent_) dialogQueue_.closeSheetOf(updatedEffectViewContent_);
        });
        return dialogQueue_.sheetWindowWithView(updatedEffectViewContent_);
    });
}

void QueueMainDialogs::showDuplicatingFileNameAlert(const std::string& fileName, Action keepBoth, Action replace,
                                                    Action unanswered)
{
    auto* alert = new DuplicatingFileNameAlert(QString::fromStdString(fileName));
    alert->showAlertInWindow(window_, dialogQueue_, std::move(keepBoth), std::move(replace), {}, std::move(unanswered));
}
