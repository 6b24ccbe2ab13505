// The demo launcher: the real program on the virtual MIDI backend with a simulated unit, and a local
// catalogue server, in a folder of its own. Anyone without the unit or the internet sees the program work.
//
//   pexo-rigmora-demo [--keep] [--no-unit] [--slow-unit] [--no-catalogue] [--pool PATCHES] [--measure]
//                     [--screenshot FILE [--when patches|window] [--time-limit SECONDS]]
//   pexo-rigmora-demo --tour FOLDER [--pool PATCHES] [--measure] [--time-limit SECONDS]
//
// --keep leaves the demo folder in place at the end. --no-unit starts with nothing plugged in, --slow-unit
// lets the unit answer at a MIDI cable's pace (its patches take a while to read), --no-catalogue leaves
// the local catalogue empty so the program meets a server that has nothing. --pool starts with a saved
// patch pool of that many patches, a hundred to a group. --measure reports at the end when the first
// window (the splash) showed, the main loop's longest stall after it and the peak resident memory, and with
// a pool when its tree and its marks and warnings show. It
// tells on standard output when the splash, the main window, a sheet and the unit's read begin, and at the
// end whether the unit was let go. --screenshot saves a picture of the main window once the unit's patches
// have been read and the header shows the unit's picture (or, with --when window, once the main window
// shows) and ends the
// program: status 0 when saved, 1 when the moment never came in time (the picture of how far it got saved
// all the same), 2 when the picture was blank. --tour walks the window through its states once the patches
// are read (the effect update notice, effects screen, the effects sorted by use with an unloaded one
// picked, an effect loaded, a row's option menu, its delete question, the deleted row, an effect's
// properties, patch screen, a name and a comment edited in place and held by the unit, a patch changed on the unit, the list's end, ejected,
// connected again, then the patch pool: seeded with its backup open, a rename, rows saved into a group, a
// new group, a patch moved into a group; then a Shift range in the list, Backup All, the seeded backup
// restored with its result sheet, the Undo popover and the list after its undo) and saves a picture of each
// in FOLDER,
// with the same statuses.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DemoCatalogue.h"
#include "DemoFolder.h"
#include "DemoLargePool.h"
#include "DemoMeter.h"
#include "DemoPool.h"
#include "DemoUnit.h"
#include "DragTour.h"
#include "EffectTour.h"
#include "MenuTour.h"
#include "PoolShownMeter.h"
#include "PoolTour.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "WindowShot.h"
#include "app/ProgramEnvironment.h"
#include "app/shell/GraphicalSession.h"
#include "app/views/InterfaceTexts.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/Localizer.h"
#include "platform/files/ApplicationSupport.h"
#include "support/server/LoopbackServer.h"

namespace {

using Gestures = WindowGestures;

struct Options {
    bool keep = false;
    bool noUnit = false;
    bool slowUnit = false;
    bool noCatalogue = false;
    QString screenshot;
    QString tour;
    bool whenWindow = false;
    int timeLimitSeconds = 120;
    int poolPatches = 0;
    bool measure = false;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--keep") {
            options.keep = true;
        } else if (argument == "--no-unit") {
            options.noUnit = true;
        } else if (argument == "--slow-unit") {
            options.slowUnit = true;
        } else if (argument == "--no-catalogue") {
            options.noCatalogue = true;
        } else if (argument == "--measure") {
            options.measure = true;
        } else if (argument == "--screenshot" && hasValue) {
            options.screenshot = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--tour" && hasValue) {
            options.tour = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--when" && hasValue && (std::strcmp(argv[i + 1], "patches") == 0 ||
                                                        std::strcmp(argv[i + 1], "window") == 0)) {
            options.whenWindow = std::strcmp(argv[++i], "window") == 0;
        } else if (argument == "--pool" && hasValue && std::atoi(argv[i + 1]) >= 0) {
            options.poolPatches = std::atoi(argv[++i]);
        } else if (argument == "--time-limit" && hasValue && std::atoi(argv[i + 1]) > 0) {
            options.timeLimitSeconds = std::atoi(argv[++i]);
        } else if (argument.rfind("-", 0) == 0 && argument.rfind("-platform", 0) != 0) {
            std::fprintf(stderr, "pexo-rigmora-demo: unknown or incomplete option %s\n", argument.c_str());
            return false;
        }
    }
    return true;
}

bool mainWindowShows()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->inherits("MainWindow")) return true;
    return false;
}

