#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/FlashWindowController.h"
#include "app/shell/MainWindow.h"
#include "app/shell/MainWindowController.h"

namespace platform {
class Dispatch;
struct Error;
}

class AppDelegate;
class CommonUtilsServices;

// The program's launch and end: the splash for a while, then the main window with the main window
// controller's view; at the end a forced eject of a connected device and the pool's save, both waited
// for. Main thread.
class AppLifecycle final : public QObject {
    Q_OBJECT
public:
    using MainControllerFactory = std::function<std::unique_ptr<MainWindowController>()>;
    static constexpr std::chrono::milliseconds kSplashTime{2000};
    // The main window is made key this long after its first picture, or by the latest time if it shows none.
    static constexpr std::chrono::milliseconds kActivationAfterFirstPicture{50};
    static constexpr std::chrono::milliseconds kLatestActivation{500};
    // How long a session's end (a signal) lets the unit's queued writes run before the unit is let go
    // anyway. A session manager gives a program a few seconds before it kills it, and the save still
    // follows: well under the menu quit's watchdog, yet several times a one-patch write at a MIDI
    // cable's pace (about a second).
    static constexpr std::chrono::milliseconds kSignalGrace{5000};
    // The main thread's own end past that grace, should the coordinator never answer.
    static constexpr std::chrono::milliseconds kSignalGraceMargin{1000};

    AppLifecycle(AppDelegate& appDelegate, platform::Dispatch& dispatch, std::string version,
                 std::chrono::milliseconds splashTime = kSplashTime);
    ~AppLifecycle() override;

    // How the main window controller is made when the splash ends; without one the window stays empty.
    void setMainControllerFactory(MainControllerFactory factory) { factory_ = std::move(factory); }
    // Work that readies the main window controller's parts, done one step per turn of the loop once the
    // splash has painted, after the window's drawing surface; whatever is left when the splash ends is
    // done then, before the factory. Steps must start nothing the user would see or the device would hear.
    void addPreparation(std::function<void()> step) { preparations_.push_back(std::move(step)); }
    // The coordinator that ejects the device at the end and on an uncaught exception.
    void setCommonUtils(CommonUtilsServices* commonUtils);

    // Shows the splash, arms the splash timer and only then installs the uncaught-exception hook.
    void applicationDidFinishLaunching();
    // The splash timer's end: the splash goes, the controller is made and the main window shown, to be
    // made key once its first picture is out.
    void launchMainApp();
    // Shows the processing overlay, then on the high-priority queue (this thread waiting) force-ejects
    // a connected device and saves the pool; nothing at all while the splash still shows. A save that
    // failed is told through the save-failure notice before this returns.
    void applicationWillTerminate();
    // A session's end (a signal): the quit is noted, the name being typed committed, and the coordinator
    // asked to end the program once the unit's queued writes are done (`kSignalGrace` at most); `end`
    // ends it at once when there is no device to wait for, on a second signal, or when the coordinator
    // has not ended it by the grace's end. Nothing waits on this thread.
    void endBySignal(std::function<void()> end);
    // How the user hears, before the program ends, that the pool could not be saved: the notice gets
    // the whole message (`saveFailureText`); by default it goes to standard error.
    void setSaveFailureNotice(std::function<void(const std::string& text)> notice) { saveFailureNotice_ = std::move(notice); }
    // The end's message for a save that failed for `reason`, and, when the session's edits could not be
    // kept for the next start either, why not.
    static std::string saveFailureText(const std::string& reason, const std::optional<std::string>& notKept);
    // The reason of a failed save in the interface language, as the coordinator asks for it: the entries
    // left out, or the user's library folder when none could be written, and the cause in the program's
    // own words.
    static std::string saveFailureReason(const std::vector<std::string>& entries, const std::string& folder,
                                         const platform::Error& cause);
    // The same for a folder of the library the start could not read.
    static std::string readFailureReason(const std::string& folder, const platform::Error& cause);
    // Ends the program from any state: every dialog and sheet still showing is ended, then the event
    // loops are left at once, so no window gets a say (the main window turns a close into a quit) and
    // no nested loop keeps running; applicationWillTerminate follows from the application's
    // aboutToQuit. Main thread.
    static void terminate();

    FlashWindowController* flashWindowController() const { return flashWindowController_.get(); }
    MainWindow* window() const { return window_.get(); }
    MainWindowController* mainController() const { return mainController_.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activateMainWindow();
    void prepareNextPieceAhead();
    void runPreparations(std::size_t count);
    // While the splash shows: the main window made, its drawing surface written once, its pictures drawn.
    void prepareMainWindow();

    AppDelegate& appDelegate_;
    platform::Dispatch& dispatch_;
    std::string version_;
    QTimer launchMainAppTimer_;
    // Armed by a session's end: ends the program should the coordinator not do it in time.
    QTimer signalGraceTimer_;
    std::function<void()> signalEnd_;
    MainControllerFactory factory_;
    CommonUtilsServices* commonUtils_ = nullptr;
    std::unique_ptr<FlashWindowController> flashWindowController_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<MainWindow> preparedWindow_;
    std::unique_ptr<MainWindowController> mainController_;
    bool activated_ = false;
    qsizetype picturesDrawnAhead_ = 0;
    std::vector<std::function<void()>> preparations_;
    std::function<void(const std::string&)> saveFailureNotice_;
};
