// The pool's background copies and saves against what the user and the system do meanwhile. Each run ends
// by reading the saved library as the next start does and comparing it with the pool shown at the end.

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <numeric>
#include <ostream>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "DemoPool.h"
#include "DemoUnit.h"
#include "DragTour.h"
#include "HeldFiles.h"
#include "MenuTour.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/controls/RightClickButton.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "app/views/InterfaceTexts.h"
#include "device/formats/OKVPatch.h"
#include "library/CommonUtils.h"
#include "platform/bundle/StringFormat.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/LibraryFiles.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using namespace held_files;

// Runs cut short or failed at their end, and the start after them that shows the pool they kept: an earlier
// run (a disabled test that only its starting test runs) notes in the scratch folder the pool it showed and
// when it stands where it is to be killed; the next start reads the notes.
namespace {

constexpr bool (*writeText)(const std::filesystem::path&, std::string_view) = &ProgramRig::writeFile;
constexpr auto readText = &ProgramRig::readFile;

// The pool as lines, "name" for a patch and "name/child" for each patch of a group ("name/" without).
inline std::string poolText(const std::vector<PoolTour::Shown>& pool)
{
    std::string text;
    for (const auto& entry : pool) {
        if (!entry.group) text += entry.name + "\n";
        else if (entry.children.empty()) text += entry.name + "/\n";
        for (const auto& child : entry.children) text += entry.name + "/" + child + "\n";
    }
    return text;
}

// The earlier run's side: the pool it shows now, for the next start; that it stands still where it is to
// be killed; the row of its table the starting test named.
inline void noteShown(const ProgramRig& rig) { writeText(rig.scratch() / "shown.txt", poolText(PoolTour::shownPool())); }
inline void readyToBeKilled(const std::filesystem::path& scratch) { writeText(scratch / "killed", ""); }
inline std::string earlierRow(const ProgramRig& rig) { return readText(rig.scratch() / "row.txt"); }

// An earlier run on a file manager whose faults `body` arms.
inline void faultyRun(ProgramRig& rig, const std::function<void(ProgramRig&, FaultyFileManager&)>& body)
{
    auto faulty = std::make_shared<FaultyFileManager>();
    rig.setFiles(faulty);
    rig.runToTheEnd([&](ProgramRig& rig) { body(rig, *faulty); });
}

// The starting test's side: runs `test` told the row `row`, and kills it once it is ready; whether it was.
inline bool runKilled(ProgramRig& rig, const std::string& test, const std::string& row = {})
{
    writeText(rig.scratch() / "row.txt", row);
    return rig.runEarlierRunKilledAt(test, "killed");
}
inline std::string shownByTheEarlierRun(const ProgramRig& rig) { return readText(rig.scratch() / "shown.txt"); }

// The start after such a run: the patch screen shows and says the last run's pool was kept, and that
// notice is closed. The rig's own wait for the patch screen looks for the saved library's groups:
// `anyPool`, for a kept pool that shows them otherwise (one renamed or deleted), the screen is only
// switched to.
inline void keptPoolTold(ProgramRig& rig, bool anyPool = false)
{
    if (anyPool) WindowGestures::clickButton(rig.window(), "patchManagerButton");
    else ASSERT_TRUE(rig.showPatchScreen());
    ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 30s));
    EXPECT_EQ(ProgramRig::informationText(), InterfaceTexts::localizedString("Main_PatchPoolKeptFromLastRun").toStdString());
    ProgramRig::closeInformation();
}

// The next start up to its quit: `atStart`, then the pool once what the start says is read; that pool.
inline std::vector<PoolTour::Shown> nextStart(ProgramRig& rig, const std::function<void(ProgramRig&)>& atStart =
                                                                    [](ProgramRig& rig) { keptPoolTold(rig); })
{
    std::vector<PoolTour::Shown> shown;
    rig.runToTheEnd([&](ProgramRig& rig) {
        atStart(rig);
        if (::testing::Test::HasFatalFailure()) return;
        ProgramRig::settle(300ms);
        ProgramRig::dismissUpdateNotice();
        shown = PoolTour::shownPool();
        rig.quitWhenOffered();
    });
    return shown;
}

}  // namespace

using Shown = PoolTour::Shown;

// An entry of the pool, in a failure's message.
void PrintTo(const PoolTour::Shown& entry, std::ostream* out)
{
    *out << entry.name << (entry.group ? "[" + std::to_string(entry.children.size()) + "]" : "");
}

namespace {

const auto patchNameOf = &ProgramRig::patchNameOf;

// "[n] name" as the saved library orders its entries; n is -1 without a prefix.
std::pair<long, std::string> savedPosition(const std::string& name)
{
    const auto close = name.find("] ");
    long position = -1;
    if (name.rfind("[", 0) == 0 && close != std::string::npos &&
        std::from_chars(name.data() + 1, name.data() + close, position).ec == std::errc())
        return {position, name.substr(close + 2)};
    return {-1, name};
}

std::vector<fs::path> entriesIn(const fs::path& folder)
{
    std::vector<fs::path> entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
        return savedPosition(a.filename().string()).first < savedPosition(b.filename().string()).first;
    });
    return entries;
}

