#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/un.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <future>
#include <map>

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
    QLineEdit first, second;
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
    EXPECT_TRUE(appDelegate.isShowingDialog() && appDelegate.isPatchPoolChanged());
    EXPECT_FALSE(appDelegate.isDeviceConnected() || appDelegate.isRestoringAll() || appDelegate.isEdittingTextView());
    EXPECT_FALSE(appDelegate.getEdittingTextField() || appDelegate.previousEditingTextField() || appDelegate.editingTextView());
    // Edited controls turn white only while a device is connected.
    appDelegate.setEditingTextField(&first);
    appDelegate.setEditingTextField(&second);
    const QColor original = second.palette().color(QPalette::Text);
    appDelegate.clearColorEditingTextField();
    EXPECT_EQ(second.palette().color(QPalette::Text), original);
    appDelegate.setDeviceConnected(true);
    appDelegate.clearColorEditingTextField();
    EXPECT_TRUE(second.palette().color(QPalette::Text) == Qt::white && first.palette().color(QPalette::Text) == Qt::white);
}

TEST_F(Shell, EverySheetGetsAFreshWindowAndTheWindowStateIsTheControllersOrZero)
{
    EXPECT_EQ(appDelegate.getPreviousDialogWindow(), nullptr);
    DialogWindow* first = appDelegate.getDialogWindow();
    DialogWindow* second = appDelegate.getDialogWindow();
    EXPECT_NE(first, second);
    EXPECT_EQ(appDelegate.getPreviousDialogWindow(), second);
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

TEST(ShellGeometry, SplashSitsCentredTwentyPointsHighAndTheFramedWindowFitsTheRoomLeftByPanels)
{
    // Centred across, its middle 20 points above the screen's, halves truncated.
    EXPECT_EQ(FlashWindowController::splashFrame(QRect(0, 0, 1920, 1080), QSize(560, 320)), QRect(680, 350, 560, 340));
    EXPECT_EQ(FlashWindowController::splashFrame(QRect(100, 50, 1001, 801), QSize(560, 320)), QRect(320, 261, 560, 340));
    EXPECT_EQ(MainWindow::contentFrame(QSize(1500, 1500), QRect(0, 0, 1920, 1600)), QRect(210, 50, 1500, 1500));
    EXPECT_EQ(MainWindow::contentFrame(QSize(1500, 1500), QRect(0, 30, 1280, 770)), QRect(0, 30, 1280, 770));
    // A title bar of 28 and a border of 2 round the content, centred with its title bar on screen.
    const QMargins frame(2, 28, 2, 2);
    const std::pair<QRect, QRect> cases[] = {
        {QRect(0, 0, 1366, 768), QRect(2, 28, 1362, 738)},      {QRect(0, 0, 1920, 1200), QRect(210, 28, 1500, 1170)},
        {QRect(0, 27, 1366, 741), QRect(2, 55, 1362, 711)},     {QRect(1366, 0, 1920, 1080), QRect(1576, 28, 1500, 1050)},
        {QRect(0, 0, 2560, 1600), QRect(530, 63, 1500, 1500)},
    };
    for (const auto& [available, expected] : cases) {
        const QRect content = MainWindow::contentFrame(QSize(1500, 1500), available, frame);
        EXPECT_EQ(content, expected) << available.width() << "x" << available.height();
        EXPECT_TRUE(available.contains(content.marginsAdded(frame))) << available.width();
    }
}

class Lifecycle : public Shell {
protected:
    // Its controller fails its save with `failure`; past its splash when `launched`.
    std::unique_ptr<AppLifecycle> started(AppDelegate& flags, bool launched,
                                          std::optional<std::string> failure = std::nullopt, const char* version = "1")
    {
        auto made = std::make_unique<AppLifecycle>(flags, dispatch, version, 10ms);
        made->setMainControllerFactory([this, failure] {
            auto controller = std::make_unique<testing_app::FakeMainWindowController>(log);
            controller->saveFailure = failure;
            return controller;
        });
        made->setCommonUtils(&commonUtils);
        made->applicationDidFinishLaunching();
        if (launched) made->launchMainApp();
        return made;
    }
    static void noLatinWordBut(std::vector<std::string> texts, const std::vector<std::string>& named)
    {
        const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2,}"));
        for (std::string& text : texts) {
            for (const std::string& name : named)
                if (const auto at = text.find(name); at != std::string::npos) text.erase(at, name.size());
            EXPECT_FALSE(latinWord.match(QString::fromStdString(text)).hasMatch()) << text;
        }
    }
    QtMainExecutor executor{&testing_app::application()};
    platform::Dispatch dispatch{executor};
    CallLog log;
    testing_app::FakeCommonUtils commonUtils{log};
};

