#include "app/shell/AppLifecycle.h"

#include <QApplication>
#include <QBackingStore>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>

#include "app/shell/AppDelegate.h"
#include "app/shell/CommonUtilsServices.h"
#include "app/shell/UncaughtExceptionHook.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/NamedImages.h"
#include "library/CommonUtils.h"
#include "platform/bundle/StringFormat.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/error/Error.h"

AppLifecycle::AppLifecycle(AppDelegate& appDelegate, platform::Dispatch& dispatch, std::string version,
                           std::chrono::milliseconds splashTime)
    : appDelegate_(appDelegate), dispatch_(dispatch), version_(std::move(version))
{
    launchMainAppTimer_.setSingleShot(true);
    launchMainAppTimer_.setInterval(splashTime);
    connect(&launchMainAppTimer_, &QTimer::timeout, this, &AppLifecycle::launchMainApp);
    signalGraceTimer_.setSingleShot(true);
    connect(&signalGraceTimer_, &QTimer::timeout, this, [this] {
        if (signalEnd_) signalEnd_();
    });
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
    // Once the splash shows, the main window's drawing surface and pictures are made while it stays.
    flashWindowController_->installEventFilter(this);
    flashWindowController_->show();
    flashWindowController_->raise();
    flashWindowController_->activateWindow();
    launchMainAppTimer_.start();
    UncaughtExceptionHook::install();
}

void AppLifecycle::launchMainApp()
{
    picturesDrawnAhead_ = NamedImages::names().size();
    runPreparations(preparations_.size());
    if (flashWindowController_) flashWindowController_->hide();
    window_ = preparedWindow_ ? std::move(preparedWindow_) : std::make_unique<MainWindow>();
    if (factory_) mainController_ = factory_();
    appDelegate_.setMainController(mainController_.get());
    if (QWidget* content = mainController_ ? mainController_->view() : nullptr) window_->setContentView(content);
    appDelegate_.setMainWindow(window_.get());
    window_->placeOnScreen();
    // The window is made key shortly after its first picture is out: activation asks the display server
    // for a reply and repaints every list in the window, and right behind the first picture both wait
    // for the server to take in the whole window's image.
    window_->installEventFilter(this);
    window_->show();
    window_->raise();
    QTimer::singleShot(kLatestActivation, this, &AppLifecycle::activateMainWindow);
    flashWindowController_.reset();
}

void AppLifecycle::prepareMainWindow()
{
    if (window_ || preparedWindow_) return;
    // The controller's parts and the pictures one per turn of the loop from the next one on, so making the
    // window draws none of them.
    QTimer::singleShot(0, this, &AppLifecycle::prepareNextPieceAhead);
    // The window's drawing surface is made and written once now: the first paint would otherwise fault in
    // every page of its new 1500-point square image, about as long as the drawing itself.
    preparedWindow_ = std::make_unique<MainWindow>();
    preparedWindow_->placeOnScreen();
    preparedWindow_->winId();
    QBackingStore* store = preparedWindow_->backingStore();
    if (store == nullptr) return;
    const QRect all(QPoint(0, 0), preparedWindow_->size());
    store->resize(all.size());
    store->beginPaint(all);
    {
        QPainter painter(store->paintDevice());
        painter.fillRect(all, preparedWindow_->palette().window());
    }
    store->endPaint();
}

void AppLifecycle::prepareNextPieceAhead()
{
    // The controller's parts first, each a few milliseconds of widgets, then the pictures, each less.
    if (!preparations_.empty()) {
        runPreparations(1);
    } else {
        const QStringList& names = NamedImages::names();
        if (picturesDrawnAhead_ >= names.size()) return;
        NamedImages::image(names.at(picturesDrawnAhead_++));
    }
    QTimer::singleShot(0, this, &AppLifecycle::prepareNextPieceAhead);
}

