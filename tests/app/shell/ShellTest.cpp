#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <sys/un.h>

#include <QLabel>
#include <QRegularExpression>
#include <QMessageBox>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <exception>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "app/QtMainExecutor.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "app/shell/GraphicalSession.h"
#include "app/shell/RunningInstance.h"
#include "app/shell/StartRefusal.h"
#include "app/shell/TerminationSignals.h"
#include "app/shell/UncaughtExceptionHook.h"
#include "app/views/InterfaceTexts.h"
#include "library/CommonUtils.h"
#include "platform/bundle/Localizer.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/error/Error.h"
#include "support/app/FakeShellNeighbours.h"
#include "support/app/TestApplication.h"

namespace {

using testing_app::CallLog;
using namespace std::chrono_literals;

class Shell : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    AppDelegate appDelegate;
};

TEST_F(Shell, ClearDataForgetsTheDeviceButKeepsTheDialogAndPoolFlags)
{
    QLineEdit first;
    QLineEdit second;
    appDelegate.setIsShowingDialog(true);
    appDelegate.setIsPatchPoolChanged(true);
    appDelegate.setDeviceConnected(true);
    appDelegate.setIsRestoringAll(true);
    appDelegate.setEditingTextView(true, &first);
    appDelegate.setEditingTextField(&first);
    appDelegate.setEditingTextField(&second);
    EXPECT_EQ(appDelegate.previousEditingTextField(), &first);
    EXPECT_EQ(appDelegate.getEdittingTextField(), &second);

    appDelegate.clearData();
    EXPECT_TRUE(appDelegate.isShowingDialog());
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
    EXPECT_FALSE(appDelegate.isDeviceConnected());
    EXPECT_FALSE(appDelegate.isRestoringAll());
    EXPECT_FALSE(appDelegate.isEdittingTextView());
    EXPECT_EQ(appDelegate.getEdittingTextField(), nullptr);
    EXPECT_EQ(appDelegate.previousEditingTextField(), nullptr);
    EXPECT_EQ(appDelegate.editingTextView(), nullptr);
}

