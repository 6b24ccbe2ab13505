#include "app/views/ApplicationVersionView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/views/InterfaceTexts.h"
#include "platform/bundle/StringFormat.h"

ApplicationVersionView::ApplicationVersionView(std::optional<std::string> version, QWidget* parent)
    : QWidget(parent), appVersionTextField_(new QLabel(versionText(version), this))
{
    appVersionTextField_->setAlignment(Qt::AlignCenter);
    appVersionTextField_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 30, 40, 30);
    layout->addWidget(appVersionTextField_);
}

QString ApplicationVersionView::versionText(const std::optional<std::string>& version)
{
    if (!version) return {};
    return QString::fromStdString(platform::StringFormat::format(InterfaceTexts::localizedString("Main_SystemVersion").toStdString(), {*version}));
}