// The saved library as the next start shows it: the readable patches at the top and one group deep, in
// their saved order.
std::vector<Shown> savedPool(const fs::path& library)
{
    std::vector<std::pair<long, Shown>> entries;
    for (const char* part : {"Pool", "Backup"}) {
        for (const fs::path& path : entriesIn(library / part)) {
            const auto [position, name] = savedPosition(path.filename().string());
            if (!fs::is_directory(path)) {
                if (const auto patch = patchNameOf(path)) entries.push_back({position, {*patch, false, {}}});
                continue;
            }
            Shown group{name, true, {}};
            if (std::string(part) == "Backup") std::replace(group.name.begin(), group.name.end(), '-', ':');
            for (const fs::path& child : entriesIn(path))
                if (const auto patch = patchNameOf(child)) group.children.push_back(*patch);
            entries.push_back({position, std::move(group)});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Shown> pool;
    for (auto& entry : entries) pool.push_back(std::move(entry.second));
    return pool;
}

// The readable patch files of the working copy, at the top and one folder deep.
std::size_t workingCopyPatches(const fs::path& local)
{
    std::size_t count = 0;
    for (const fs::path& path : entriesIn(local))
        for (const fs::path& file : fs::is_directory(path) ? entriesIn(path) : std::vector<fs::path>{path})
            count += patchNameOf(file) ? 1 : 0;
    return count;
}

std::vector<std::string> temporariesUnder(const fs::path& folder)
{
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        if (platform::LocalFileManager::isTemporaryName(it->path().filename().string())) found.push_back(it->path().string());
    return found;
}

const Shown* shownNamed(const std::vector<Shown>& pool, const std::string& name)
{
    const auto found = std::find_if(pool.begin(), pool.end(), [&](const auto& entry) { return entry.name == name; });
    return found == pool.end() ? nullptr : &*found;
}

std::size_t childrenOf(const std::string& name)
{
    const auto pool = PoolTour::shownPool();
    const auto* entry = shownNamed(pool, name);
    return entry ? entry->children.size() : 0;
}

// The pool's lines shown at a quit, in order, and the same as a set of lines counted.
std::vector<std::string> linesInOrder(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

std::multiset<std::string> linesOf(const std::string& text)
{
    const std::vector<std::string> lines = linesInOrder(text);
    return {lines.begin(), lines.end()};
}

std::string texts(const char* key) { return InterfaceTexts::localizedString(key).toStdString(); }

}  // namespace

// The whole program once, on a file manager that holds what a test asks it to.
class PoolSafety : public ::testing::Test {
protected:
    PoolSafety() { rig.setFiles(files); }

    // Runs the program through `body` on the patch screen; `heldDrop`, 300 "Held" files are dropped first
    // and the first of their copies held. No gate was left to open by its time limit.
    void run(const std::function<void(QWidget&)>& body, bool heldDrop = false)
    {
        rig.runToTheEnd([&](ProgramRig&) {
            ASSERT_TRUE(rig.showPatchScreen());
            if (heldDrop) {
                before = patchesShown(PoolTour::shownPool());
                held = dropHeldPatches(rig, *files, before);
                ASSERT_FALSE(held.empty());
            }
            body(rig.window());
        });
        EXPECT_FALSE(files->save.wasTimedOut()) << "the main loop stood still while the pool was written";
        EXPECT_FALSE(files->copies.wasTimedOut()) << "a step waited for the drop's held copies";
    }
    // The same, and the library then holds the pool `body` left in `shown`.
    void runAndCompare(const std::function<void(QWidget&)>& body, bool heldDrop = false)
    {
        run(body, heldDrop);
        expectTheLibraryHoldsWhatWasShown();
    }
    // `steps` (after a rename, `renameFirst`, which the library then holds too), then Quit from the menu while
    // whatever they left runs on.
    void stepsThenQuit(const std::function<void(QWidget&)>& steps, bool renameFirst = false)
    {
        run([&](QWidget& window) {
            ASSERT_TRUE(!renameFirst || ProgramRig::renamePoolPatch());
            steps(window);
            if (HasFatalFailure()) return;
            shown = PoolTour::shownPool();
            rig.quitFromMenu();
        });
        ASSERT_FALSE(shown.empty());
        expectTheLibraryHoldsWhatWasShown();
        EXPECT_TRUE(!renameFirst || shownNamed(shown, PoolTour::kRenamedTo));
    }

    // What the next start finds: the library shows what the pool showed at the end, every patch of the
    // working copy has its node, and no temporary is anywhere.
    void expectTheLibraryHoldsWhatWasShown()
    {
        EXPECT_EQ(savedPool(), shown);
        EXPECT_EQ(workingCopyPatches(rig.workingCopy()), patchesShown(shown));
        EXPECT_EQ(temporariesUnder(rig.root() / "QFXMacApplication"), std::vector<std::string>{});
        EXPECT_EQ(temporariesUnder(rig.workingCopy()), std::vector<std::string>{});
    }
    // The next start after a killed or failed run showed `text`, its quit saved it, and no kept pool is left.
    void expectTheNextStartShowed(const std::string& text)
    {
        EXPECT_EQ(poolText(shown), text);
        expectTheLibraryHoldsWhatWasShown();
        EXPECT_EQ(keptPools(), std::vector<std::string>{});
    }

    std::vector<Shown> savedPool() const { return ::savedPool(rig.library()); }
    std::vector<std::string> keptPools() const
    {
        std::vector<std::string> kept;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(rig.root(), error))
            if (entry.path().filename().string().rfind(CommonUtils::kKeptPool, 0) == 0) kept.push_back(entry.path().string());
        return kept;
    }
    std::vector<std::int64_t> rows()
    {
        std::vector<std::int64_t> all(static_cast<std::size_t>(rig.unit().patchCount()));
        std::iota(all.begin(), all.end(), 0);
        return all;
    }
    // Saves all the unit's rows into `group`; whether they show there at once.
    bool saveAllRowsInto(const std::string& group)
    {
        const std::size_t into = childrenOf(group);
        PoolTour::saveDeviceRowsInto(rig.window(), group, rows());
        return childrenOf(group) == into + rows().size();
    }
    // Whether the pool came to rest with every copy landed in the working copy.
    bool copiesDone()
    {
        return ProgramRig::waitUntil(PoolTour::poolAtRest, 60s) &&
               ProgramRig::waitUntil([&] { return PoolTour::copiesLanded(rig.workingCopy().string()); }, 60s);
    }
    // Once the library's save is held, `look` runs in the window's loop.
    void onceTheSaveIsHeld(std::function<void()> look)
    {
        auto* timer = new QTimer(qApp);
        QObject::connect(timer, &QTimer::timeout, [this, timer, look = std::move(look)] {
            if (!files->save.isHeld()) return;
            timer->stop();
            look();
        });
        timer->start(5);
    }

    ProgramRig rig;
    std::shared_ptr<HeldFiles> files = std::make_shared<HeldFiles>();
    // The pool the library must hold once the program ended.
    std::vector<Shown> shown;
    // The patches shown before a held drop, and its files.
    std::size_t before = 0;
    std::vector<std::string> held;
};

// A rename, a save undone before its copies land, and 3,000 dropped files still being copied at the quit:
// the undo takes back the save (not the rename), and the quit keeps every edit the pool showed.
TEST_F(PoolSafety, QuitWhileCopiesRunKeepsEveryEditAndAnEarlyUndoTakesBackTheSave)
{
    stepsThenQuit([&](QWidget& window) {
        const std::size_t into = childrenOf(DemoPool::kGroupName);
        EXPECT_TRUE(saveAllRowsInto(DemoPool::kGroupName));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return childrenOf(DemoPool::kGroupName) == into; }, 10s));
        EXPECT_TRUE(PoolTour::showsTopLevel(PoolTour::kRenamedTo));
        // Quit as soon as the files show, while their copies are made.
        ASSERT_FALSE(drop(rig, "Drop", 3000, patchesShown(PoolTour::shownPool())).empty());
    }, true);
}

// A drop is the user's gesture when it is made: an undo right after it (while its files are read or copied,
// or once they landed) takes the drop back, none of its patches stays, and the rename before it does.
TEST_F(PoolSafety, AnUndoRightAfterADropTakesTheDropBackAndKeepsTheRename)
{
    stepsThenQuit([&](QWidget& window) {
        const auto pool = PoolTour::shownPool();
        const auto paths = held_files::write(rig.scratch(), "Drop", 3000);
        for (const int delay : {0, 3, 30, 150, 600}) {
            DragTour::dropFilesOnPool(window, paths);
            ProgramRig::settle(std::chrono::milliseconds(delay));
            ASSERT_TRUE(ProgramRig::undoFromThePopover(window)) << delay;
            ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s)) << delay;
            EXPECT_EQ(PoolTour::shownPool(), pool) << delay;
        }
    }, true);
}

// Files dropped on a group (landing in a new group beside it), the group deleted before they are read: the
// first undo brings the group back, the next takes the drop back, and the rename before both stays.
TEST_F(PoolSafety, AGroupDeletedWhileADropIsReadComesBackAtTheFirstUndo)
{
    stepsThenQuit([&](QWidget& window) {
        const auto pool = PoolTour::shownPool();
        const std::size_t children = childrenOf(DemoPool::kGroupName);
        ASSERT_GT(children, 0u);
        // The group's menu is open first, so its delete follows the drop in the same turn, before any of
        // the dropped files can have been read.
        const auto paths = held_files::write(rig.scratch(), "Into", 3000);
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            MenuTour::openPoolMenuOfItem(window, DemoPool::kGroupName);
            return MenuTour::poolMenuShown();
        }, 10s));
        DragTour::dropFilesOnPoolItem(window, paths, DemoPool::kGroupName);
        MenuTour::deleteFromPoolMenuOf(window, DemoPool::kGroupName);
        EXPECT_FALSE(PoolTour::showsTopLevel(DemoPool::kGroupName));
        // The files land after the delete, in a new group where the deleted one was pointed at.
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s));
        EXPECT_EQ(patchesShown(PoolTour::shownPool()), patchesShown(pool) - children + 3000);
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel(DemoPool::kGroupName); }, 10s))
            << testing::PrintToString(PoolTour::shownPool());
        EXPECT_EQ(childrenOf(DemoPool::kGroupName), children);
        EXPECT_EQ(patchesShown(PoolTour::shownPool()), patchesShown(pool) + 3000);
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return PoolTour::shownPool() == pool; }, 10s)) << testing::PrintToString(PoolTour::shownPool());
    }, true);
}

// A rename, a delete and its undo of patches a large drop's copies do not touch, and a rename of the group
// they go into, while they are made: each lands as shown.
TEST_F(PoolSafety, StepsWhileALargeDropIsCopiedKeepTheirOrder)
{
    stepsThenQuit([&](QWidget& window) {
        const std::size_t topBefore = PoolTour::shownPool().size();
        ASSERT_FALSE(drop(rig, "Copy", 3000, patchesShown(PoolTour::shownPool())).empty());
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            MenuTour::deleteFromPoolMenuOf(window, PoolTour::kRenamedTo);
            return !PoolTour::showsTopLevel(PoolTour::kRenamedTo);
        }, 10s));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel(PoolTour::kRenamedTo); }, 10s));
        ASSERT_EQ(PoolTour::shownPool().size(), topBefore + 1);
        PoolTour::renameItem(window, PoolTour::shownPool().back().name.c_str(), "Copied Set");
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("Copied Set"); }, 10s));
        EXPECT_EQ(childrenOf("Copied Set"), 3000u);
    });
    EXPECT_TRUE(shownNamed(shown, PoolTour::kRenamedTo));
    EXPECT_TRUE(shownNamed(shown, "Copied Set"));
}