TEST_F(Shell, EditedControlsTurnWhiteOnlyWhileADeviceIsConnected)
{
    QLineEdit field;
    QLineEdit previous;
    appDelegate.setEditingTextField(&previous);
    appDelegate.setEditingTextField(&field);
    const QColor original = field.palette().color(QPalette::Text);
    appDelegate.clearColorEditingTextField();
    EXPECT_EQ(field.palette().color(QPalette::Text), original);
    appDelegate.setDeviceConnected(true);
    appDelegate.clearColorEditingTextField();
    EXPECT_EQ(field.palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(previous.palette().color(QPalette::Text), QColor(Qt::white));
}

TEST_F(Shell, EverySheetGetsAFreshWindowAndTheNewestIsKept)
{
    EXPECT_EQ(appDelegate.getPreviousDialogWindow(), nullptr);
    DialogWindow* first = appDelegate.getDialogWindow();
    DialogWindow* second = appDelegate.getDialogWindow();
    EXPECT_NE(first, second);
    EXPECT_EQ(appDelegate.getPreviousDialogWindow(), second);
}

TEST_F(Shell, WindowStateIsTheControllersOrZeroWithoutOne)
{
    CallLog log;
    testing_app::FakeMainWindowController controller(log);
    EXPECT_EQ(appDelegate.getWindowState(), 0);
    appDelegate.setReloadDataFromDeviceTimer();
    appDelegate.setMainController(&controller);
    controller.state_ = 1;
    EXPECT_EQ(appDelegate.getWindowState(), 1);
    appDelegate.setReloadDataFromDeviceTimer();
    EXPECT_EQ(log, CallLog{"setReloadBufferDataTimer"});
}

TEST(ShellGeometry, SplashSitsCentredTwentyPointsHighAndMainWindowFitsTheScreen)
{
    // Centred across, its middle 20 points above the screen's, halves truncated.
    EXPECT_EQ(FlashWindowController::splashFrame(QRect(0, 0, 1920, 1080), QSize(560, 320)), QRect(680, 350, 560, 340));
    EXPECT_EQ(FlashWindowController::splashFrame(QRect(100, 50, 1001, 801), QSize(560, 320)),
              QRect(320, 261, 560, 340));
    EXPECT_EQ(MainWindow::contentFrame(QSize(1500, 1500), QRect(0, 0, 1920, 1600)), QRect(210, 50, 1500, 1500));
    EXPECT_EQ(MainWindow::contentFrame(QSize(1500, 1500), QRect(0, 30, 1280, 770)), QRect(0, 30, 1280, 770));
}

TEST(ShellGeometry, TheFramedWindowFitsTheRoomLeftByPanelsCentredWithItsTitleBarOnScreen)
{
    // A title bar of 28 and a border of 2 round the content; the panels leave what the screen offers.
    const QMargins frame(2, 28, 2, 2);
    struct Case {
        QRect available;
        QRect content;
    };
    for (const Case& c : {Case{QRect(0, 0, 1366, 768), QRect(2, 28, 1362, 738)},
                          Case{QRect(0, 0, 1920, 1200), QRect(210, 28, 1500, 1170)},
                          Case{QRect(0, 27, 1366, 741), QRect(2, 55, 1362, 711)},
                          Case{QRect(1366, 0, 1920, 1080), QRect(1576, 28, 1500, 1050)},
                          Case{QRect(0, 0, 2560, 1600), QRect(530, 63, 1500, 1500)}}) {
        const QRect content = MainWindow::contentFrame(QSize(1500, 1500), c.available, frame);
        EXPECT_EQ(content, c.content) << c.available.width() << "x" << c.available.height();
        EXPECT_TRUE(c.available.contains(content.marginsAdded(frame))) << c.available.width();
    }
}

class Lifecycle : public Shell {
protected:
    QtMainExecutor executor{&testing_app::application()};
    platform::Dispatch dispatch{executor};
    CallLog log;
    testing_app::FakeCommonUtils commonUtils{log};
    AppLifecycle lifecycle{appDelegate, dispatch, "1.4.2", 20ms};

    void launch(bool withController)
    {
        if (withController) {
            lifecycle.setMainControllerFactory(
                [this] { return std::make_unique<testing_app::FakeMainWindowController>(log); });
        }
        lifecycle.setCommonUtils(&commonUtils);
        lifecycle.applicationDidFinishLaunching();
    }
};

TEST_F(Lifecycle, SplashShowsTheVersionThenGivesWayToTheMainWindow)
{
    launch(true);
    FlashWindowController* splash = lifecycle.flashWindowController();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->versionText()->text(), "System Version: 1.4.2");
    EXPECT_EQ(appDelegate.getMainWindow(), splash);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return lifecycle.window() != nullptr; }));
    EXPECT_EQ(lifecycle.flashWindowController(), nullptr);
    EXPECT_TRUE(lifecycle.window()->isVisible());
    EXPECT_EQ(appDelegate.getMainWindow(), lifecycle.window());
    EXPECT_EQ(appDelegate.mainController(), lifecycle.mainController());
    EXPECT_EQ(lifecycle.window()->centralWidget()->findChild<QWidget*>("viewForIndicator")->isHidden(), true);
}

TEST_F(Lifecycle, PreparationsRunWhileTheSplashShowsOrAtItsEndAlwaysBeforeTheController)
{
    for (const bool splashEndsAtOnce : {false, true}) {
        AppDelegate flags;
        AppLifecycle starting(flags, dispatch, "1", 1h);
        CallLog steps;
        starting.addPreparation([&] { steps.push_back("screen one"); });
        starting.addPreparation([&] {
            steps.push_back("screen two");
            // Nothing is shown for a step: the splash is still the window.
            EXPECT_EQ(starting.window(), nullptr);
        });
        starting.setMainControllerFactory([&] {
            steps.push_back("controller");
            return std::make_unique<testing_app::FakeMainWindowController>(log);
        });
        starting.applicationDidFinishLaunching();
        if (!splashEndsAtOnce) {
            ASSERT_TRUE(testing_app::processEventsUntil([&] { return steps.size() == 2; }));
            EXPECT_NE(starting.flashWindowController(), nullptr);
        }
        starting.launchMainApp();
        EXPECT_EQ(steps, (CallLog{"screen one", "screen two", "controller"})) << splashEndsAtOnce;
        // None runs twice once the splash's turns come round again.
        testing_app::processEventsUntil([] { return false; }, 30ms);
        EXPECT_EQ(steps.size(), 3u);
    }
}