// The header's picture of the connected unit.
bool devicePictureShows(QWidget& window)
{
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->inherits("ShowDeviceIconImageView") && label->isVisible() && !label->pixmap().isNull()) return true;
    return false;
}

bool sheetShows()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->inherits("QDialog")) return true;
    return false;
}

// Watches the run on the main thread: tells when the unit's patches have been read and, when asked,
// takes the picture and ends the program.
void watch(const Options& options, DemoUnit* const* unit)
{
    auto* timer = new QTimer(qApp);
    const auto started = std::chrono::steady_clock::now();
    auto reported = std::make_shared<bool>(false);
    auto told = std::make_shared<std::set<std::string>>();
    // Each moment once, for whoever waits on the demo's output (the termination tests do).
    const auto tell = [told](bool reached, const char* moment) {
        if (!reached || !told->insert(moment).second) return;
        std::printf("demo: %s\n", moment);
        std::fflush(stdout);
    };
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        const bool read = *unit != nullptr && (*unit)->patchesRead();
        tell(mainWindowShows(), "the main window shows");
        tell(sheetShows(), "a sheet shows");
        tell(*unit != nullptr && !read && (*unit)->patchRequests() > 0, "the unit is being read");
        if (read && !*reported) {
            *reported = true;
            std::printf("demo: the unit's %d patches have been read\n", (*unit)->patchCount());
            std::fflush(stdout);
        }
        QWidget* window = WindowShot::findWindow(QApplication::applicationName());
        tell(window != nullptr && devicePictureShows(*window), "the device picture shows");
        tell(window != nullptr && !window->windowIcon().isNull(), "the window carries its icon");
        if (options.screenshot.isEmpty()) return;
        // Once the patches are read the header shows the unit's picture: the picture waits for it.
        const bool ready = options.whenWindow ? window != nullptr : read && window != nullptr && devicePictureShows(*window);
        if (ready) {
            timer->stop();
            // One more turn of the event loop so the window has painted what it just received.
            QTimer::singleShot(500, qApp, [options, window] {
                const QString error = WindowShot::save(*window, options.screenshot);
                DemoMeter::ownWorkEnded();
                if (!error.isEmpty()) std::fprintf(stderr, "demo: %s\n", qPrintable(error));
                else std::printf("demo: saved %s\n", qPrintable(options.screenshot));
                std::fflush(stdout);
                QApplication::exit(error.isEmpty() ? 0 : 2);
            });
        } else if (std::chrono::steady_clock::now() - started > std::chrono::seconds(options.timeLimitSeconds)) {
            timer->stop();
            std::fprintf(stderr, "demo: %s did not come within %d seconds\n",
                         options.whenWindow ? "the main window"
                         : read             ? "the unit's picture"
                                            : "the read of the unit's patches",
                         options.timeLimitSeconds);
            // The picture of how far it got, to look into why.
            if (window != nullptr) WindowShot::save(*window, options.screenshot);
            QApplication::exit(1);
        }
    });
    timer->start(250);
}

// One state of the tour: what to do on arrival, and when the window shows the state.
struct TourStep {
    const char* picture;
    std::function<void(QWidget&)> act;
    std::function<bool()> reached;
};

void clickAt(QWidget* target, const QPoint& point)
{
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(point), target->mapToGlobal(QPointF(point)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
}

QModelIndex findRow(const QAbstractItemModel& model, const QString& text, const QModelIndex& parent = {})
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (index.data().toString() == text) return index;
        if (const QModelIndex found = findRow(model, text, index); found.isValid()) return found;
    }
    return {};
}

// The effect list sorted by use count, most used first, and an effect of the pool that is in the unit's
// list but not loaded selected, as a person would click them.
void sortByUseAndPickAnUnloadedEffect(QWidget& window)
{
    auto* table = window.findChild<QTableView*>(QStringLiteral("EffectTable"));
    auto* pool = window.findChild<QTreeView*>(QStringLiteral("EffectPool"));
    if (table == nullptr || pool == nullptr || pool->model() == nullptr) return;
    QHeaderView* header = table->horizontalHeader();
    const int usedTimes = 3;
    for (int i = 0; i < 2; ++i) clickAt(header->viewport(), QPoint(header->sectionViewportPosition(usedTimes) + 15, 10));
    const QModelIndex effect = findRow(*pool->model(), QStringLiteral("HallReverb"));
    if (!effect.isValid()) return;
    clickAt(pool->viewport(), pool->visualRect(effect.parent()).center());
    clickAt(pool->viewport(), pool->visualRect(effect).center());
}