void AppLifecycle::runPreparations(std::size_t count)
{
    count = std::min(count, preparations_.size());
    // Taken out before running, so a step that adds another or ends the splash finds a consistent list.
    const auto end = preparations_.begin() + static_cast<std::ptrdiff_t>(count);
    std::vector<std::function<void()>> steps(std::make_move_iterator(preparations_.begin()), std::make_move_iterator(end));
    preparations_.erase(preparations_.begin(), end);
    for (auto& step : steps) step();
}

bool AppLifecycle::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == flashWindowController_.get() && event->type() == QEvent::Paint) {
        flashWindowController_->removeEventFilter(this);
        QTimer::singleShot(0, this, &AppLifecycle::prepareMainWindow);
    }
    if (watched == window_.get() && event->type() == QEvent::Paint) {
        window_->removeEventFilter(this);
        QTimer::singleShot(kActivationAfterFirstPicture, this, &AppLifecycle::activateMainWindow);
    }
    return QObject::eventFilter(watched, event);
}

void AppLifecycle::activateMainWindow()
{
    if (!window_ || activated_) return;
    activated_ = true;
    window_->removeEventFilter(this);
    window_->activateWindow();
}

void AppLifecycle::endBySignal(std::function<void()> end)
{
    MainWindowController* controller = mainController_.get();
    // Kept before anything waits: a kill past the grace still finds the session's edits.
    if (controller != nullptr) controller->noteQuitAsked();
    // A second signal, or no device to wait for: the end is now.
    if (signalEnd_ || controller == nullptr || commonUtils_ == nullptr || !appDelegate_.isDeviceConnected()) {
        signalEnd_ = nullptr;
        signalGraceTimer_.stop();
        end();
        return;
    }
    signalEnd_ = std::move(end);
    // The typed name is the user's last gesture: its write is queued ahead of the closing eject, and the
    // pool noted again with it.
    controller->endTextEditing();
    controller->noteQuitAsked();
    // Anything made after this would queue behind the closing eject, which no write follows.
    controller->refuseUnitEdits();
    commonUtils_->closeAppWithin(kSignalGrace);
    signalGraceTimer_.start(kSignalGrace + kSignalGraceMargin);
}

void AppLifecycle::applicationWillTerminate()
{
    launchMainAppTimer_.stop();
    signalGraceTimer_.stop();
    MainWindowController* controller = mainController_.get();
    if (controller == nullptr) return;
    // Every end comes here, a signal's too: what the user was typing is theirs, and is saved with the rest.
    controller->endTextEditing();
    // Whatever route ended the run (a signal, the session's end), the quit is kept before anything waits.
    controller->noteQuitAsked();
    // The window says what the end waits for; it goes on painting while the pool is written.
    controller->showClosingSave();
    if (QWidget* indicator = controller->viewForIndicator()) {
        indicator->show();
        indicator->raise();
    }
    if (appDelegate_.isDeviceConnected()) {
        if (commonUtils_) commonUtils_->forceEjectDevice();
        appDelegate_.setDeviceConnected(false);
    }
    // Nothing the coordinator reports now is for this run's window: a report of the unit let go would
    // start another save behind this one, which the end would not wait for.
    if (commonUtils_) commonUtils_->endReports();
    std::optional<std::string> failure = controller->saveDataBeforeClosing();
    std::optional<std::string> notKept;
    // The session's edits are not lost with the program: the next start finds them.
    if (failure) notKept = commonUtils_ != nullptr ? commonUtils_->keepUnsavedPatchPool() : std::string("nothing keeps it");
    if (!failure) return;
    // The message says what became of the pool; the busy line no longer says it is being saved.
    controller->closingSaveEnded();
    const std::string text = saveFailureText(*failure, notKept);
    if (saveFailureNotice_) saveFailureNotice_(text);
    else std::fprintf(stderr, "%s\n", text.c_str());
}

std::string AppLifecycle::saveFailureText(const std::string& reason, const std::optional<std::string>& notKept)
{
    const QString format =
        InterfaceTexts::localizedString(notKept ? "Main_PatchPoolNotSavedOrKeptAtQuit" : "Main_PatchPoolNotSavedAtQuit");
    return platform::StringFormat::format(format.toStdString(), {reason, notKept.value_or("")});
}

