#include <QApplication>
#include <QMessageBox>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/ProgramEnvironment.h"
#include "app/QtMainExecutor.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/effect/CommonUtilsEffectCoordinator.h"
#include "app/effect/EffectManagerViewController.h"
#include "app/effect/EffectUpdateView.h"
#include "app/effect/QueueEffectDialogs.h"
#include "app/main/CommonUtilsMainCoordinator.h"
#include "app/main/DesktopHelpOpener.h"
#include "app/main/OptionMenuState.h"
#include "app/main/QFXMainController.h"
#include "app/patch/CommonUtilsPatchCoordinator.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/QueuePatchDialogs.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "app/shell/GraphicalSession.h"
#include "app/shell/MainWindowController.h"
#include "app/shell/RunningInstance.h"
#include "app/shell/StartRefusal.h"
#include "app/shell/TerminationSignals.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/WindowIcon.h"
#include "device/sequencer/CQFXMidiCommandLayer.h"
#include "device/sequencer/ParserDataController.h"
#include "device/transport/CMidiDevice.h"
#include "library/CommonUtils.h"
#include "library/undo/UndoController.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/Configuration.h"
#include "platform/bundle/Localizer.h"
#include "platform/bundle/StringFormat.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/TimerService.h"
#include "platform/files/DataFolderClaim.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/MidiSystem.h"
#include "platform/url/NetworkThread.h"
#include "platform/power/LogindPowerEvents.h"

namespace {

std::string textOf(const std::string& key) { return InterfaceTexts::localizedString(key).toStdString(); }

// Says why the program cannot start, on the terminal and in a window, before anything else shows: the
// message `key` about the data folder `path`, with `detail` where it has a second blank. The terminal
// gets the path whole, the window in lines it can show.
void refuseStart(const char* program, const char* key, const std::string& path, const std::string& detail = {})
{
    const auto text = [&](const std::string& shownPath) {
        return platform::StringFormat::format(textOf(key), {shownPath, detail});
    };
    std::fprintf(stderr, "%s: %s\n", program, text(path).c_str());
    StartRefusal::box(text(StartRefusal::pathInLines(path)))->exec();
}

}  // namespace