// Steps that meet a drop's held copies are done at once, each making only the copies it meets: a move and
// a delete of the drop's own patches (their copies made for them), Back Up All, the unit's rows saved into
// a group and as a new group and each undone before its copies began (the undo leaves the list's working
// files they were to be copied from, and Back Up All still finds every row's file), and the pool patch
// sheet's Save on a dropped patch (its own copy landed and rewritten, none of the drop's others).
TEST_F(PoolSafety, StepsOnADropsPatchesWaitOnlyForTheCopiesTheyMeet)
{
    runAndCompare([&](QWidget& window) {
        const std::string local = rig.workingCopy().string();
        const auto backUpAll = [&] {
            ASSERT_TRUE(ProgramRig::waitUntil([&] {
                UndoTour::backUpAll(window);
                return UndoTour::backedUp();
            }, 10s));
            EXPECT_FALSE(ProgramRig::informationShown()) << ProgramRig::informationText();
        };
        const std::size_t into = childrenOf(DemoPool::kGroupName);
        const std::string dropped = PoolTour::shownPool().back().name;
        PoolTour::moveChildrenInto(window, dropped, 5, DemoPool::kGroupName);
        EXPECT_EQ(childrenOf(DemoPool::kGroupName), into + 5);
        PoolTour::deleteChildren(window, dropped, 5);
        EXPECT_EQ(childrenOf(dropped), 290U);
        backUpAll();
        EXPECT_FALSE(PoolTour::copiesLanded(local)) << "a step waited for the drop's copies";

        const fs::path rowsFolder = rig.root() / "Temp" / "Device" / "Patch";
        const auto rowFiles = ProgramRig::patchNamesIn(rowsFolder);
        ASSERT_FALSE(rowFiles.empty());
        ASSERT_TRUE(saveAllRowsInto(DemoPool::kGroupName));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return childrenOf(DemoPool::kGroupName) == into + 5; }, 10s));
        const std::size_t topBefore = PoolTour::shownPool().size();
        PatchManagerViewController* screen = ProgramRig::patchScreen();
        screen->createNewGroupWithPatchIndexs({0, 1, 2}, nullptr, false);
        ASSERT_EQ(PoolTour::shownPool().size(), topBefore + 1);
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return PoolTour::shownPool().size() == topBefore; }, 10s));
        EXPECT_EQ(ProgramRig::patchNamesIn(rowsFolder), rowFiles) << "an undo moved the list's working files";
        EXPECT_TRUE(ProgramRig::patchNamesIn(rig.root() / "Temp" / "RecycleBin" / DemoPool::kGroupName).empty());
        backUpAll();

        const auto& pool = screen->structureData();
        const auto group = *std::find_if(pool.begin(), pool.end(), [&](const auto& node) { return node->name == dropped; });
        ASSERT_TRUE(group->isGroup && group->childDirectories.size() == 290);
        const auto patch = group->childDirectories[150];
        screen->didClickOnPropertyButtonAtItem(window.findChild<PatchPoolOutlineView*>(), patch, group);
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            return screen->patchPropertyViewController() != nullptr && screen->patchPropertyViewController()->isVisible();
        }, 10s));
        screen->patchPropertyViewController()->patchNameTextField()->setText(QStringLiteral("Sheet Made"));
        screen->patchPropertyViewController()->saveButtonClicked();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return patch->name == std::optional<std::string>("Sheet Made"); }, 10s));
        EXPECT_EQ(patch->patchItem()->path.rfind(local, 0), 0U) << patch->patchItem()->path;
        EXPECT_FALSE(PoolTour::copiesLanded(local));
        EXPECT_FALSE(files->copies.isReleased()) << "a step waited for the drop's copies";
        files->copies.release();
        ASSERT_TRUE(copiesDone());
        shown = PoolTour::shownPool();
        rig.quitFromMenu();
    }, true);
    const auto* into = shownNamed(shown, DemoPool::kGroupName);
    const auto* dropped = shownNamed(shown, "New Patch Group 1");
    ASSERT_TRUE(into != nullptr && dropped != nullptr);
    EXPECT_EQ(std::count_if(into->children.begin(), into->children.end(), [](const auto& name) { return name.starts_with("Held"); }), 5);
    EXPECT_EQ(std::count(dropped->children.begin(), dropped->children.end(), "Sheet Made"), 1);
}

// The pool under its busy cover (a second drop read behind the first one's held copies) takes the pointer:
// a click through the window selects a row, and the right button's menu deletes it at once, and kept.
TEST_F(PoolSafety, ThePoolTakesThePointerUnderItsBusyCover)
{
    runAndCompare([&](QWidget& window) {
        auto* view = window.findChild<PatchPoolOutlineView*>();
        PatchManagerViewController* screen = ProgramRig::patchScreen();
        ASSERT_NE(screen, nullptr);
        DragTour::dropFilesOnPool(window, held_files::write(rig.scratch(), "Behind", 20));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return screen->patchPoolIndicator()->isVisible(); }, 10s));
        const auto first = screen->structureData().front();
        const QModelIndex row = view->poolModel()->indexOf(first.get());
        view->clearSelection();
        QWidget* top = view->window();
        const QPoint at = view->viewport()->mapTo(top, view->visualRect(row).center());
        EXPECT_EQ(top->childAt(at), view->viewport());
        const auto click = [&](Qt::MouseButton button) {
            for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QMouseEvent event(type, QPointF(at), top->mapToGlobal(QPointF(at)), button,
                                  type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(top->windowHandle(), &event);
            }
        };
        click(Qt::LeftButton);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return view->selectionModel()->isRowSelected(row.row(), row.parent()); }, 10s));
        EXPECT_TRUE(screen->patchPoolIndicator()->isVisible());
        click(Qt::RightButton);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return view->optionMenu() != nullptr && view->optionMenu()->isVisible(); }, 10s));
        view->optionMenu()->deleteButton()->click();
        const auto& pool = screen->structureData();
        EXPECT_EQ(std::find(pool.begin(), pool.end(), first), pool.end());
        EXPECT_FALSE(files->copies.isReleased());
        files->copies.release();
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s));
        shown = PoolTour::shownPool();
        rig.quitFromMenu();
    }, true);
}

// The quit's save after a large drop says so on the busy line, the Eject and every menu action off, and the
// window goes on while the library is written: a close asked meanwhile, a sleep, a power-off and a second end
// by signal run in the window's loop and start nothing more. The pool is written once, no note of a cut run
// left.
TEST_F(PoolSafety, TheQuitsSaveAfterALargeDropSaysSoOnTheBusyLineAndStartsNothingMore)
{
    std::string line;
    bool ejectOff = false;
    bool quitOff = false;
    runAndCompare([&](QWidget& window) {
        ASSERT_FALSE(drop(rig, "Drop", 300, patchesShown(PoolTour::shownPool())).empty());
        ASSERT_TRUE(copiesDone());
        shown = PoolTour::shownPool();
        files->armSave();
        onceTheSaveIsHeld([&] {
            line = WindowGestures::busyLine(window).toStdString();
            auto* eject = window.findChild<QWidget*>(QStringLiteral("ejectButton"));
            ejectOff = eject == nullptr || !eject->isEnabled();
            quitOff = WindowGestures::enabledAction(window, QStringLiteral("Quit")) == nullptr;
            window.close();
            CommonUtils::getInstance().receiveSleepNote();
            CommonUtils::getInstance().powerOffNotification();
            rig.endBySignal(SIGTERM);
            // Their own steps run in the loop before the save goes on.
            QTimer::singleShot(0, qApp, [this] { files->save.release(); });
        });
        rig.quitFromMenu();
    });
    EXPECT_NE(line.find(texts("Main_BusySavingPoolAtQuit")), std::string::npos) << line;
    EXPECT_TRUE(ejectOff);
    EXPECT_TRUE(quitOff);
    EXPECT_EQ(files->saves, 1);
    EXPECT_FALSE(fs::exists(rig.closingNote()));
    EXPECT_FALSE(fs::exists(rig.root() / "Temp" / ".closing-pool.taken"));
}

// Disconnect's save is written with the window live: Connect is offered meanwhile, and a connection made
// then keeps the pool as it showed, which the library then holds.
TEST_F(PoolSafety, ADisconnectsSaveIsWrittenWithTheWindowLiveAndAReconnectMeanwhileKeepsThePool)
{
    run([&](QWidget&) {
        ASSERT_TRUE(renameThenHoldTheSave(*files, [] { ProgramRig::choose("Disconnect"); }));
        const auto pool = PoolTour::shownPool();
        EXPECT_TRUE(ProgramRig::offers("Connect"));
        EXPECT_TRUE(files->save.isHeld());
        ProgramRig::choose("Connect");
        ProgramRig::settle(200ms);
        files->save.release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return rig.connectedAndRead(); }, 60s));
        ASSERT_TRUE(rig.showPatchScreen());
        EXPECT_EQ(PoolTour::shownPool(), pool);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return savedPool() == pool; }, 30s)) << testing::PrintToString(savedPool());
    });
}

// A quit asked while Disconnect's save is written ends behind that save, with nothing left to write and no
// note of a cut run.
TEST_F(PoolSafety, AQuitWhileADisconnectsSaveIsWrittenEndsBehindItAndLeavesNoNoteOfACutRun)
{
    runAndCompare([&](QWidget&) {
        ASSERT_TRUE(renameThenHoldTheSave(*files, [] { ProgramRig::choose("Disconnect"); }));
        shown = PoolTour::shownPool();
        ASSERT_TRUE(ProgramRig::offers("Quit"));
        // The save goes on once the end waits for it.
        QTimer::singleShot(300ms, qApp, [this] { files->save.release(); });
        rig.quitFromMenu();
    });
    EXPECT_FALSE(fs::exists(rig.closingNote()));
}