TEST_F(Lifecycle, TerminationEjectsOnlyAConnectedDeviceAndAlwaysSaves)
{
    struct Case {
        bool splashOver, connected;
        CallLog calls;
    };
    for (const Case& c : {Case{false, true, {}}, Case{true, false, {"saveDataBeforeClosing"}},
                          Case{true, true, {"forceEjectDevice", "saveDataBeforeClosing"}}}) {
        AppDelegate flags;
        AppLifecycle ending(flags, dispatch, "1", 10ms);
        ending.setMainControllerFactory([this] { return std::make_unique<testing_app::FakeMainWindowController>(log); });
        ending.setCommonUtils(&commonUtils);
        ending.applicationDidFinishLaunching();
        if (c.splashOver) ending.launchMainApp();
        flags.setDeviceConnected(c.connected);
        log.clear();
        ending.applicationWillTerminate();
        EXPECT_EQ(log, c.calls) << c.splashOver << c.connected;
        EXPECT_EQ(flags.isDeviceConnected(), c.connected && !c.splashOver);
        if (c.splashOver) {
            EXPECT_TRUE(ending.mainController()->viewForIndicator()->isVisible());
        }
        // Quitting during the splash also keeps the main window from opening afterwards.
        testing_app::processEventsUntil([] { return false; }, 30ms);
        EXPECT_EQ(ending.window() != nullptr, c.splashOver);
    }
}

// A session's end with a device lets the coordinator end the program behind the unit's queued writes, and
// ends it itself only on a second signal or once the grace is over; without a device it ends at once.
TEST_F(Lifecycle, ASignalsEndWaitsForTheUnitsWritesOnlyWithADeviceAndAtMostItsGrace)
{
    for (const bool connected : {false, true}) {
        AppDelegate flags;
        AppLifecycle ending(flags, dispatch, "1", 10ms);
        ending.setMainControllerFactory([this] { return std::make_unique<testing_app::FakeMainWindowController>(log); });
        ending.setCommonUtils(&commonUtils);
        ending.applicationDidFinishLaunching();
        ending.launchMainApp();
        flags.setDeviceConnected(connected);
        log.clear();
        int ends = 0;
        ending.endBySignal([&] { ++ends; });
        if (!connected) {
            EXPECT_EQ(ends, 1);
            EXPECT_EQ(log, CallLog{});
            continue;
        }
        EXPECT_EQ(ends, 0);
        EXPECT_EQ(log, CallLog{"closeAppWithin " + std::to_string(AppLifecycle::kSignalGrace.count())});
        // Nobody ended the program in the grace: the lifecycle does, once.
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return ends == 1; },
                                                    AppLifecycle::kSignalGrace + AppLifecycle::kSignalGraceMargin + 5s));
        // A second signal ends it at once.
        AppLifecycle again(flags, dispatch, "1", 10ms);
        again.setMainControllerFactory([this] { return std::make_unique<testing_app::FakeMainWindowController>(log); });
        again.setCommonUtils(&commonUtils);
        again.applicationDidFinishLaunching();
        again.launchMainApp();
        int secondEnds = 0;
        again.endBySignal([&] { ++secondEnds; });
        again.endBySignal([&] { ++secondEnds; });
        EXPECT_EQ(secondEnds, 1);
    }
}