TEST_F(Lifecycle, SplashShowsTheVersionThenGivesWayToTheMainWindow)
{
    const auto started = this->started(appDelegate, false, std::nullopt, "1.4.2");
    AppLifecycle& lifecycle = *started;
    FlashWindowController* splash = lifecycle.flashWindowController();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible() && appDelegate.getMainWindow() == splash);
    EXPECT_EQ(splash->versionText()->text(), "System Version: 1.4.2");
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return lifecycle.window() != nullptr; }));
    EXPECT_TRUE(lifecycle.flashWindowController() == nullptr && lifecycle.window()->isVisible());
    EXPECT_TRUE(appDelegate.getMainWindow() == lifecycle.window() && appDelegate.mainController() == lifecycle.mainController());
    EXPECT_TRUE(lifecycle.window()->centralWidget()->findChild<QWidget*>("viewForIndicator")->isHidden());
}

TEST_F(Lifecycle, PreparationsRunWhileTheSplashShowsOrAtItsEndAlwaysBeforeTheController)
{
    for (const bool splashEndsAtOnce : {false, true}) {
        SCOPED_TRACE(splashEndsAtOnce);
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
        EXPECT_EQ(steps, (CallLog{"screen one", "screen two", "controller"}));
        // None runs twice once the splash's turns come round again.
        testing_app::processEventsUntil([] { return false; }, 30ms);
        EXPECT_EQ(steps.size(), 3u);
    }
}

TEST_F(Lifecycle, TerminationEjectsOnlyAConnectedDeviceAndAlwaysSaves)
{
    const std::tuple<bool, bool, CallLog> cases[] = {
        {false, true, {}}, {true, false, {"saveDataBeforeClosing"}}, {true, true, {"forceEjectDevice", "saveDataBeforeClosing"}}};
    for (const auto& [splashOver, connected, calls] : cases) {
        SCOPED_TRACE(testing::Message() << splashOver << connected);
        AppDelegate flags;
        const auto ending = started(flags, splashOver);
        flags.setDeviceConnected(connected);
        log.clear();
        ending->applicationWillTerminate();
        EXPECT_EQ(log, calls);
        EXPECT_EQ(flags.isDeviceConnected(), connected && !splashOver);
        EXPECT_TRUE(!splashOver || ending->mainController()->viewForIndicator()->isVisible());
        // Quitting during the splash also keeps the main window from opening afterwards.
        testing_app::processEventsUntil([] { return false; }, 30ms);
        EXPECT_EQ(ending->window() != nullptr, splashOver);
    }
}

// With a device the coordinator ends the program behind the unit's writes, within a grace.
TEST_F(Lifecycle, ASignalsEndWaitsForTheUnitsWritesOnlyWithADeviceAndAtMostItsGrace)
{
    AppDelegate idle, flags;
    int ends = 0;
    const auto quick = started(idle, true);
    log.clear();
    quick->endBySignal([&] { ++ends; });
    EXPECT_TRUE(ends == 1 && log.empty()) << testing::PrintToString(log);
    const auto ending = started(flags, true);
    flags.setDeviceConnected(true);
    log.clear();
    ends = 0;
    ending->endBySignal([&] { ++ends; });
    EXPECT_TRUE(ends == 0 && log == CallLog{"closeAppWithin " + std::to_string(AppLifecycle::kSignalGrace.count())})
        << testing::PrintToString(log);
    // Nobody ended the program in the grace: the lifecycle does, once.
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return ends == 1; },
                                                AppLifecycle::kSignalGrace + AppLifecycle::kSignalGraceMargin + 5s));
    // A second signal ends it at once.
    const auto again = started(flags, true);
    int secondEnds = 0;
    again->endBySignal([&] { ++secondEnds; });
    again->endBySignal([&] { ++secondEnds; });
    EXPECT_EQ(secondEnds, 1);
}