// A move while Disconnect's save links the library's files shows at once and moves its file behind that
// save, which writes the pool as asked, whole, and says nothing; the end writes the pool as it shows.
TEST_F(PoolSafety, AMoveDuringADisconnectsSaveIsSavedByTheNextAndToldAsNoFailure)
{
    runAndCompare([&](QWidget&) {
        shown = held_files::moveDuringADisconnectsSave(*files, false);
        ASSERT_FALSE(shown.empty());
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return shownNamed(savedPool(), PoolTour::kRenamedTo); }, 30s));
        ProgramRig::settle(300ms);
        EXPECT_FALSE(ProgramRig::informationShown()) << ProgramRig::informationText();
        EXPECT_EQ(PoolTour::shownPool(), shown);
        ASSERT_TRUE(ProgramRig::offers("Quit"));
    });
}

// A save that finds no room, overtaken by a patch moved while it was written, says nothing itself (the move
// may be what it failed for) and leaves the pool marked changed; the new save it asks at once, with nothing
// changed under it, says that the pool could not be saved, and so does a sleep's, each noted for a run cut
// after it. With room again a sleep's save writes the pool as it shows and takes the note away.
TEST_F(PoolSafety, AFullStoreOvertakenByAMoveIsToldByTheNextSaveAndNothingIsLost)
{
    runAndCompare([&](QWidget&) {
        shown = held_files::moveDuringADisconnectsSave(*files, true);
        ASSERT_FALSE(shown.empty());
        for (const bool sleep : {false, true}) {
            SCOPED_TRACE(sleep ? "the sleep's save" : "the save asked at once");
            if (sleep) CommonUtils::getInstance().receiveSleepNote();
            ASSERT_TRUE(held_files::toldNotSaved());
            EXPECT_TRUE(AppDelegate::getInstance().isPatchPoolChanged());
            EXPECT_TRUE(fs::exists(rig.closingNote()));
            ProgramRig::closeInformation();
            if (sleep) CommonUtils::getInstance().receiveWakeNote();
            ProgramRig::settle(300ms);
            EXPECT_FALSE(ProgramRig::informationShown()) << ProgramRig::informationText();
        }
        files->refuseStaging = false;
        CommonUtils::getInstance().receiveSleepNote();
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return !fs::exists(rig.closingNote()) && savedPool() == shown; }, 30s));
        CommonUtils::getInstance().receiveWakeNote();
    });
}

// The same with no room at the end either: the end's save says so before the program ends and keeps the
// pool for the next start; the library stays as it was.
TEST_F(PoolSafety, AFullStoreOvertakenByAMoveIsToldAtTheEndAndThePoolKept)
{
    const auto libraryBefore = savedPool();
    std::string endText;
    run([&](QWidget&) {
        ASSERT_FALSE(held_files::moveDuringADisconnectsSave(*files, true).empty());
        ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 30s));
        ProgramRig::closeInformation();
        ProgramRig::answerMessages([&](const std::string& text) {
            if (endText.empty()) endText = text;
        });
        ASSERT_TRUE(ProgramRig::offers("Quit"));
        rig.quitFromMenu();
    });
    EXPECT_NE(endText.find(texts("Main_SaveCauseNoSpace")), std::string::npos) << endText;
    EXPECT_EQ(savedPool(), libraryBefore);
    EXPECT_EQ(keptPools().size(), 1U);
}

// The end by a signal while a power-off's save waits for a drop's copies ends behind that save, with every
// dropped patch saved and no note of a cut run.
TEST_F(PoolSafety, AnEndWhileAPowerOffsSaveWaitsForTheCopiesEndsBehindIt)
{
    runAndCompare([&](QWidget&) {
        shown = PoolTour::shownPool();
        CommonUtils::getInstance().powerOffNotification();
        // The copies go on once the end waits for them.
        QTimer::singleShot(300ms, qApp, [this] { files->copies.release(); });
        rig.endBySignal(SIGTERM);
    }, true);
    EXPECT_FALSE(fs::exists(rig.closingNote()));
}

// A power-off, or a sleep with the unit connected, during copies (a held drop's, the unit's rows') returns at
// once; the pool is written once the copies land, and once (the sleep's own save, behind the let-go unit's,
// has nothing more to write), while the program goes on.
class PoolSafetyNote : public PoolSafety, public ::testing::WithParamInterface<bool> {};

TEST_P(PoolSafetyNote, DuringADropsCopiesSavesThePoolOnceTheyLand)
{
    const bool sleep = GetParam();
    runAndCompare([&](QWidget& window) {
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        PoolTour::saveDeviceRowsInto(window, DemoPool::kGroupName, rows());
        files->saves = 0;
        if (sleep) CommonUtils::getInstance().receiveSleepNote();
        else CommonUtils::getInstance().powerOffNotification();
        EXPECT_FALSE(files->copies.isReleased()) << "the note waited for the copies on the main thread";
        files->copies.release();
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s));
        shown = PoolTour::shownPool();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return savedPool() == shown; }, 60s)) << testing::PrintToString(savedPool());
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return !AppDelegate::getInstance().isPatchPoolChanged(); }, 30s));
        ProgramRig::settle(300ms);
        EXPECT_EQ(files->saves, 1);
        if (sleep) CommonUtils::getInstance().receiveWakeNote();
    }, true);
}

INSTANTIATE_TEST_SUITE_P(PoolSafety, PoolSafetyNote, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "ASleepWithTheUnitConnected" : "APowerOff");
});

// Files of a drop that vanish after they were read (its copies held until every file is gone, so each
// fails): their rows leave the pool, one message tells them all, and a power-off's save holds the pool then.
TEST_F(PoolSafety, FilesThatVanishAfterTheReadAreToldInOneMessage)
{
    runAndCompare([&](QWidget&) {
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        for (const auto& path : held) fs::remove(path);
        CommonUtils::getInstance().powerOffNotification();
        files->copies.release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return PoolTour::copiesLanded(rig.workingCopy().string()); }, 60s));
        ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 10s));
        const std::string text = ProgramRig::informationText();
        EXPECT_NE(text.find("Held0000"), std::string::npos) << text;
        EXPECT_NE(text.find("(300)"), std::string::npos) << text;
        // Every copy has landed and been told: no other message waits behind this one.
        EXPECT_EQ(ShowingDialogQueue::getInstance().waitingActionCount(), 0U);
        ProgramRig::closeInformation();
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s));
        shown = PoolTour::shownPool();
        EXPECT_EQ(patchesShown(shown), before);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return savedPool() == shown; }, 60s)) << testing::PrintToString(savedPool());
    }, true);
}

// A change made while a power-off's save is written is not in it: the pool stays changed, and the end
// writes it.
TEST_F(PoolSafety, AChangeMadeWhileAPowerOffsSaveIsWrittenIsSavedByTheNext)
{
    runAndCompare([&](QWidget& window) {
        ASSERT_TRUE(renameThenHoldTheSave(*files, [] { CommonUtils::getInstance().powerOffNotification(); }));
        // The rows' copies are made behind the save on the pool's queue.
        const std::size_t patches = patchesShown(PoolTour::shownPool());
        PoolTour::saveDeviceRowsInto(window, DemoPool::kGroupName, rows());
        EXPECT_GT(patchesShown(PoolTour::shownPool()), patches);
        files->save.release();
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 30s));
        shown = PoolTour::shownPool();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return shownNamed(savedPool(), PoolTour::kRenamedTo); }, 30s));
        EXPECT_LT(patchesShown(savedPool()), patchesShown(shown));
        EXPECT_TRUE(AppDelegate::getInstance().isPatchPoolChanged());
    });
}