// Walks the window through its states, each step's picture saved once it is reached and has painted.
void tour(const Options& options, DemoUnit* const* unit)
{
    QDir().mkpath(options.tour);
    const auto patches = [unit] { return *unit != nullptr ? (*unit)->patchRequests() : std::size_t{0}; };
    const auto full = [unit] { return static_cast<std::size_t>(*unit != nullptr ? (*unit)->patchCount() : 0); };
    // What the window shows depends on the interface language; the tour finds its way in any of them.
    const std::string language = platform::Localizer::languageFromEnvironment();
    const QString connectTitle = InterfaceTexts::localizedString("Main_MenuConnect");
    auto steps = std::make_shared<std::vector<TourStep>>(std::vector<TourStep>{
        // The unit's outdated effect is updated once connected, and the notice lists it.
        {"effect-update-notice.png", [](QWidget&) {}, EffectTour::updateNoticeShown},
        {"connected-effects.png", EffectTour::closeUpdateNotice,
         [=] { return full() > 0 && patches() >= full() && !EffectTour::updateNoticeShown(); }},
        {"effects-by-use.png", sortByUseAndPickAnUnloadedEffect, [] { return true; }},
        // The effect the unit's list lacks, loaded with the Load button.
        {"effect-loaded.png", EffectTour::loadEffect,
         [unit] { return EffectTour::unitHoldsLoaded(**unit, EffectTour::kLoadedEffect) == std::optional<bool>(true); }},
        {"effect-menu.png", EffectTour::openMenu, EffectTour::menuShown},
        {"effect-delete-question.png", EffectTour::askToDelete, EffectTour::deleteQuestionShown},
        // The row shows its effect deleted, and the unit no longer holds it loaded.
        {"effect-deleted.png", EffectTour::confirmDelete,
         [unit] {
             return !EffectTour::deleteQuestionShown() &&
                    EffectTour::unitHoldsLoaded(**unit, EffectTour::kDeletedEffect) == std::optional<bool>(false);
         }},
        {"effect-property.png", EffectTour::showProperties, EffectTour::propertiesShown},
        {"connected-patches.png",
         [](QWidget& w) {
             EffectTour::closeProperties(w);
             // The menu and the sheets took the activation; the window takes it back for the typing ahead.
             w.activateWindow();
             Gestures::clickButton(w, "patchManagerButton");
         },
         // The list shows the unit's comments in the interface language.
         [unit, language] {
             const auto comment = (*unit)->patchCommentAt(0, language);
             return !EffectTour::propertiesShown() && comment && !comment->empty() &&
                    Gestures::patchListText(0, 2).toStdString() == *comment;
         }},
        // A name edited in place: a double click on the second slot's name, a new name typed.
        {"patch-name-editing.png",
         [](QWidget& w) {
             Gestures::doubleClickPatchList(w, 1, 1);
             Gestures::type(QStringLiteral("Tour Edit"));
         },
         [] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }},
        // Return commits it: the list shows it and the unit holds it.
        {"patch-name-committed.png", [](QWidget&) { Gestures::type({}, Qt::Key_Return); },
         [unit] { return Gestures::patchListText(1, 1) == QStringLiteral("Tour Edit") && (*unit)->patchNameAt(1) == "Tour Edit"; }},
        // A comment edited in place: everything typed over, then a click elsewhere commits it.
        {"patch-comment-editing.png",
         [](QWidget& w) {
             Gestures::doubleClickPatchList(w, 2, 2);
             Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
             Gestures::type(QStringLiteral("Tour comment"));
         },
         [] { return qobject_cast<QPlainTextEdit*>(QApplication::focusWidget()) != nullptr; }},
        {"patch-comment-committed.png",
         [](QWidget& w) {
             if (QTableView* table = Gestures::patchList(w)) table->setFocus();
         },
         // The comment typed is the one of the interface language; the unit keeps the other as it was.
         [unit, language] {
             return Gestures::patchListText(2, 2) == QStringLiteral("Tour comment") &&
                    (*unit)->patchCommentAt(2, language) == "Tour comment";
         }},
        // A patch changed on the unit arrives after the quiet time.
        {"patch-changed-on-unit.png",
         [unit](QWidget&) { (*unit)->editOnUnit(3, "On Unit", "Changed on the unit", "本体で変更"); },
         [] { return Gestures::patchListText(3, 1) == QStringLiteral("On Unit"); }},
        {"patch-list-end.png",
         [](QWidget& w) {
             if (QTableView* table = Gestures::patchList(w)) table->scrollToBottom();
         },
         [] { return true; }},
        // Ejected once the window offers to connect again.
        {"ejected.png", [](QWidget& w) { Gestures::clickButton(w, "ejectButton"); },
         [connectTitle] {
             QWidget* w = WindowShot::findWindow(QApplication::applicationName());
             return w != nullptr && Gestures::enabledAction(*w, connectTitle) != nullptr;
         }},
        {"connected-again.png",
         [connectTitle](QWidget& w) {
             if (QAction* connect = Gestures::enabledAction(w, connectTitle)) connect->trigger();
         },
         [=] { return patches() >= 2 * full(); }},
        // Back on the patch screen: the seeded pool, then one of each of its edits.
        {"pool-seeded.png", PoolTour::openBackupGroup, PoolTour::backupGroupOpen},
        {"pool-renamed.png", PoolTour::renamePatch, PoolTour::patchRenamed},
        {"pool-rows-saved.png", PoolTour::saveDeviceRowsIntoGroup, PoolTour::rowsSaved},
        {"pool-new-group.png", PoolTour::createGroup, PoolTour::groupCreated},
        {"pool-moved.png", PoolTour::movePatchIntoGroup, PoolTour::patchMoved},
        // Selection, Backup All, Restore All and undo.
        {"list-shift-range.png", UndoTour::selectShiftRange, UndoTour::shiftRangeSelected},
        {"pool-backup-all.png", UndoTour::backUpAll, UndoTour::backedUp},
        {"restore-result.png", UndoTour::restoreSeededBackup, UndoTour::restoreResultShown},
        {"undo-popover.png", UndoTour::openUndoPopover, UndoTour::undoPopoverShown},
        {"list-after-undo.png", UndoTour::undoFromPopover, UndoTour::listUndone},
        // Drags, played as drag events with the views' own drag data.
        {"drag-list-marker.png", DragTour::holdReorderOverList, DragTour::listMarkerShown},
        {"drag-pool-marker.png", DragTour::holdRowsOverPoolGroup, DragTour::poolMarkerShown},
        {"drag-rows-new-group.png", DragTour::dropRowsAsNewGroup, DragTour::rowsDroppedAsGroup},
        {"drag-backup-restored.png", DragTour::dropBackupOnList, DragTour::backupRestored},
        // The option menus by right clicks, Delete from the pool's, and the two property sheets.
        {"menu-list.png", MenuTour::openListMenu, MenuTour::listMenuShown},
        {"menu-pool.png", MenuTour::openPoolMenu, MenuTour::poolMenuShown},
        {"pool-deleted.png", MenuTour::deleteFromPoolMenu, MenuTour::patchDeleted},
        {"sheet-patch.png", MenuTour::openPatchSheet, MenuTour::patchSheetShown},
        {"sheet-backup-group.png", MenuTour::openBackupGroupSheet, MenuTour::backupGroupSheetShown},
    });
    auto next = std::make_shared<std::size_t>(0);
    auto acted = std::make_shared<bool>(false);
    auto actedAt = std::make_shared<std::chrono::steady_clock::time_point>();
    auto* timer = new QTimer(qApp);
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* window = WindowShot::findWindow(QApplication::applicationName());
        if (window == nullptr) return;
        const TourStep& step = (*steps)[*next];
        // A step acts again while its state has not come, as a click can land while the window is busy.
        if (!*acted || std::chrono::steady_clock::now() - *actedAt > std::chrono::seconds(3)) {
            *acted = true;
            *actedAt = std::chrono::steady_clock::now();
            // The unit's outdated effects are listed again after each later check for updates; past its
            // own step the notice is read and closed, as a person would.
            if (std::strcmp(step.picture, "effect-update-notice.png") != 0) EffectTour::closeUpdateNotice(*window);
            step.act(*window);
            return;
        }
        if (step.reached()) {
            // The state has arrived: a second for it to settle and paint, then its picture.
            timer->stop();
            QTimer::singleShot(1000, qApp, [=] {
                const QString path = QDir(options.tour).filePath(QString::fromLatin1(step.picture));
                const QString error = WindowShot::save(*window, path);
                DemoMeter::ownWorkEnded();
                if (!error.isEmpty()) {
                    std::fprintf(stderr, "demo: %s\n", qPrintable(error));
                    QApplication::exit(2);
                    return;
                }
                std::printf("demo: saved %s\n", qPrintable(path));
                std::fflush(stdout);
                *acted = false;
                if (++*next == steps->size()) QApplication::exit(0);
                else timer->start();
            });
        } else if (std::chrono::steady_clock::now() - started > std::chrono::seconds(options.timeLimitSeconds)) {
            timer->stop();
            std::fprintf(stderr, "demo: the tour did not reach %s within %d seconds\n", step.picture,
                         options.timeLimitSeconds);
            // The picture of how far it got, to look into why.
            WindowShot::save(*window, QDir(options.tour).filePath(QStringLiteral("unreached-") +
                                                                  QString::fromLatin1(step.picture)));
            QApplication::exit(1);
        }
    });
    timer->start(250);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) return 64;

    // Nothing to leave behind when no window could open anyway.
    if (const std::string missing = GraphicalSession::whatIsMissing(argc, argv); !missing.empty()) {
        std::fprintf(stderr, "pexo-rigmora-demo: %s\n", missing.c_str());
        return 1;
    }
    DemoFolder folder;
    if (!folder.valid()) {
        std::fprintf(stderr, "pexo-rigmora-demo: %s\n", folder.error().c_str());
        return 1;
    }
    if (options.keep) folder.keep();
    const auto resources = platform::Bundle::locateResources();
    if (!resources) {
        std::fprintf(stderr, "pexo-rigmora-demo: the program's resources folder is missing\n");
        return 1;
    }
    support::LoopbackServer server;
    if ((!options.noCatalogue && !DemoCatalogue::serve(server, folder.scratch())) ||
        !folder.install(*resources, DemoCatalogue::configurationEntries(server))) {
        std::fprintf(stderr, "pexo-rigmora-demo: %s\n",
                     folder.error().empty() ? "cannot pack the catalogue's archives" : folder.error().c_str());
        return 1;
    }

    // The environment is read only now, after the demo folder has taken the place of the user's.
    ProgramEnvironment environment;
    environment.rootFolder = platform::ApplicationSupport::rootFolder();
    std::string poolError;
    if (!DemoPool::write(environment.rootFolder, poolError)) {
        std::fprintf(stderr, "pexo-rigmora-demo: %s\n", poolError.c_str());
        return 1;
    }
    if (options.poolPatches > 0 && !DemoLargePool::seed(environment.rootFolder, options.poolPatches, poolError)) {
        std::fprintf(stderr, "pexo-rigmora-demo: cannot seed the patch pool: %s\n", poolError.c_str());
        return 1;
    }
    environment.configuration = platform::Configuration::load(platform::Bundle::main());
    DemoUnit* unit = nullptr;
    std::chrono::steady_clock::time_point started;
    environment.midiSystem = [&unit, &options](platform::Dispatch& dispatch) -> std::shared_ptr<platform::MidiSystem> {
        if (options.noUnit) return std::make_shared<platform::VirtualMidiSystem>(dispatch);
        auto made = std::make_shared<DemoUnit>(dispatch);
        // 3,125 bytes a second: a MIDI cable's rate.
        if (options.slowUnit) made->unit().setPacing(3125.0, std::chrono::microseconds(0));
        // The unit goes with the program's MIDI system, after the program's own end.
        made->setEndReport([](bool connected, bool letGo) {
            if (!connected) return;
            std::printf("demo: the unit was %s\n", letGo ? "let go" : "never let go");
            std::fflush(stdout);
        });
        unit = made.get();
        return DemoUnit::system(made);
    };
    // The process ends at once when the display cannot be opened: the folder goes first.
    environment.cannotOpenWindows = [&folder] { folder.remove(); };
    environment.launched = [&] {
        if (options.measure) new DemoMeter(started, qApp);
        if (options.measure && options.poolPatches > 0) new PoolShownMeter(started, environment.rootFolder, qApp);
        std::printf("demo: the splash shows\ndemo: data folder %s\ndemo: catalogue at %s\ndemo: simulated unit with %d patches\n",
                    environment.rootFolder.c_str(), server.url("/v1/effects.json").c_str(),
                    unit != nullptr ? unit->patchCount() : 0);
        std::fflush(stdout);
        if (options.tour.isEmpty()) watch(options, &unit);
        else tour(options, &unit);
    };
    // The program's own start: the demo's folder, catalogue and pool are ready by now.
    started = std::chrono::steady_clock::now();
    const int status = runProgram(argc, argv, environment);
    std::printf("demo: ended with status %d\n", status);
    return status;
}