// What kept a start from reading the library is told in the interface language by what it was: a working
// folder that could not be made, a place that is away behind its link, a listing refused; and a save refused
// for a part linked within the library names that part. Run in English and again under a Japanese locale.
TEST_F(Lifecycle, WhyTheLibraryWasNotReadOrSavedIsToldByWhatItWas)
{
    const std::string folder = "/home/someone/PEXO Rigmora/Temp/Local";
    const auto words = [](const char* key) { return InterfaceTexts::localizedString(key); };
    const auto marked = [](int code, const char* unread) {
        auto cause = platform::Error::make("files", code, "x");
        if (unread != nullptr) cause.userInfo[CommonUtils::kUnreadInfo] = unread;
        return cause;
    };
    const struct {
        int code;
        const char* unread;
        const char* phrase;
        const char* why;
    } cases[] = {
        {ENOSPC, CommonUtils::kWorkingCopyNotMade, "Main_PatchWorkFolderNotMade", "Main_SaveCauseNoSpace"},
        {EROFS, CommonUtils::kWorkingCopyNotMade, "Main_PatchWorkFolderNotMade", "Main_SaveCauseReadOnly"},
        {EBUSY, CommonUtils::kWorkingCopyNotMade, "Main_PatchWorkFolderNotMade", "Main_ReadCauseBusy"},
        {EACCES, CommonUtils::kWorkingCopyNotMade, "Main_PatchWorkFolderNotMade", "Main_SaveCausePermission"},
        {ENOENT, CommonUtils::kAway, "Main_PatchFolderNotRead", "Main_ReadCauseAway"},
        // A part's link leading nowhere: missing, never a refusal of the system's.
        {ENOENT, nullptr, "Main_PatchFolderNotRead", "Main_ReadCauseAway"},
        {EACCES, nullptr, "Main_PatchFolderNotRead", "Main_ReadCausePermission"},
    };
    std::vector<std::string> told;
    for (const auto& c : cases) {
        const std::string text = AppLifecycle::readFailureReason(folder, marked(c.code, c.unread));
        EXPECT_EQ(text, words(c.phrase).arg(QString::fromStdString(folder), words(c.why)).toStdString()) << c.phrase << " " << c.why;
        told.push_back(text);
    }
    const auto linked = platform::Error::make("files", ELOOP, "x", {{CommonUtils::kLinkedPartInfo, "Pool"}});
    const std::string refused = AppLifecycle::saveFailureReason({}, "/home/someone/Patch", linked);
    EXPECT_NE(refused.find(words("Main_SaveCauseLinkWithinLibrary").arg(QStringLiteral("Pool")).toStdString()), std::string::npos)
        << refused;
    // A save refused for a place gone during the run says so, as the start does.
    const std::string gone = AppLifecycle::saveFailureReason({}, "/media/share/Backups", marked(ENOENT, CommonUtils::kAway));
    EXPECT_EQ(gone, words("Main_PatchFolderNotWritten").arg(QStringLiteral("/media/share/Backups"), words("Main_ReadCauseAway")).toStdString());
    // One refused for another library found there, never as a refusal of the system's.
    const std::string other = AppLifecycle::saveFailureReason({}, "/media/share/Backups", marked(EEXIST, CommonUtils::kAnotherLibrary));
    EXPECT_EQ(other,
              words("Main_PatchFolderNotWritten").arg(QStringLiteral("/media/share/Backups"), words("Main_SaveCauseAnotherLibrary")).toStdString());
    if (platform::Localizer::languageFromEnvironment() != "ja") return;
    const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2,}"));
    told.push_back(refused);
    told.push_back(gone);
    told.push_back(other);
    for (std::string text : told) {
        for (const std::string& named : {folder, std::string("/home/someone/Patch"), std::string("Pool"), std::string("/media/share/Backups")})
            if (const auto at = text.find(named); at != std::string::npos) text.erase(at, named.size());
        EXPECT_FALSE(latinWord.match(QString::fromStdString(text)).hasMatch()) << text;
    }
}

// A failed save is told in the interface language: the user's library folder, or the entries left out, and
// the cause in the program's own words, never the system's English phrase nor the folders the save made
// beside the library. Run in English and again under a Japanese locale.
TEST_F(Lifecycle, TheReasonOfAFailedSaveIsInTheInterfaceLanguage)
{
    const std::string folder = "/home/someone/PEXO Rigmora/QFXMacApplication/Patch";
    const auto words = [](const char* key) { return InterfaceTexts::localizedString(key).toStdString(); };
    const std::string whole = AppLifecycle::saveFailureReason(
        {}, folder, platform::Error::make("files", EACCES, "cannot move to \"/x/.Patch-old-17\": Permission denied"));
    EXPECT_NE(whole.find(folder), std::string::npos) << whole;
    EXPECT_NE(whole.find(words("Main_SaveCausePermission")), std::string::npos) << whole;
    EXPECT_EQ(whole.find(".Patch-old"), std::string::npos) << whole;
    EXPECT_EQ(whole.find(std::strerror(EACCES)), std::string::npos) << whole;
    const std::string entries =
        AppLifecycle::saveFailureReason({"B", "Gone"}, folder, platform::Error::make("files", ENOSPC, "injected"));
    EXPECT_NE(entries.find("\"B\", \"Gone\""), std::string::npos) << entries;
    EXPECT_NE(entries.find(words("Main_SaveCauseNoSpace")), std::string::npos) << entries;
    EXPECT_EQ(entries.find(folder), std::string::npos) << entries;
    // A cause without words of its own keeps its number.
    const std::string other = AppLifecycle::saveFailureReason({}, folder, platform::Error::make("files", EIO, "x"));
    EXPECT_NE(other.find(std::to_string(EIO)), std::string::npos) << other;
    if (platform::Localizer::languageFromEnvironment() != "ja") return;
    const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2,}"));
    for (std::string text : {whole, entries, other}) {
        for (const std::string& named : {folder, std::string("\"B\", \"Gone\"")})
            if (const auto at = text.find(named); at != std::string::npos) text.erase(at, named.size());
        EXPECT_FALSE(latinWord.match(QString::fromStdString(text)).hasMatch()) << text;
    }
}