// Disconnect, then Quit, during a drop's copies: each waits for them with the main loop turning (the busy
// line counts them and says what waits) and nothing else starting, then is carried out.
TEST_F(PoolSafety, DisconnectAndQuitWaitForADropsCopiesWithTheWindowLiveAndNothingElseStarting)
{
    runAndCompare([&](QWidget& window) {
        const auto liveAndHeld = [&](const char* waits) {
            bool fired = false;
            QTimer::singleShot(0, qApp, [&] { fired = true; });
            EXPECT_TRUE(ProgramRig::waitUntil([&] { return fired; }, 10s));
            const QString line = WindowGestures::busyLine(window);
            EXPECT_TRUE(line.contains(InterfaceTexts::localizedString("Main_BusyCopyingPatches").arg(0).arg(300)) &&
                        line.contains(InterfaceTexts::localizedString(waits)))
                << line.toStdString();
            EXPECT_EQ(WindowGestures::enabledAction(window, QStringLiteral("Undo")), nullptr);
            EXPECT_EQ(WindowGestures::enabledAction(window, QStringLiteral("Quit")), nullptr);
            // The undo's keys, which would take the drop back, reach nothing.
            const auto pool = PoolTour::shownPool();
            QKeyEvent undoKeys(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
            QApplication::sendEvent(window.findChild<PatchPoolOutlineView*>(), &undoKeys);
            ProgramRig::settle(100ms);
            EXPECT_EQ(PoolTour::shownPool(), pool);
        };
        ASSERT_TRUE(ProgramRig::choose("Disconnect"));
        liveAndHeld("Main_BusyEjectWaitsEditsOff");
        files->copies.release();
        ASSERT_TRUE(ProgramRig::offers("Connect", 60s));
        EXPECT_TRUE(PoolTour::copiesLanded(rig.workingCopy().string()));

        ASSERT_FALSE(dropHeldPatches(rig, *files, before + 300, "Held2-").empty());
        shown = PoolTour::shownPool();
        rig.quitFromMenu();
        liveAndHeld("Main_BusyQuitWaits");
        files->copies.release();
    }, true);
}

// The drop's own patches moved and deleted at several moments of its copies, then a quit while they run.
TEST_F(PoolSafety, ADropsOwnPatchesMovedAndDeletedWhileItIsCopiedAreSavedAsShown)
{
    stepsThenQuit([&](QWidget& window) {
        for (const int delay : {0, 20, 200}) {
            const std::size_t intoBefore = childrenOf(DemoPool::kGroupName);
            ASSERT_FALSE(drop(rig, "D" + std::to_string(delay) + "-", 1000, patchesShown(PoolTour::shownPool())).empty());
            ProgramRig::settle(std::chrono::milliseconds(delay));
            const std::string dropped = PoolTour::shownPool().back().name;
            PoolTour::moveChildrenInto(window, dropped, 3, DemoPool::kGroupName);
            PoolTour::deleteChildren(window, dropped, 3);
            EXPECT_EQ(childrenOf(DemoPool::kGroupName), intoBefore + 3) << delay;
            EXPECT_EQ(childrenOf(dropped), 994U) << delay;
        }
    });
}

// The target group renamed at seeded moments while the unit's rows are copied into it, another deleted
// while they are and its delete undone, then a quit with a save still under way.
TEST_F(PoolSafety, TheTargetGroupRenamedOrDeletedWhileRowsAreCopiedKeepsThem)
{
    stepsThenQuit([&](QWidget& window) {
        std::mt19937 seeded(45);
        std::string name = DemoPool::kGroupName;
        for (int round = 0; round < 4; ++round) {
            const std::size_t into = childrenOf(name);
            PoolTour::saveDeviceRowsInto(window, name, rows());
            ProgramRig::settle(std::chrono::milliseconds(seeded() % 25));
            const std::string renamed = "Set " + std::to_string(round);
            PoolTour::renameItem(window, name.c_str(), renamed.c_str());
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return PoolTour::showsTopLevel(renamed.c_str()); }, 10s)) << round;
            name = renamed;
            EXPECT_EQ(childrenOf(name), into + rows().size());
        }
        PoolTour::createGroup(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::groupCreated, 10s));
        PoolTour::saveDeviceRowsInto(window, "New Patch Group 1", rows());
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            MenuTour::deleteFromPoolMenuOf(window, "New Patch Group 1");
            return !PoolTour::showsTopLevel("New Patch Group 1");
        }, 10s));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("New Patch Group 1"); }, 10s));
        EXPECT_EQ(childrenOf("New Patch Group 1"), rows().size());
        PoolTour::saveDeviceRowsInto(window, name, rows());
    });
    EXPECT_TRUE(shownNamed(shown, "Set 3"));
}

// A unit pulled out while its rows are copied: the user hears that it went, and nothing about the pool,
// which the disconnect saves whole.
TEST_F(PoolSafety, AUnitPulledOutWhileCopiesRunSavesThePoolWithoutAComplaint)
{
    std::vector<Shown> saved;
    runAndCompare([&](QWidget& window) {
        PoolTour::saveDeviceRowsInto(window, DemoPool::kGroupName, rows());
        shown = PoolTour::shownPool();
        rig.unit().unit().device().unplug();
        ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown));
        EXPECT_EQ(ProgramRig::informationText(), texts("Main_LostConnectionWithDevice"));
        // The disconnect's save is written while the window goes on; once it is, no complaint of it waits.
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return savedPool() == shown; }, 30s));
        ProgramRig::settle(100ms);
        EXPECT_EQ(ShowingDialogQueue::getInstance().waitingActionCount(), 0U);
        ProgramRig::closeInformation();
        saved = savedPool();
    });
    EXPECT_EQ(saved, shown);
}

// ---- runs that fail or are killed at their end, and the start after them ----

// The run before the next two tests': a rename and the unit's rows saved into a group, then the library
// cannot be written (its staging folder refused, as an immutable store refuses it) and the user quits.
TEST_F(PoolSafety, DISABLED_ARunWhoseLastSaveFails)
{
    faultyRun(rig, [&](ProgramRig& rig, FaultyFileManager& faulty) {
        ASSERT_TRUE(rig.showPatchScreen());
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        ASSERT_TRUE(saveAllRowsInto(DemoPool::kGroupName));
        noteShown(rig);
        faulty.fail(FaultyFileManager::Op::CreateDirectory, ".Patch-saving", 1000, EPERM);
        ProgramRig::answerMessages([scratch = rig.scratch()](const std::string& text) {
            if (fs::exists(scratch / "end.txt")) return;
            writeText(scratch / "end.txt", text);
            writeText(scratch / "busy.txt", WindowGestures::busyLine(*WindowGestures::mainWindow()).toStdString());
        });
        rig.quitWhenOffered();
    });
}

// A save that fails at the end keeps the session's pool: the next start shows it (not the older library),
// says once why, and its first save writes it; the library stayed whole meanwhile.
TEST_F(PoolSafety, ASaveThatFailsAtTheEndKeepsThePoolForTheNextStart)
{
    const auto libraryBefore = savedPool();
    ASSERT_TRUE(rig.runEarlierRun("PoolSafety.DISABLED_ARunWhoseLastSaveFails"));
    const std::string shownAtTheEnd = shownByTheEarlierRun(rig);
    ASSERT_NE(shownAtTheEnd.find(PoolTour::kRenamedTo), std::string::npos);
    // The end said why, and that the edits are kept for the next start: of the user's library folder and in
    // the program's words, not of the folder the save made beside it.
    const std::string endText = readText(rig.scratch() / "end.txt");
    const std::string keptText = AppLifecycle::saveFailureText("\n", std::nullopt);
    EXPECT_EQ(endText.substr(0, keptText.find('\n')), keptText.substr(0, keptText.find('\n'))) << endText;
    EXPECT_TRUE(endText.ends_with(keptText.substr(keptText.find('\n') + 1))) << endText;
    EXPECT_NE(endText.find(rig.library().string()), std::string::npos) << endText;
    EXPECT_EQ(endText.find(".Patch-"), std::string::npos) << endText;
    EXPECT_NE(endText.find(texts("Main_SaveCausePermission")), std::string::npos) << endText;
    // Nothing is being saved while the message shows.
    EXPECT_EQ(readText(rig.scratch() / "busy.txt").find(texts("Main_BusySavingPoolAtQuit")), std::string::npos);
    EXPECT_EQ(savedPool(), libraryBefore);
    EXPECT_EQ(keptPools().size(), 1U);

    shown = nextStart(rig, [&](ProgramRig& rig) {
        keptPoolTold(rig);
        EXPECT_EQ(poolText(PoolTour::shownPool()), shownAtTheEnd);
        // Said once: what shows next is the unit's update notice at most, never this again.
        ProgramRig::settle(300ms);
        ProgramRig::dismissUpdateNotice();
        ProgramRig::settle(300ms);
        EXPECT_FALSE(ProgramRig::informationShown() && ProgramRig::informationText() == texts("Main_PatchPoolKeptFromLastRun"));
    });
    expectTheNextStartShowed(shownAtTheEnd);
}

// A patch added to the library by hand after a run whose save failed at the end: the kept pool was made
// against another library, so the next start shows the library with that patch, then (and says so) what the
// kept pool holds that the library does not, the renamed patch in a group named for its session and the rows
// in a group of their own; the quit writes both, nothing of either dropped or doubled.
TEST_F(PoolSafety, AKeptPoolOfAnotherLibraryIsShownBesideItAndSavedWithIt)
{
    std::vector<Shown> library = savedPool();
    ASSERT_TRUE(rig.runEarlierRun("PoolSafety.DISABLED_ARunWhoseLastSaveFails"));
    ASSERT_EQ(keptPools().size(), 1U);
    ASSERT_EQ(savedPool(), library);
    ProgramRig::writeFile(rig.library() / "Pool" / "[999] Hand.qptc", library_files::patchFile("Hand"));
    library.push_back({"Hand", false, {}});

    std::string told;
    std::size_t unitPatches = 0;
    shown = nextStart(rig, [&](ProgramRig& rig) {
        unitPatches = static_cast<std::size_t>(rig.unit().patchCount());
        ASSERT_TRUE(rig.showPatchScreen());
        ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 30s));
        told = ProgramRig::informationText();
        ProgramRig::closeInformation();
    });
    ASSERT_GT(shown.size(), library.size());
    EXPECT_EQ(std::vector<Shown>(shown.begin(), shown.begin() + static_cast<std::ptrdiff_t>(library.size())), library);
    const Shown& session = shown[library.size()];
    EXPECT_TRUE(session.group && session.name.starts_with("Kept session ")) << session.name;
    const std::string rows = std::string(DemoPool::kGroupName) + " (1)";
    EXPECT_EQ(told, platform::StringFormat::format(texts("Main_PatchPoolKeptBesideLibrary"),
                                                   {"\"" + session.name + "\", \"" + rows + "\""}));
    // After the library, what the failed run changed: the renamed patch and the rows it saved.
    const std::vector<Shown> kept(shown.begin() + static_cast<std::ptrdiff_t>(library.size()), shown.end());
    EXPECT_EQ(patchesShown(kept), 1 + unitPatches) << testing::PrintToString(kept);
    ASSERT_EQ(kept.size(), 2U) << testing::PrintToString(kept);
    EXPECT_EQ(kept[0].children, std::vector<std::string>{PoolTour::kRenamedTo});
    EXPECT_EQ(kept[1].name, rows);
    expectTheLibraryHoldsWhatWasShown();
    EXPECT_EQ(keptPools(), std::vector<std::string>{});
}

