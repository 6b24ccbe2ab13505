#include "app/effect/QueueEffectDialogs.h"

#include "app/dialogs/ShowingDialogQueue.h"
#include "app/views/InterfaceTexts.h"
#include "platform/bundle/StringFormat.h"

void QueueEffectDialogs::showInformation(const std::string& key)
{
    queue_.showDialogWithInformation(InterfaceTexts::localizedString(key));
}

void QueueEffectDialogs::showConfirmation(const std::string& titleKey, const std::optional<std::string>& argument,
                                          const std::string& firstButtonKey, const std::string& secondButtonKey,
                                          Action first, Action second, bool isDefaultFirstButton)
{
    QString title = InterfaceTexts::localizedString(titleKey);
    if (argument)
        title = QString::fromStdString(platform::StringFormat::format(title.toStdString(), {*argument}));
    queue_.showConfirmationDialogWithTitle(title, QString(), InterfaceTexts::localizedString(firstButtonKey),
                                           InterfaceTexts::localizedString(secondButtonKey), std::move(first),
                                           std::move(second), isDefaultFirstButton);
}
