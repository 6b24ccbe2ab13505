#include "app/effect/QueueEffectDialogs.h"

#include <QPointer>

#include "app/dialogs/ShowingDialogQueue.h"
#include "app/effect/EffectPropertyViewController.h"
#include "app/views/InterfaceTexts.h"
#include "platform/bundle/StringFormat.h"

void QueueEffectDialogs::showInformation(const std::string& key)
{
    queue_.showDialogWithInformation(InterfaceTexts::localizedString(key));
}

void QueueEffectDialogs::showConfirmation(const std::string& titleKey, const std::optional<std::string>& argument,
                                          const std::optional<Description>& description,
                                          const std::string& firstButtonKey, const std::string& secondButtonKey,
                                          Action first, Action second, bool isDefaultFirstButton)
{
    QString title = InterfaceTexts::localizedString(titleKey);
    if (argument)
        title = QString::fromStdString(platform::StringFormat::format(title.toStdString(), {*argument}));
    QString text;
    if (description)
        text = QString::fromStdString(platform::StringFormat::format(
            InterfaceTexts::localizedString(description->key).toStdString(), {description->count}));
    queue_.showConfirmationDialogWithTitle(title, text, InterfaceTexts::localizedString(firstButtonKey),
                                           InterfaceTexts::localizedString(secondButtonKey), std::move(first),
                                           std::move(second), isDefaultFirstButton);
}

void QueueEffectDialogs::showEffectProperty(const std::shared_ptr<EffectItem>& item, bool isUsedTimesKnown)
{
    // Through the queue like every sheet, so that a message arriving meanwhile waits its turn.
    queue_.addBlockActionQueue([this, item, isUsedTimesKnown]() -> QDialog* {
        auto* view = new EffectPropertyViewController(item, isUsedTimesKnown);
        QPointer<EffectPropertyViewController> guarded(view);
        view->setDismissActionBlock([this, guarded] {
            if (guarded) queue_.closeSheetOf(guarded);
        });
        return queue_.sheetWindowWithView(view);
    });
}