// The earlier run of the next tests: a rename, a quit, and the run stands still where the test kills it, as
// its row names: at the busy line of a Quit waiting for copies (300 dropped on the pool, the 101st never
// ending; 150 on a group, the 51st never ending; the unit's rows saved into a group then renamed, behind one
// dropped file never copied); inside the save a signal or a menu Quit started; or, the backups linked to
// another drive, between their two moves there.
TEST_F(PoolSafety, DISABLED_AQuitCutShort)
{
    const std::string row = earlierRow(rig);
    faultyRun(rig, [&](ProgramRig& rig, FaultyFileManager& faulty) {
        ASSERT_TRUE(rig.showPatchScreen());
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        const auto ready = [scratch = rig.scratch()] { readyToBeKilled(scratch); };
        if (!row.starts_with("WhileItsQuitWaits")) {
            noteShown(rig);
            if (row == "BetweenALinkedPartsMoves")
                faulty.stallForeverAt(FaultyFileManager::Op::Move, "\n" + (rig.scratch() / "drive" / "Backups").string(), ready);
            else faulty.stallForeverAt(FaultyFileManager::Op::CreateDirectory, ".Patch-saving", ready);
            if (row == "InTheSaveASignalStarted") ::kill(::getpid(), SIGTERM);
            else rig.quitWhenOffered();
            return;
        }
        const std::size_t before = patchesShown(PoolTour::shownPool());
        const bool renamedGroup = row.ends_with("IntoARenamedGroup");
        if (renamedGroup) {
            faulty.stallForeverAt(FaultyFileManager::Op::Copy, "Ahead0000.qptc\n", [] {});
            ASSERT_FALSE(drop(rig, "Ahead", 1, before).empty());
            const std::size_t into = childrenOf(DemoPool::kGroupName);
            PoolTour::saveDeviceRowsInto(rig.window(), DemoPool::kGroupName, rows());
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return childrenOf(DemoPool::kGroupName) == into + rows().size(); }, 20s));
            // Waiting for none of those copies, or the run never gets further.
            PoolTour::renameItem(rig.window(), DemoPool::kGroupName, "Renamed Set");
            ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("Renamed Set"); }, 20s));
            ASSERT_EQ(childrenOf("Renamed Set"), into + rows().size());
        } else {
            const bool intoAGroup = row.ends_with("IntoAGroup");
            faulty.stallForeverAt(FaultyFileManager::Op::Copy, intoAGroup ? "Into0050.qptc\n" : "Drop0100.qptc\n", [] {});
            const auto files = write(rig.scratch(), intoAGroup ? "Into" : "Drop", intoAGroup ? 150 : 300);
            if (intoAGroup) DragTour::dropFilesOnPoolItem(rig.window(), files, DemoPool::kGroupName);
            else DragTour::dropFilesOnPool(rig.window(), files);
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return patchesShown(PoolTour::shownPool()) == before + files.size(); }, 60s));
        }
        noteShown(rig);
        rig.quitWhenOffered();
        const std::string waits = texts("Main_BusyQuitWaitsEditsOff");
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::busyLine(rig.window()).toStdString().find(waits) != std::string::npos; }, 20s));
        // The rows' copies are still to be made, asked again into the group's new folder: the quit's note
        // names their files dropped ("c") under the new name.
        const std::string note = readText(rig.closingNote());
        ASSERT_TRUE(!renamedGroup || note.find("G Renamed Set\nC ") != std::string::npos) << note;
        ASSERT_TRUE(!renamedGroup || note.find("\nc ") != std::string::npos) << note;
        ready();
    });
}

// Killed there: the next start keeps the session, with the rename, nothing of it twice and nothing it did
// not show, and its quit saves it. The backups linked to another drive: their folder is put
// back on their drive, no folder it could not read is told, and the Quit saves the session with the link
// kept.
class PoolSafetyKilledAtItsQuit : public PoolSafety, public ::testing::WithParamInterface<const char*> {};

TEST_P(PoolSafetyKilledAtItsQuit, ARunKilledKeepsItsSession)
{
    const bool linked = std::string(GetParam()) == "BetweenALinkedPartsMoves";
    const fs::path drive = rig.scratch() / "drive";
    if (linked) {
        fs::create_directories(drive);
        fs::rename(rig.library() / "Backup", drive / "Backups");
        fs::create_symlink(drive / "Backups", rig.library() / "Backup");
    }
    const auto backups = savedPool().back();
    ASSERT_TRUE(runKilled(rig, "PoolSafety.DISABLED_AQuitCutShort", GetParam()));
    ASSERT_FALSE(linked && fs::exists(drive / "Backups"));
    const std::multiset<std::string> atQuit = linesOf(shownByTheEarlierRun(rig));
    shown = nextStart(rig);
    EXPECT_TRUE(shownNamed(shown, PoolTour::kRenamedTo)) << testing::PrintToString(shown);
    const std::multiset<std::string> now = linesOf(poolText(shown));
    EXPECT_EQ(std::set<std::string>(now.begin(), now.end()).size(), now.size()) << "a patch shows twice";
    // Nothing shown at the quit is missing, those whose copies had not landed included, nor added.
    EXPECT_EQ(now, atQuit);
    expectTheLibraryHoldsWhatWasShown();
    EXPECT_EQ(keptPools(), std::vector<std::string>{});
    if (!linked) return;
    EXPECT_TRUE(fs::is_symlink(rig.library() / "Backup"));
    EXPECT_EQ(savedPool().back(), backups);
}

INSTANTIATE_TEST_SUITE_P(Cuts, PoolSafetyKilledAtItsQuit,
                         ::testing::Values("WhileItsQuitWaitsForCopies", "InTheSaveASignalStarted", "InTheSaveAMenuQuitStarted",
                                           "BetweenALinkedPartsMoves"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Killed while its Quit waits for copies into a group, with two of the files taken away before the next
// start: it shows every other patch the quit showed, those whose copies had not landed included, each once
// and in order, and names the two.
TEST_F(PoolSafety, ARunKilledWhileItsQuitWaitsForCopiesComesBackWithEveryPatch)
{
    const std::vector<std::string> gone = {"Into0100", "Into0149"};
    ASSERT_TRUE(runKilled(rig, "PoolSafety.DISABLED_AQuitCutShort", "WhileItsQuitWaitsForCopiesIntoAGroup"));
    for (const auto& name : gone) fs::remove(rig.scratch() / (name + ".qptc"));
    std::string expected;
    std::size_t patches = 0;
    for (const auto& line : linesInOrder(shownByTheEarlierRun(rig))) {
        if (std::any_of(gone.begin(), gone.end(), [&](const std::string& name) { return line.ends_with("/" + name); })) continue;
        expected += line + "\n";
        ++patches;
    }
    ASSERT_GT(patches, 150U);
    std::vector<std::string> notices;
    shown = nextStart(rig, [&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        // The kept pool is said, then what it could not bring back.
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(ProgramRig::waitUntil([&] {
                return ProgramRig::informationShown() && (notices.empty() || ProgramRig::informationText() != notices.back());
            }, 30s));
            notices.push_back(ProgramRig::informationText());
            ProgramRig::closeInformation();
        }
    });
    ASSERT_EQ(notices.size(), 2U);
    EXPECT_EQ(notices[0], texts("Main_PatchPoolKeptFromLastRun"));
    for (const auto& name : gone) EXPECT_NE(notices[1].find(name + ".qptc"), std::string::npos) << notices[1];
    EXPECT_EQ(poolText(shown), expected);
}

// Killed while its Quit waits for copies into a group renamed during them: the next start shows the group
// under its new name with every patch, each once and in the order the quit showed, and no folder of the old
// name.
TEST_F(PoolSafety, ARunKilledAfterAGroupWasRenamedDuringItsCopiesComesBackRenamedWithEveryPatch)
{
    ASSERT_TRUE(runKilled(rig, "PoolSafety.DISABLED_AQuitCutShort", "WhileItsQuitWaitsForCopiesIntoARenamedGroup"));
    const std::string atQuit = shownByTheEarlierRun(rig);
    ASSERT_NE(atQuit.find("Renamed Set/"), std::string::npos) << atQuit;
    shown = nextStart(rig, [](ProgramRig& rig) {
        keptPoolTold(rig, true);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("Renamed Set"); }, 30s));
    });
    EXPECT_FALSE(shownNamed(shown, DemoPool::kGroupName)) << testing::PrintToString(shown);
    EXPECT_FALSE(fs::exists(rig.workingCopy() / DemoPool::kGroupName));
    expectTheNextStartShowed(atQuit);
}