// A save that fails at the end is said before the program goes, in the words the user reads: its reason,
// and whether the session's edits were kept for the next start, or the keep's own cause when they could not
// be; a good save says nothing and keeps nothing.
TEST_F(Lifecycle, ASaveThatFailsAtTheEndIsToldWithItsReason)
{
    const auto expected = [](const char* key) {
        std::string text = InterfaceTexts::localizedString(key).toStdString();
        for (const char* argument : {"disk full", "no space"}) {
            const auto at = text.find("%@");
            if (at != std::string::npos) text.replace(at, 2, argument);
        }
        EXPECT_NE(text.find("disk full"), std::string::npos) << key;
        return text;
    };
    const struct {
        std::optional<std::string> failure;
        bool keeps;
        std::vector<std::string> told;
        CallLog calls;
    } cases[] = {
        {std::nullopt, true, {}, {"saveDataBeforeClosing"}},
        {"disk full", true, {expected("Main_PatchPoolNotSavedAtQuit")}, {"saveDataBeforeClosing", "keepUnsavedPatchPool"}},
        {"disk full", false, {expected("Main_PatchPoolNotSavedOrKeptAtQuit")}, {"saveDataBeforeClosing", "keepUnsavedPatchPool"}},
    };
    for (const auto& c : cases) {
        AppDelegate flags;
        AppLifecycle ending(flags, dispatch, "1", 10ms);
        ending.setMainControllerFactory([this, failure = c.failure] {
            auto controller = std::make_unique<testing_app::FakeMainWindowController>(log);
            controller->saveFailure = failure;
            return controller;
        });
        commonUtils.keeps = c.keeps;
        ending.setCommonUtils(&commonUtils);
        std::vector<std::string> told;
        ending.setSaveFailureNotice([&](const std::string& text) { told.push_back(text); });
        ending.applicationDidFinishLaunching();
        ending.launchMainApp();
        log.clear();
        ending.applicationWillTerminate();
        EXPECT_EQ(told, c.told) << c.keeps;
        EXPECT_EQ(log, c.calls) << c.keeps;
        for (const auto& text : told) EXPECT_NE(text.find("disk full"), std::string::npos) << text;
        for (const auto& text : told) EXPECT_EQ(text.find("no space") != std::string::npos, !c.keeps) << text;
    }
    EXPECT_NE(expected("Main_PatchPoolNotSavedAtQuit"), expected("Main_PatchPoolNotSavedOrKeptAtQuit"));
}

class BlockingEject final : public CommonUtilsServices {
public:
    std::promise<void> release;
    std::promise<void> left;
    void forceEjectDevice() override {}
    void forceEjectDeviceNow() override
    {
        release.get_future().wait();
        left.set_value();
    }
};

TEST(UncaughtException, EjectIsWaitedForOnlyABoundedTime)
{
    CallLog log;
    testing_app::FakeCommonUtils quick(log);
    EXPECT_TRUE(UncaughtExceptionHook::forceEjectWithin(quick, 1s));
    EXPECT_EQ(log, CallLog{"forceEjectDeviceNow"});

    BlockingEject wedged;
    auto left = wedged.left.get_future();
    EXPECT_FALSE(UncaughtExceptionHook::forceEjectWithin(wedged, 20ms));
    wedged.release.set_value();
    left.wait();
}