// Never told as a refusal of the system's. Run in English and again under a Japanese locale.
TEST_F(Lifecycle, WhyTheLibraryWasNotReadOrSavedIsToldByWhatItWas)
{
    const std::string folder = "/home/someone/PEXO Rigmora/Temp/Local", share = "/media/share/Backups";
    const auto words = [](const char* key) { return InterfaceTexts::localizedString(key); };
    const auto marked = [](int code, const char* unread) {
        auto cause = platform::Error::make("files", code, "x");
        if (unread != nullptr) cause.userInfo[CommonUtils::kUnreadInfo] = unread;
        return cause;
    };
    const std::tuple<int, const char*, const char*, const char*> cases[] = {
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
    for (const auto& [code, unread, phrase, why] : cases) {
        told.push_back(AppLifecycle::readFailureReason(folder, marked(code, unread)));
        EXPECT_EQ(told.back(), words(phrase).arg(QString::fromStdString(folder), words(why)).toStdString()) << phrase << " " << why;
    }
    const auto linked = platform::Error::make("files", ELOOP, "x", {{CommonUtils::kLinkedPartInfo, "Pool"}});
    told.push_back(AppLifecycle::saveFailureReason({}, "/home/someone/Patch", linked));
    EXPECT_NE(told.back().find(words("Main_SaveCauseLinkWithinLibrary").arg(QStringLiteral("Pool")).toStdString()), std::string::npos)
        << told.back();
    const auto notWritten = [&](const char* cause) {
        return words("Main_PatchFolderNotWritten").arg(QString::fromStdString(share), words(cause)).toStdString();
    };
    told.push_back(AppLifecycle::saveFailureReason({}, share, marked(ENOENT, CommonUtils::kAway)));
    EXPECT_EQ(told.back(), notWritten("Main_ReadCauseAway"));
    told.push_back(AppLifecycle::saveFailureReason({}, share, marked(EEXIST, CommonUtils::kAnotherLibrary)));
    EXPECT_EQ(told.back(), notWritten("Main_SaveCauseAnotherLibrary"));
    if (platform::Localizer::languageFromEnvironment() == "ja") noLatinWordBut(told, {folder, "/home/someone/Patch", "Pool", share});
}

// Never the system's English phrase nor the folders made beside the library. Run in Japanese too.
TEST_F(Lifecycle, TheReasonOfAFailedSaveIsInTheInterfaceLanguage)
{
    const std::string folder = "/home/someone/PEXO Rigmora/QFXMacApplication/Patch";
    const auto words = [](const char* key) { return InterfaceTexts::localizedString(key).toStdString(); };
    const auto contains = [](const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; };
    const std::string whole = AppLifecycle::saveFailureReason(
        {}, folder, platform::Error::make("files", EACCES, "cannot move to \"/x/.Patch-old-17\": Permission denied"));
    EXPECT_TRUE(contains(whole, folder) && contains(whole, words("Main_SaveCausePermission"))) << whole;
    EXPECT_FALSE(contains(whole, ".Patch-old") || contains(whole, std::strerror(EACCES))) << whole;
    const std::string entries =
        AppLifecycle::saveFailureReason({"B", "Gone"}, folder, platform::Error::make("files", ENOSPC, "injected"));
    EXPECT_TRUE(contains(entries, "\"B\", \"Gone\"") && contains(entries, words("Main_SaveCauseNoSpace"))) << entries;
    EXPECT_FALSE(contains(entries, folder)) << entries;
    // A cause without words of its own keeps its number.
    const std::string other = AppLifecycle::saveFailureReason({}, folder, platform::Error::make("files", EIO, "x"));
    EXPECT_TRUE(contains(other, std::to_string(EIO))) << other;
    if (platform::Localizer::languageFromEnvironment() == "ja") noLatinWordBut({whole, entries, other}, {folder, "\"B\", \"Gone\""});
}

TEST_F(Lifecycle, ASaveThatFailsAtTheEndIsToldWithItsReason)
{
    const auto expected = [](const char* key) {
        std::string text = InterfaceTexts::localizedString(key).toStdString();
        for (const char* argument : {"disk full", "no space"})
            if (const auto at = text.find("%@"); at != std::string::npos) text.replace(at, 2, argument);
        EXPECT_NE(text.find("disk full"), std::string::npos) << key;
        return text;
    };
    const std::tuple<std::optional<std::string>, bool, std::vector<std::string>, CallLog> cases[] = {
        {std::nullopt, true, {}, {"saveDataBeforeClosing"}},
        {"disk full", true, {expected("Main_PatchPoolNotSavedAtQuit")}, {"saveDataBeforeClosing", "keepUnsavedPatchPool"}},
        {"disk full", false, {expected("Main_PatchPoolNotSavedOrKeptAtQuit")}, {"saveDataBeforeClosing", "keepUnsavedPatchPool"}},
    };
    for (const auto& [failure, keeps, toldExpected, calls] : cases) {
        SCOPED_TRACE(keeps);
        AppDelegate flags;
        commonUtils.keeps = keeps;
        const auto ending = started(flags, false, failure);
        std::vector<std::string> told;
        ending->setSaveFailureNotice([&](const std::string& text) { told.push_back(text); });
        ending->launchMainApp();
        log.clear();
        ending->applicationWillTerminate();
        EXPECT_EQ(told, toldExpected);
        EXPECT_EQ(log, calls);
        for (const auto& text : told) EXPECT_NE(text.find("disk full"), std::string::npos) << text;
        for (const auto& text : told) EXPECT_EQ(text.find("no space") != std::string::npos, !keeps) << text;
    }
    EXPECT_NE(expected("Main_PatchPoolNotSavedAtQuit"), expected("Main_PatchPoolNotSavedOrKeptAtQuit"));
}

class BlockingEject final : public CommonUtilsServices {
public:
    std::promise<void> release, left;
    void forceEjectDevice() override {}
    void forceEjectDeviceNow() override { release.get_future().wait(), left.set_value(); }
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
            EXPECT_TRUE(testing_app::processEventsUntil([&] { return calls >= expected; })) << "signal " << signal;
            EXPECT_EQ(calls, expected) << "signal " << signal;
        }
    }
    struct sigaction after {};
    ::sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