// The earlier runs below: 300 files dropped on the pool, the 101st copy never ending, a power-off whose
// save waits for the copies, then a patch whose copy had not begun renamed in place (its copy made holding
// the new name). Killed as the note is about to be written again after the rename (the note still naming
// the dropped file), or once the note names the renamed copy.
TEST_F(PoolSafety, DISABLED_APendingPatchRenamedWhileAPowerOffsSaveWaitsForCopies)
{
    faultyRun(rig, [&](ProgramRig& rig, FaultyFileManager& faulty) {
        const bool cutInTheRenamesTurn = earlierRow(rig) == "in the rename's turn";
        const fs::path scratch = rig.scratch();
        ASSERT_TRUE(rig.showPatchScreen());
        const std::size_t patches = patchesShown(PoolTour::shownPool());
        auto copyStalled = std::make_shared<std::atomic<bool>>(false);
        faulty.stallForeverAt(FaultyFileManager::Op::Copy, "Edit0100 dropped.qptc\n", [copyStalled] { *copyStalled = true; });
        // Named apart from their patches, whose names their copies take: the next start can tell a copy
        // from a file copied again.
        std::vector<std::string> paths;
        for (const fs::path written : held_files::write(scratch, "Edit", 300)) {
            paths.push_back((written.parent_path() / (written.stem().string() + " dropped.qptc")).string());
            fs::rename(written, paths.back());
        }
        DragTour::dropFilesOnPool(rig.window(), paths);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return patchesShown(PoolTour::shownPool()) == patches + 300; }, 60s));
        const std::string group = "New Patch Group 1";
        ASSERT_TRUE(shownNamed(PoolTour::shownPool(), group)) << testing::PrintToString(PoolTour::shownPool());
        CommonUtils::getInstance().powerOffNotification();
        const std::string noteAtPowerOff = readText(rig.closingNote());
        ASSERT_NE(noteAtPowerOff.find("\nc "), std::string::npos) << noteAtPowerOff;
        if (cutInTheRenamesTurn) {
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return copyStalled->load(); }, 20s));
            faulty.stallForeverAt(FaultyFileManager::Op::Write, ".closing-pool", [&rig] {
                noteShown(rig);
                readyToBeKilled(rig.scratch());
            });
        }
        PoolTour::renameChild(rig.window(), group, "Edit0150", "Kept Name");
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            const auto pool = PoolTour::shownPool();
            const auto* entry = shownNamed(pool, group);
            return entry && entry->children.size() == 300 && entry->children[150] == "Kept Name";
        }, 20s));
        if (cutInTheRenamesTurn) {
            ProgramRig::settle(60s);
            return;
        }
        // The note follows on the main queue's next turn, naming the copy that holds the new name rather than
        // the file it was dropped from.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return readText(rig.closingNote()) != noteAtPowerOff; }, 20s));
        ASSERT_EQ(readText(rig.closingNote()).find("Edit0150 dropped.qptc"), std::string::npos);
        noteShown(rig);
        readyToBeKilled(scratch);
    });
}

// Killed there: the next start shows the patch under its new name, in its place, once, with every other
// patch the window showed.
class PoolSafetyPendingPatch : public PoolSafety, public ::testing::WithParamInterface<const char*> {};

TEST_P(PoolSafetyPendingPatch, ARunKilledAfterItWasRenamedComesBackWithItRenamedOnce)
{
    ASSERT_TRUE(runKilled(rig, "PoolSafety.DISABLED_APendingPatchRenamedWhileAPowerOffsSaveWaitsForCopies", GetParam()));
    const std::string atKill = shownByTheEarlierRun(rig);
    ASSERT_NE(atKill.find("/Kept Name\n"), std::string::npos) << atKill;
    shown = nextStart(rig);
    expectTheNextStartShowed(atKill);
}

INSTANTIATE_TEST_SUITE_P(Cuts, PoolSafetyPendingPatch, ::testing::Values("once the note names it", "in the rename's turn"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "OnceTheNoteNamesIt" : "InTheRenamesTurn");
                         });

// ---- a save overtaken on a full store, and a run killed after its failure was told ----

namespace {

// What the user does once the failure was told, before the run is killed: each step shows, and the note
// left for the next start is written again after it. `before` runs ahead of the failed save.
struct AfterTheFailure {
    const char* name;
    std::function<void(ProgramRig&)> before;
    std::vector<std::function<void(ProgramRig&)>> steps;
};

void PrintTo(const AfterTheFailure& row, std::ostream* out) { *out << row.name; }

const std::string kOtherGroup = "New Patch Group 1";

void createGroup(ProgramRig& rig)
{
    PoolTour::createGroup(rig.window());
    ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::groupCreated, 10s));
}

// Two of the library's patches of the demo group moved into the other group.
void moveTwoIntoTheOtherGroup(ProgramRig& rig)
{
    PoolTour::moveChildrenInto(rig.window(), DemoPool::kGroupName, 2, kOtherGroup);
    ASSERT_TRUE(ProgramRig::waitUntil([] { return childrenOf(kOtherGroup) == 2; }, 10s));
}

void renameTheGroup(ProgramRig& rig)
{
    PoolTour::renameItem(rig.window(), DemoPool::kGroupName, "Renamed Set");
    ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("Renamed Set"); }, 10s));
}

// Twenty files named `stem` dropped and their copies landed; "Gone" ones are then deleted.
void dropTwenty(ProgramRig& rig, const char* stem)
{
    const auto files = drop(rig, stem, 20, patchesShown(PoolTour::shownPool()));
    ASSERT_FALSE(files.empty());
    ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 30s));
    if (std::string(stem) != "Gone") return;
    // The files the drop was copied from go once the copies have landed: the note names the copies.
    ProgramRig::waitUntil([&] {
        const std::string noted = readText(rig.closingNote());
        return noted.find("\np ") == std::string::npos && noted.find("Gone0019") != std::string::npos;
    }, 20s);
    for (const auto& file : files) fs::remove(file);
}

const std::vector<AfterTheFailure> kAfterTheFailure = {
    {"Nothing", nullptr, {}},
    {"AGroupRenamed", nullptr, {renameTheGroup}},
    {"AGroupRenamedThenUndone", nullptr, {renameTheGroup, [](ProgramRig& rig) {
         ASSERT_TRUE(ProgramRig::undoFromThePopover(rig.window()));
         ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel(DemoPool::kGroupName); }, 10s));
     }}},
    {"ANewGroupWithLibraryPatchesMovedIn", nullptr, {createGroup, moveTwoIntoTheOtherGroup}},
    {"AGroupDeleted", nullptr, {[](ProgramRig& rig) {
         MenuTour::deleteFromPoolMenuOf(rig.window(), DemoPool::kGroupName);
         ASSERT_TRUE(ProgramRig::waitUntil([] { return !PoolTour::showsTopLevel(DemoPool::kGroupName); }, 10s));
     }}},
    {"TwentyFilesDropped", nullptr, {[](ProgramRig& rig) { dropTwenty(rig, "Drop"); }}},
    {"PatchesMovedIntoAnotherGroup", createGroup, {moveTwoIntoTheOtherGroup}},
    {"TwentyFilesDroppedThenTheirFilesDeleted", nullptr, {[](ProgramRig& rig) { dropTwenty(rig, "Gone"); }}},
};

}  // namespace

// The run before the next test's: the failed save (a rename, Disconnect, whose save finds no room, and a
// patch moved into a group while it is written: the failure is told while the program goes on, the pool
// marked changed), then the steps of the row the next test names, then killed.
TEST_F(PoolSafety, DISABLED_ARunKilledAfterItsSaveFailed)
{
    const std::string name = earlierRow(rig);
    const auto row = std::find_if(kAfterTheFailure.begin(), kAfterTheFailure.end(), [&](const auto& each) { return name == each.name; });
    ASSERT_NE(row, kAfterTheFailure.end()) << name;
    run([&](QWidget&) {
        if (row->before) row->before(rig);
        if (HasFatalFailure()) return;
        ASSERT_FALSE(held_files::moveDuringADisconnectsSave(*files, true).empty());
        ASSERT_TRUE(held_files::toldNotSaved());
        ASSERT_TRUE(AppDelegate::getInstance().isPatchPoolChanged());
        ProgramRig::closeInformation();
        ASSERT_TRUE(fs::exists(rig.closingNote()));
        for (const auto& step : row->steps) {
            const std::string noted = readText(rig.closingNote());
            step(rig);
            if (HasFatalFailure()) return;
            // The note follows on the main queue's next turn: a run cut from then on comes back with the step.
            // A note never written again is for the next start to show.
            ProgramRig::waitUntil([&] { return readText(rig.closingNote()) != noted; }, 20s);
        }
        noteShown(rig);
        readyToBeKilled(rig.scratch());
        ProgramRig::settle(60s);
    });
}