class LoudEject final : public CommonUtilsServices {
public:
    void forceEjectDevice() override {}
    void forceEjectDeviceNow() override { std::fputs("device ejected\n", stderr); }
};

TEST(UncaughtExceptionDeathTest, EjectsTheDeviceBeforeTheProcessEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static LoudEject eject;
    EXPECT_DEATH(
        {
            UncaughtExceptionHook::install();
            UncaughtExceptionHook::setCommonUtils(&eject);
            std::terminate();
        },
        "device ejected");
}

}  // namespace

// The signals that end a session reach the main loop as one call each time they come, and once the
// object goes their earlier handlers are back.
TEST_F(Shell, TerminationSignalsBecomeACallOnTheMainLoopAndGoAway)
{
    struct sigaction before {};
    ::sigaction(SIGHUP, nullptr, &before);
    int calls = 0;
    {
        TerminationSignals termination([&] { ++calls; });
        ASSERT_TRUE(termination.isInstalled());
        for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
            const int expected = calls + 1;
            ASSERT_EQ(::raise(signal), 0);
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (calls < expected && std::chrono::steady_clock::now() < deadline)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            EXPECT_EQ(calls, expected) << "signal " << signal;
        }
    }
    struct sigaction after {};
    ::sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

namespace {

// A window that never closes by itself, as the main window turns a close into a quit of its own.
class RefusesClose final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

// A termination signal ends the event loop whatever shows: a main window that refuses to close, a sheet
// over it that only its own buttons end, a nested loop of a dialog run modally.
TEST_F(Shell, TerminationEndsTheLoopOverASheetAWindowThatRefusesToCloseAndANestedLoop)
{
    for (const bool nested : {false, true}) {
        QWidget window;
        RefusesClose refuses;
        window.installEventFilter(&refuses);
        window.show();
        auto* sheet = new DialogWindow(&window);
        sheet->setContentView(new QLabel(QStringLiteral("a sheet")));
        TerminationSignals termination([] { AppLifecycle::terminate(); });
        QTimer::singleShot(0, [&] {
            if (!nested) {
                sheet->open();
                ::raise(SIGTERM);
                return;
            }
            QTimer::singleShot(50, [] { ::raise(SIGTERM); });
            sheet->exec();
        });
        // Only a guard against a hang: the loop ends long before.
        QTimer::singleShot(30s, [] { QCoreApplication::exit(7); });
        EXPECT_EQ(QApplication::exec(), 0) << nested;
        EXPECT_FALSE(sheet->isVisible()) << nested;
    }
}

TEST(GraphicalSession, SaysWhichVariableIsMissingUnlessAPlatformWasChosen)
{
    struct Case {
        std::map<std::string, std::string> variables;
        std::vector<std::string> arguments;
        bool missing;
    };
    const Case cases[] = {
        {{}, {}, true},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, {}, true},
        {{{"DISPLAY", ":0"}}, {}, false},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, {}, false},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, {}, false},
        {{}, {"-platform", "offscreen"}, false},
        {{}, {"--keep"}, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words{"pexo-rigmora"};
        words.insert(words.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        const std::string missing = GraphicalSession::whatIsMissing(
            static_cast<int>(argv.size()), argv.data(), [&](const char* name) -> const char* {
                const auto it = c.variables.find(name);
                return it == c.variables.end() ? nullptr : it->second.c_str();
            });
        EXPECT_EQ(!missing.empty(), c.missing) << missing;
        if (c.missing) {
            EXPECT_EQ(missing, "needs a graphical session, and neither DISPLAY nor WAYLAND_DISPLAY is set");
        }
    }
}

