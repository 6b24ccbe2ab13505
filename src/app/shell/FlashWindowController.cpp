#include "app/shell/FlashWindowController.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "app/views/NamedImages.h"
#include "app/views/InterfaceTexts.h"
#include "platform/bundle/StringFormat.h"

FlashWindowController::FlashWindowController(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      flashView_(new QLabel(this)),
      versionText_(new QLabel(this))
{
    const QPixmap picture = QPixmap::fromImage(NamedImages::image(QStringLiteral("splash")));
    flashView_->setPixmap(picture);
    flashView_->setFixedSize(picture.size());
    versionText_->setFixedHeight(kVersionLineHeight);
    versionText_->setAlignment(Qt::AlignCenter);
    versionText_->setStyleSheet(QStringLiteral("color: #a0aab4; background: #0c0e12;"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(flashView_);
    layout->addWidget(versionText_);
}

void FlashWindowController::setVersion(const std::string& version)
{
    versionText_->setText(QString::fromStdString(platform::StringFormat::format(InterfaceTexts::localizedString("Main_SystemVersion").toStdString(), {version})));
}

QRect FlashWindowController::splashFrame(const QRect& screen, const QSize& flashSize)
{
    const int height = flashSize.height() + kVersionLineHeight;
    const int x = (screen.width() - flashSize.width()) / 2;
    // Measured from the screen's bottom edge, as the placement was first worked out.
    const int fromBottom = (screen.height() - flashSize.height() + kVersionLineHeight) / 2;
    return {screen.x() + x, screen.y() + screen.height() - fromBottom - height, flashSize.width(), height};
}
