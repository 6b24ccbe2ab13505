#include "app/views/InterfaceTexts.h"

#include "platform/bundle/Bundle.h"
#include "platform/bundle/Localizer.h"

QString InterfaceTexts::localizedString(const std::string& key)
{
    static const platform::Localizer localizer = platform::Localizer::load(platform::Bundle::main());
    return QString::fromStdString(localizer.text(key));
}