int runProgram(int argc, char** argv, const ProgramEnvironment& environment)
{
    const char* slash = argc > 0 ? std::strrchr(argv[0], '/') : nullptr;
    const char* program = argc == 0 ? "pexo-rigmora" : slash != nullptr ? slash + 1 : argv[0];
    if (const std::string missing = GraphicalSession::whatIsMissing(argc, argv); !missing.empty()) {
        std::fprintf(stderr, "%s: %s\n", program, missing.c_str());
        return 1;
    }
    GraphicalSession::guardStartup(program, environment.cannotOpenWindows);
    QApplication application(argc, argv);
    GraphicalSession::endStartupGuard();
    QApplication::setApplicationName(QStringLiteral("PEXO Rigmora"));
    QApplication::setApplicationVersion(QStringLiteral(RIG_VERSION));
    // The desktop entry's name, so a desktop matches the window to the entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("pexo-rigmora"));

    QtMainExecutor mainExecutor(&application);
    platform::Dispatch dispatch(mainExecutor);
    platform::Dispatch::setShared(&dispatch);
    platform::TimerService timers(mainExecutor);
    platform::LocalFileManager localFiles;
    platform::FileManager& files = environment.files ? *environment.files : localFiles;
    const platform::Bundle bundle = platform::Bundle::main();
    QApplication::setWindowIcon(WindowIcon::fromFile(QString::fromStdString(bundle.resourcesDirectory() + "/pexo-rigmora.png")));
    const platform::Configuration& configuration = environment.configuration;
    const std::string& root = environment.rootFolder;
    // The data folder takes writing and is this copy's alone before anything reads or writes it: a
    // second copy would write the same library, and a folder that cannot be written would show up
    // later as some other failure.
    const platform::DataFolderClaim claim(root);
    switch (claim.refusal()) {
    case platform::DataFolderClaim::Refusal::None:
        break;
    case platform::DataFolderClaim::Refusal::TakenByAnother:
        RunningInstance::knock(root);
        refuseStart(program, "Main_AlreadyRunning", root);
        return 1;
    case platform::DataFolderClaim::Refusal::PathTooLong:
        refuseStart(program, "Main_DataFolderPathTooLong", root, std::to_string(platform::DataFolderClaim::kLongestFolder));
        return 1;
    case platform::DataFolderClaim::Refusal::NotWritable:
        refuseStart(program, "Main_DataFolderNotWritable", root, claim.why());
        return 1;
    case platform::DataFolderClaim::Refusal::CannotLock:
        refuseStart(program, "Main_DataFolderNotLockable", root, claim.why());
        return 1;
    }
    const RunningInstance runningInstance(root, [] {
        QWidget* window = AppDelegate::getInstance().getMainWindow();
        if (window == nullptr) return;
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    });

    // The device side: the environment's MIDI backend, the transport, the sequencer and the coordinator.
    const std::shared_ptr<platform::MidiSystem> midi = environment.midiSystem(dispatch);
    platform::MidiSystem::setShared(midi.get());
    CMidiDevice transport(*midi, dispatch, files, root);
    ParserDataController parser(dispatch, timers, files, CQFXMidiCommandLayer::factory(transport));
    ParserDataController::setShared(&parser);
    // Sleep and wake from the login manager; without a system bus the program runs on without them.
    platform::LogindPowerEvents power(dispatch);
    CommonUtils commonUtils({dispatch, timers, files, configuration, parser, root});
    CommonUtils::setShared(&commonUtils);
    commonUtils.setSaveFailureWords(&AppLifecycle::saveFailureReason);
    commonUtils.setReadFailureWords(&AppLifecycle::readFailureReason);
    commonUtils.setPowerEvents(&power);
    // A signal's end: the sheets still waiting are dropped and the end lets the unit go.
    static std::atomic<bool> endedBySignal{false};
    const auto terminate = [] {
        endedBySignal = true;
        ShowingDialogQueue::getInstance().clearAllDialog();
        AppLifecycle::terminate();
    };
    // Quit and the window's close go through the coordinator, which lets a running device action finish
    // and ejects the unit before it asks for the same end.
    CommonUtilsMainCoordinator coordinator(
        commonUtils, {[] { ShowingDialogQueue::getInstance().clearAllDialog(); }, [] { AppLifecycle::terminate(); }});
    DesktopHelpOpener opener;
    CommonUtilsEffectCoordinator effectCoordinator(commonUtils);
    QueueEffectDialogs effectDialogs(ShowingDialogQueue::getInstance());
    CommonUtilsPatchCoordinator patchCoordinator(commonUtils);
    QueuePatchDialogs patchDialogs(ShowingDialogQueue::getInstance());
    const std::string language = platform::Localizer::languageFromEnvironment();

    const std::shared_ptr<platform::SerialQueue> optionWrites = dispatch.makeSerial("options", platform::Priority::Low);
    AppLifecycle lifecycle(AppDelegate::getInstance(), dispatch, RIG_VERSION);
    lifecycle.setCommonUtils(&coordinator);
    // A pool that could not be saved at the end is said before the program goes; an end asked by the
    // system (logout, shutdown) waits for nobody and says it on standard error.
    lifecycle.setSaveFailureNotice([](const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        if (endedBySignal) return;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("PEXO Rigmora"),
                        QString::fromStdString(text), QMessageBox::Ok);
        box.exec();
    });
    // The two screens are made while the splash shows, a turn each (at its end at the latest, before the
    // factory): they only build their widgets and wait for the main controller, which starts the work.
    std::unique_ptr<EffectManagerViewController> effectScreen;
    std::unique_ptr<PatchManagerViewController> patchScreen;
    const auto makeEffectScreen = [&] {
        effectScreen = std::make_unique<EffectManagerViewController>(EffectManagerViewController::Collaborators{
            AppDelegate::getInstance(), effectCoordinator, effectDialogs});
    };
    const auto makePatchScreen = [&] {
        patchScreen = std::make_unique<PatchManagerViewController>(PatchManagerViewController::Collaborators{
            AppDelegate::getInstance(), patchCoordinator, UndoController::getInstance(),
            platform::NotificationCenter::defaultCenter(), patchDialogs,
            QueuePatchDialogs::textRuleContext(ShowingDialogQueue::getInstance(), language),
            configuration.integer(platform::Configuration::kTime_Of_Reload_Buffer_Data)});
    };
    lifecycle.addPreparation(makeEffectScreen);
    lifecycle.addPreparation(makePatchScreen);
    // The patch screen shows later than the effect screen; its fonts are loaded ahead so its first
    // showing draws rather than loads them.
    lifecycle.addPreparation(&PatchManagerViewController::loadFontsAhead);
    lifecycle.setMainControllerFactory([&]() -> std::unique_ptr<MainWindowController> {
        return std::make_unique<QFXMainController>(QFXMainController::Collaborators{
            AppDelegate::getInstance(), coordinator, ShowingDialogQueue::getInstance(), opener,
            std::move(effectScreen), std::move(patchScreen), OptionMenuState::defaultPath(), RIG_VERSION,
            bundle.resourcesDirectory(), language,
            configuration.string(platform::Configuration::kServerVersionUpdateHistory_EN),
            configuration.string(platform::Configuration::kServerVersionUpdateHistory_JP),
            []() -> EffectUpdateSheet* { return new EffectUpdateView; },
            [optionWrites](std::function<void()> write) { optionWrites->async(std::move(write)); }});
    });
    QObject::connect(&application, &QApplication::aboutToQuit, &lifecycle, &AppLifecycle::applicationWillTerminate);
    // Sleep and power-off (announced on the main queue) save the pool as the end does, the window going on:
    // the machine may not wake again, and sleeps once the save is written.
    commonUtils.setPatchPoolSaver([&lifecycle] {
        if (MainWindowController* controller = lifecycle.mainController()) controller->saveDataLater();
    });
    // Logging out, shutting down or closing the terminal ends the program through its termination routine.
    // The unit's queued writes (the name being typed among them) go before it is let go, for a few
    // seconds at most; the quit is noted before that wait.
    const TerminationSignals terminationSignals([&lifecycle, terminate] {
        endedBySignal = true;
        lifecycle.endBySignal(terminate);
    });
    lifecycle.applicationDidFinishLaunching();
    if (environment.launched) environment.launched();
    const int status = QApplication::exec();
    // The coordinator tells nobody once the window has gone.
    commonUtils.setDelegate(nullptr);
    commonUtils.setPatchPoolSaver(nullptr);
    // Downloads still in flight would report into the queues that end with this function: the network
    // stops here, and what the pools still run finishes while the queues stand.
    platform::NetworkThread::shared().halt();
    dispatch.waitUntilIdle();
    CommonUtils::setShared(nullptr);
    ParserDataController::setShared(nullptr);
    platform::MidiSystem::setShared(nullptr);
    platform::Dispatch::setShared(nullptr);
    return status;
}