// A window that never closes by itself, as the main window turns a close into a quit of its own.
class RefusesClose final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
        event->ignore();
        return true;
    }
};

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
    const std::tuple<std::map<std::string, std::string>, std::vector<std::string>, bool> cases[] = {
        {{}, {}, true},           {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, {}, true}, {{{"DISPLAY", ":0"}}, {}, false},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, {}, false},     {{{"QT_QPA_PLATFORM", "offscreen"}}, {}, false},
        {{}, {"-platform", "offscreen"}, false},             {{}, {"--keep"}, true},
    };
    for (const auto& row : cases) {
        const auto& [variables, arguments, missing] = row;
        std::vector<std::string> words{"pexo-rigmora"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        const std::string said = GraphicalSession::whatIsMissing(
            static_cast<int>(argv.size()), argv.data(), [&row](const char* name) -> const char* {
                const auto& environment = std::get<0>(row);
                const auto it = environment.find(name);
                return it == environment.end() ? nullptr : it->second.c_str();
            });
        EXPECT_EQ(said, missing ? "needs a graphical session, and neither DISPLAY nor WAYLAND_DISPLAY is set" : "");
    }
}

TEST(RunningInstance, ASecondStartsKnockRaisesTheHolderOfItsFolderOnly)
{
    testing_app::application();
    QTemporaryDir first, second;
    const std::string path = first.path().toStdString();
    int raised = 0;
    {
        const RunningInstance holder(path, [&raised] { ++raised; });
        ASSERT_TRUE(holder.listening());
        EXPECT_FALSE(RunningInstance::knock(second.path().toStdString()));
        // The same folder written another way is the same folder.
        EXPECT_TRUE(RunningInstance::knock(path + "/."));
        EXPECT_TRUE(testing_app::processEventsUntil([&] { return raised > 0; }, 1s) && raised == 1) << raised;
        // Only one copy may listen for a folder.
        EXPECT_FALSE(RunningInstance(path, [] {}).listening());
    }
    // A holder that has gone leaves no name behind for the next start.
    EXPECT_FALSE(RunningInstance::knock(path));
    EXPECT_TRUE(RunningInstance(path, [] {}).listening());
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

TEST(StartRefusal, APathComesInLinesThatBreakAfterASlashOrBetweenWholeCharacters)
{
    const std::string kana = "\xE3\x81\x8B";  // one character, three bytes
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"/home/me/data", 48, "/home/me/data"},
        {"/abc/defgh/ij", 6, "/abc/\ndefgh/\nij"},
        {"/abcdefghij/k", 4, "/abc\ndefg\nhij/\nk"},
        {"/a/" + kana + kana + kana + kana, 4, "/a/\n" + kana + kana + kana + kana},
        {kana + kana + kana + kana + kana, 2, kana + kana + "\n" + kana + kana + "\n" + kana},
        {"/x/", 1, "/\nx\n/"},
        {"", 4, ""},
    };
    for (const auto& [path, longest, expected] : cases) {
        const std::string lines = StartRefusal::pathInLines(path, longest);
        EXPECT_EQ(lines, expected) << path;
        EXPECT_EQ(QString::fromStdString(lines).remove(QLatin1Char('\n')).toStdString(), path);
    }
}

// The issue's path: folder names of 200 bytes. Every piece the box cannot wrap fits inside it.
TEST_F(Shell, TheTooLongPathRefusalShowsItsPathWholeInsideTheBox)
{
    const std::string path = "/tmp/" + std::string(200, 'w') + "/" + std::string(200, 'm') + "/<data>";
    const QString text = QString::fromStdString("The path of the data folder \"" + StartRefusal::pathInLines(path) +
                                                "\" is too long for the files the program keeps inside it.");
    const auto box = StartRefusal::box(text.toStdString());
    box->show();
    const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), text) << "shown as plain text";
    const int room = label->contentsRect().width();
    EXPECT_LE(label->geometry().right(), box->contentsRect().right());
    const QStringList pieces = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    EXPECT_GT(pieces.size(), 10);
    for (const QString& piece : pieces) EXPECT_LE(label->fontMetrics().horizontalAdvance(piece), room) << piece.toStdString();
    box->hide();
}

}  // namespace