std::string AppLifecycle::saveFailureReason(const std::vector<std::string>& entries, const std::string& folder,
                                            const platform::Error& cause)
{
    // The system's own text is in English whatever the interface says: the cause is told in the
    // program's words, its number kept for the causes it has none for.
    const char* key = "Main_SaveCauseOther";
    if (cause.domain != "files") key = "Main_SaveCauseUnstorable";
    else if (cause.code == ENOSPC || cause.code == EDQUOT) key = "Main_SaveCauseNoSpace";
    else if (cause.code == EACCES || cause.code == EPERM) key = "Main_SaveCausePermission";
    else if (cause.code == EROFS) key = "Main_SaveCauseReadOnly";
    else if (cause.code == ENAMETOOLONG) key = "Main_SaveCauseNameTooLong";
    // A folder that is not there (a share gone, a link leading nowhere) is no refusal of the system's.
    if (cause.info(CommonUtils::kUnreadInfo) == CommonUtils::kAway || (cause.domain == "files" && cause.code == ENOENT))
        key = "Main_ReadCauseAway";
    // Another drive mounted where the share was holds another library, which is the user's.
    if (cause.info(CommonUtils::kUnreadInfo) == CommonUtils::kAnotherLibrary) key = "Main_SaveCauseAnotherLibrary";
    QString why = InterfaceTexts::localizedString(key);
    if (why.contains(QStringLiteral("%1"))) why = why.arg(cause.code);
    // A part whose link the save cannot follow is the user's to change: the cause names it.
    if (const std::string part = cause.info(CommonUtils::kLinkedPartInfo); !part.empty())
        why = InterfaceTexts::localizedString("Main_SaveCauseLinkWithinLibrary").arg(QString::fromStdString(part));
    if (entries.empty())
        return InterfaceTexts::localizedString("Main_PatchFolderNotWritten").arg(QString::fromStdString(folder), why).toStdString();
    QStringList names;
    for (const auto& name : entries) names.push_back(QString::fromStdString("\"" + name + "\""));
    return InterfaceTexts::localizedString("Main_PatchEntriesNotSaved").arg(names.join(QStringLiteral(", ")), why).toStdString();
}

std::string AppLifecycle::readFailureReason(const std::string& folder, const platform::Error& cause)
{
    const std::string unread = cause.info(CommonUtils::kUnreadInfo);
    const bool making = unread == CommonUtils::kWorkingCopyNotMade;
    const char* key = "Main_SaveCauseOther";
    if (unread == CommonUtils::kAway) key = "Main_ReadCauseAway";
    else if (cause.domain != "files") key = "Main_SaveCauseUnstorable";
    else if (cause.code == EACCES || cause.code == EPERM) key = making ? "Main_SaveCausePermission" : "Main_ReadCausePermission";
    else if (cause.code == EIO) key = "Main_ReadCauseDisk";
    else if (cause.code == EMFILE || cause.code == ENFILE) key = "Main_ReadCauseTooManyFiles";
    else if (cause.code == ENOTDIR) key = "Main_ReadCauseNotAFolder";
    else if (cause.code == ENOSPC || cause.code == EDQUOT) key = "Main_SaveCauseNoSpace";
    else if (cause.code == EROFS) key = "Main_SaveCauseReadOnly";
    else if (cause.code == EBUSY) key = "Main_ReadCauseBusy";
    else if (cause.code == ENOENT) key = "Main_ReadCauseAway";
    QString why = InterfaceTexts::localizedString(key);
    if (why.contains(QStringLiteral("%1"))) why = why.arg(cause.code);
    return InterfaceTexts::localizedString(making ? "Main_PatchWorkFolderNotMade" : "Main_PatchFolderNotRead")
        .arg(QString::fromStdString(folder), why)
        .toStdString();
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