TEST(RunningInstance, ASecondStartsKnockRaisesTheHolderOfItsFolderOnly)
{
    testing_app::application();
    QTemporaryDir first;
    QTemporaryDir second;
    int raised = 0;
    {
        const RunningInstance holder(first.path().toStdString(), [&raised] { ++raised; });
        ASSERT_TRUE(holder.listening());
        EXPECT_FALSE(RunningInstance::knock(second.path().toStdString()));
        // The same folder written another way is the same folder.
        EXPECT_TRUE(RunningInstance::knock(first.path().toStdString() + "/."));
        for (int turn = 0; turn < 50 && raised == 0; ++turn) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_EQ(raised, 1);
        // Only one copy may listen for a folder.
        const RunningInstance rival(first.path().toStdString(), [] {});
        EXPECT_FALSE(rival.listening());
    }
    // A holder that has gone leaves no name behind for the next start.
    EXPECT_FALSE(RunningInstance::knock(first.path().toStdString()));
    const RunningInstance next(first.path().toStdString(), [] {});
    EXPECT_TRUE(next.listening());
}

TEST(RunningInstance, AFolderPastThePathLimitIsNamedWithoutThrowing)
{
    testing_app::application();
    QTemporaryDir parent;
    std::string deep = parent.path().toStdString();
    while (deep.size() < 4200) deep += "/" + std::string(200, 'd');
    std::string sibling = deep;
    sibling.back() = 'e';
    EXPECT_FALSE(RunningInstance::knock(deep));
    // A name of the program's own that fits a socket address, and this folder's alone.
    const std::string name = RunningInstance::socketName(deep);
    EXPECT_EQ(name.rfind("pexo-rigmora-", 0), 0U) << name;
    EXPECT_LT(name.size(), sizeof(sockaddr_un{}.sun_path) - 1);
    EXPECT_NE(name, RunningInstance::socketName(sibling));
    EXPECT_NE(name, RunningInstance::socketName(parent.path().toStdString()));
    // A copy that holds such a folder is found by the next start for it, and for no other folder.
    const RunningInstance holder(deep, [] {});
    ASSERT_TRUE(holder.listening());
    EXPECT_TRUE(RunningInstance::knock(deep));
    EXPECT_FALSE(RunningInstance::knock(sibling));
}

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

std::string withoutBreaks(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return text;
}

}  // namespace

// A path goes into the refusal's window in lines: after a "/" where the line has one, else inside a
// name, never inside a character; taken together the lines are the path.
TEST(StartRefusal, APathComesInLinesThatBreakAfterASlashOrBetweenWholeCharacters)
{
    struct Case {
        std::string path;
        std::size_t longest;
        std::string lines;
    };
    const std::string kana = "\xE3\x81\x8B";  // one character, three bytes
    const Case cases[] = {
        {"/home/me/data", 48, "/home/me/data"},
        {"/abc/defgh/ij", 6, "/abc/\ndefgh/\nij"},
        {"/abcdefghij/k", 4, "/abc\ndefg\nhij/\nk"},
        {"/a/" + kana + kana + kana + kana, 4, "/a/\n" + kana + kana + kana + kana},
        {kana + kana + kana + kana + kana, 2, kana + kana + "\n" + kana + kana + "\n" + kana},
        {"/x/", 1, "/\nx\n/"},
        {"", 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string lines = StartRefusal::pathInLines(c.path, c.longest);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(withoutBreaks(lines), c.path);
    }
}

// The path of the refusal the issue met: folder names of 200 bytes. Every piece of the text the box
// cannot wrap fits inside it, so the box shows where the folder is.
TEST_F(Shell, TheTooLongPathRefusalShowsItsPathWholeInsideTheBox)
{
    const std::string path = "/tmp/" + std::string(200, 'w') + "/" + std::string(200, 'm') + "/<data>";
    const std::string text = "The path of the data folder \"" + StartRefusal::pathInLines(path) +
                             "\" is too long for the files the program keeps inside it.";
    const auto box = StartRefusal::box(text);
    box->show();
    const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text().toStdString(), text) << "shown as plain text";
    const int room = label->contentsRect().width();
    EXPECT_LE(label->geometry().right(), box->contentsRect().right());
    std::size_t pieces = 0;
    for (const std::string& line : linesOf(text)) {
        std::size_t start = 0;
        while (start < line.size()) {
            std::size_t end = line.find(' ', start);
            if (end == std::string::npos) end = line.size();
            const QString piece = QString::fromStdString(line.substr(start, end - start));
            EXPECT_LE(label->fontMetrics().horizontalAdvance(piece), room) << piece.toStdString();
            ++pieces;
            start = end + 1;
        }
    }
    EXPECT_GT(pieces, 10u);
    box->hide();
}