// Killed after the failure was told and what the row does next: the next start shows the pool as the
// killed run left it, and says so; every patch the library held is there, and its quit saves them all.
class PoolSafetyAfterAFailedSave : public PoolSafety, public ::testing::WithParamInterface<AfterTheFailure> {};

TEST_P(PoolSafetyAfterAFailedSave, ARunKilledThenKeepsEveryEdit)
{
    ASSERT_TRUE(runKilled(rig, "PoolSafety.DISABLED_ARunKilledAfterItsSaveFailed", GetParam().name));
    const std::string left = shownByTheEarlierRun(rig);
    ASSERT_NE(left.find(PoolTour::kRenamedTo), std::string::npos);
    shown = nextStart(rig, [&](ProgramRig& rig) {
        keptPoolTold(rig, true);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return poolText(PoolTour::shownPool()) == left; }, 30s)) << poolText(PoolTour::shownPool());
    });
    EXPECT_EQ(poolText(shown), left);
    EXPECT_EQ(patchesShown(savedPool()), patchesShown(shown));
}

INSTANTIATE_TEST_SUITE_P(OvertakenSave, PoolSafetyAfterAFailedSave, ::testing::ValuesIn(kAfterTheFailure),
                         [](const ::testing::TestParamInfo<AfterTheFailure>& info) { return std::string(info.param.name); });

// A power-off whose save finds no room, called off by the system: the run goes on, and the failure is
// told as any other save's; the note stays for a run cut from here on.
TEST_F(PoolSafety, APowerOffsSaveThatFailsIsToldOnceTheRunGoesOn)
{
    run([&](QWidget&) {
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        files->refuseStaging = true;
        CommonUtils::getInstance().powerOffNotification();
        EXPECT_FALSE(CommonUtils::getInstance().isClosing());
        const auto told = held_files::toldNotSaved();
        EXPECT_TRUE(fs::exists(rig.closingNote()));
        // The end's save, with room again, writes the pool.
        files->refuseStaging = false;
        ASSERT_TRUE(told);
        ProgramRig::closeInformation();
    });
}

// ---- an undo is a change of the pool like the gesture it takes back ----

namespace {

constexpr auto holds = &ProgramRig::holds;

std::vector<std::string> topLevelSaved(const ProgramRig& rig) { return ProgramRig::patchNamesIn(rig.library() / "Pool"); }

std::vector<std::string> groupSaved(const ProgramRig& rig)
{
    const fs::path group = ProgramRig::folderNamed(rig.library() / "Pool", DemoPool::kGroupName);
    return group.empty() ? std::vector<std::string>{} : ProgramRig::patchNamesIn(group);
}

std::vector<std::string> groupShown()
{
    for (const auto& entry : PoolTour::shownPool())
        if (entry.group && entry.name == DemoPool::kGroupName) return entry.children;
    return {};
}

// A gesture on the pool, how it shows done and undone, and whether the library holds it done or undone.
struct Gesture {
    const char* name;
    std::function<void(QWidget&)> act;
    std::function<bool()> done;
    std::function<bool()> undone;
    std::function<bool(const ProgramRig&)> savedDone;
    std::function<bool(const ProgramRig&)> savedUndone;
};

void PrintTo(const Gesture& gesture, std::ostream* out) { *out << gesture.name; }

Gesture rename()
{
    return {"Rename", PoolTour::renamePatch, PoolTour::patchRenamed,
            [] { return PoolTour::showsTopLevel(PoolTour::kRenamedFrom) && !PoolTour::patchRenamed(); },
            [](const ProgramRig& rig) { return holds(topLevelSaved(rig), PoolTour::kRenamedTo); },
            [](const ProgramRig& rig) {
                return holds(topLevelSaved(rig), PoolTour::kRenamedFrom) && !holds(topLevelSaved(rig), PoolTour::kRenamedTo);
            }};
}

// The group's last patch deleted; its name is read as the program starts.
Gesture deletion()
{
    auto deleted = std::make_shared<std::string>();
    auto count = std::make_shared<std::size_t>(0);
    return {"Delete",
            [deleted, count](QWidget& window) {
                const auto children = groupShown();
                if (children.empty()) return;
                *deleted = children.back();
                *count = children.size();
                PoolTour::deleteChildren(window, DemoPool::kGroupName, 1);
            },
            [count] { return *count > 0 && groupShown().size() == *count - 1; },
            [deleted, count] { return *count > 0 && groupShown().size() == *count && groupShown().back() == *deleted; },
            [deleted](const ProgramRig& rig) { return !holds(groupSaved(rig), *deleted); },
            [deleted](const ProgramRig& rig) { return !deleted->empty() && holds(groupSaved(rig), *deleted); }};
}

Gesture move()
{
    return {"Move", PoolTour::movePatchIntoGroup, PoolTour::patchMoved,
            [] { return PoolTour::showsTopLevel(PoolTour::kMovedPatch) && !PoolTour::patchMoved(); },
            [](const ProgramRig& rig) { return holds(groupSaved(rig), PoolTour::kMovedPatch); },
            [](const ProgramRig& rig) {
                return holds(topLevelSaved(rig), PoolTour::kMovedPatch) && !holds(groupSaved(rig), PoolTour::kMovedPatch);
            }};
}

}  // namespace

// A save that lands after an undo (a power-off's being written, a sleep's written before it) leaves the pool
// marked: the quit writes what the undo put back, and leaves no note of a cut run.
class PoolSafetyUndo : public PoolSafety, public ::testing::WithParamInterface<Gesture> {
protected:
    void undoing(const std::function<void(QWidget&)>& body)
    {
        files->unitFolder = (rig.root() / "Temp" / "Device").string();
        run([&](QWidget& window) {
            body(window);
            if (!HasFatalFailure()) rig.quitWhenOffered();
        });
        EXPECT_TRUE(GetParam().savedUndone(rig)) << "the library keeps the undone " << GetParam().name;
        EXPECT_FALSE(fs::exists(rig.closingNote())) << "a note of a cut run was left";
        EXPECT_FALSE(files->unitRemoval.wasTimedOut());
    }
};

// A power-off the system calls off: its save is being written when the gesture is undone, and lands
// holding the gesture.
class UndoDuringAPowerOffsSave : public PoolSafetyUndo {};

TEST_P(UndoDuringAPowerOffsSave, TheQuitWritesWhatTheUndoPutBack)
{
    const Gesture& gesture = GetParam();
    undoing([&](QWidget& window) {
        gesture.act(window);
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.done, 10s));
        files->armSave();
        CommonUtils::getInstance().powerOffNotification();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return files->save.isHeld(); }, 30s));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.undone, 10s));
        files->save.release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return !files->save.isHeld() && gesture.savedDone(rig); }, 30s));
        // The save's landing comes through the window's loop.
        ProgramRig::settle(300ms);
    });
}

// With no unit connected: the gesture, a sleep whose save writes it, the wake, the undo, the quit. The
// gesture is made while the Disconnect's removal of the unit's folder is under way on another thread: a
// pool edit never keeps anything in that folder.
class UndoAfterASleepsSave : public PoolSafetyUndo {};

TEST_P(UndoAfterASleepsSave, TheQuitWritesWhatTheUndoPutBack)
{
    const Gesture& gesture = GetParam();
    undoing([&](QWidget& window) {
        files->unitRemoval.arm();
        ASSERT_TRUE(ProgramRig::choose("Disconnect"));
        ASSERT_TRUE(ProgramRig::offers("Connect", 30s));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return files->unitRemoval.isHeld(); }, 30s));
        gesture.act(window);
        // Done, or refused with a sheet saying so: whichever comes, however long a loaded machine takes.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return gesture.done() || ProgramRig::informationShown(); }, 60s));
        ASSERT_TRUE(gesture.done()) << ProgramRig::informationText();
        files->unitRemoval.release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return rig.unitFolders().empty(); }, 30s));
        CommonUtils::getInstance().receiveSleepNote();
        // Written, and its landing taken in by the window: the undo comes after the save.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return gesture.savedDone(rig) && !AppDelegate::getInstance().isPatchPoolChanged(); }, 30s));
        CommonUtils::getInstance().receiveWakeNote();
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.undone, 10s));
    });
}

const auto kGestureName = [](const ::testing::TestParamInfo<Gesture>& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Gestures, UndoDuringAPowerOffsSave, ::testing::Values(rename(), deletion()), kGestureName);
INSTANTIATE_TEST_SUITE_P(Gestures, UndoAfterASleepsSave, ::testing::Values(rename(), move()), kGestureName);
