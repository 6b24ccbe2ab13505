#include "app/shell/AppLifecycle.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "app/shell/AppDelegate.h"
#include "app/shell/CommonUtilsServices.h"
#include "app/shell/UncaughtExceptionHook.h"
#include "platform/dispatch/Dispatch.h"

AppLifecycle::AppLifecycle(AppDelegate& appDelegate, platform::Dispatch& dispatch, std::string version,
                           std::chrono::milliseconds splashTime)
    : appDelegate_(appDelegate), dispatch_(dispatch), version_(std::move(version))
{
    launchMainAppTimer_.setSingleShot(true);
    launchMainAppTimer_.setInterval(splashTime);
    connect(&launchMainAppTimer_, &QTimer::timeout, this, &AppLifecycle::launchMainApp);
}

AppLifecycle::~AppLifecycle()
{
    if (appDelegate_.mainController() == mainController_.get()) appDelegate_.setMainController(nullptr);
    UncaughtExceptionHook::setCommonUtils(nullptr);
    // The controller's view belongs to the window; the controller goes after it.
    window_.reset();
    mainController_.reset();
}

void AppLifecycle::setCommonUtils(CommonUtilsServices* commonUtils)
{
    commonUtils_ = commonUtils;
    UncaughtExceptionHook::setCommonUtils(commonUtils);
}

void AppLifecycle::applicationDidFinishLaunching()
{
    flashWindowController_ = std::make_unique<FlashWindowController>();
    appDelegate_.setMainWindow(flashWindowController_.get());
    flashWindowController_->setVersion(version_);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        flashWindowController_->setGeometry(
            FlashWindowController::splashFrame(screen->geometry(), flashWindowController_->flashView()->size()));
    }
    flashWindowController_->show();
    flashWindowController_->raise();
    flashWindowController_->activateWindow();
    launchMainAppTimer_.start();
    UncaughtExceptionHook::install();
}

void AppLifecycle::launchMainApp()
{
    if (flashWindowController_) flashWindowController_->hide();
    window_ = std::make_unique<MainWindow>();
    if (factory_) mainController_ = factory_();
    appDelegate_.setMainController(mainController_.get());
    if (QWidget* content = mainController_ ? mainController_->view() : nullptr) window_->setContentView(content);
    appDelegate_.setMainWindow(window_.get());
    window_->placeOnScreen();
    window_->show();
    window_->raise();
    window_->activateWindow();
    flashWindowController_.reset();
}

void AppLifecycle::applicationWillTerminate()
{
    launchMainAppTimer_.stop();
    MainWindowController* controller = mainController_.get();
    if (controller == nullptr) return;
    if (QWidget* indicator = controller->viewForIndicator()) {
        indicator->show();
        indicator->raise();
        indicator->repaint();
    }
    dispatch_.global(platform::Priority::High).sync([this, controller] {
        if (appDelegate_.isDeviceConnected()) {
            if (commonUtils_) commonUtils_->forceEjectDevice();
            appDelegate_.setDeviceConnected(false);
        }
        controller->saveDataBeforeClosing();
    });
}

void AppLifecycle::terminate()
{
    // A sheet's end may open the next one; each round ends what the last one opened.
    for (int round = 0; round < 8; ++round) {
        bool ended = false;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(window);
            if (dialog == nullptr || !dialog->isVisible()) continue;
            dialog->done(QDialog::Rejected);
            ended = true;
        }
        if (!ended) break;
    }
    QCoreApplication::exit(0);
}
