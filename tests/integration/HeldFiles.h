#pragma once

// A file manager that holds the program's file work where a test wants it (a drop's copies, the library's
// save, the removal of the unit's working folder), the patch files a test drops, and the gestures that
// start such work.

#include <QWidget>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DragTour.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/views/InterfaceTexts.h"
#include "platform/files/LocalFileManager.h"
#include "support/library/LibraryFiles.h"

namespace held_files {

using namespace std::chrono_literals;

// Where a thread of the program stands still, once armed, until the test lets it go (once an arming). One
// nobody lets go opens after 30 s and says so: a step that waited for it fails the test rather than hangs it.
class Gate {
public:
    // The thread's side: stands still here while armed, then does `step`; held until the step is done.
    bool through(const std::function<bool()>& step)
    {
        const bool held = hold();
        const bool done = step();
        if (held) set(m_held, false);
        return done;
    }
    void arm()
    {
        std::lock_guard lock(m_mutex);
        m_armed = true;
        m_released = m_reached = false;
    }
    void release() { set(m_released); }
    // Lets the thread go and waits (10 s at most) until its step is done.
    void releaseAndWait()
    {
        release();
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [this] { return !m_held; });
    }
    bool waitUntilReached()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 30s, [this] { return m_reached; });
    }
    bool isHeld() { return read(m_held); }
    bool isReleased() { return read(m_released); }
    bool wasTimedOut() { return read(m_timedOut); }

private:
    bool read(const bool& flag)
    {
        std::lock_guard lock(m_mutex);
        return flag;
    }
    void set(bool& flag, bool value = true)
    {
        std::lock_guard lock(m_mutex);
        flag = value;
        m_changed.notify_all();
    }
    bool hold()
    {
        std::unique_lock lock(m_mutex);
        if (!m_armed) return false;
        m_armed = false;
        m_reached = m_held = true;
        m_changed.notify_all();
        if (!m_changed.wait_for(lock, 30s, [this] { return m_released; })) m_released = m_timedOut = true;
        return true;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    bool m_reached = false;
    bool m_held = false;
    bool m_released = false;
    bool m_timedOut = false;
};

struct HeldFiles : platform::LocalFileManager {
    // The first copy of a file named "Held..." that the pool's queue makes: the queue makes its copies one
    // after another, so holding it holds them all. A copy a step makes itself (on the main thread, or beside
    // it while the main thread waits) is never held.
    Gate copies;
    // The library's save, at the flush of what it staged or, `saveAtStaging`, as its staging folder is made
    // (before it links a file).
    Gate save;
    // The removal of the folder `unitFolder` (set before the run). A folder made in it meanwhile lets the
    // removal run to its end first, as the removal's thread may: a step that keeps a file in the unit's
    // folder then finds it gone.
    Gate unitRemoval;
    std::string unitFolder;
    std::atomic<bool> saveAtStaging{false};
    // The save's staging folder refused, as a full store refuses it.
    std::atomic<bool> refuseStaging{false};
    // A quit's first moment (its closing note) lets the copies go, as the user's wait would end.
    std::atomic<bool> releaseAtQuit{false};
    // The saves that staged a library since `armSave`.
    std::atomic<int> saves{0};
    const std::thread::id mainThread = std::this_thread::get_id();

    void armSave()
    {
        saves = 0;
        save.arm();
    }
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error,
                  platform::Durability durability) override
    {
        const auto copy = [&] { return LocalFileManager::copyItem(from, to, error, durability); };
        if (std::filesystem::path(from).filename().string().rfind("Held", 0) == 0 && std::this_thread::get_id() != mainThread)
            return copies.through(copy);
        return copy();
    }
    bool writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, platform::Error* error,
                         platform::Durability durability) override
    {
        if (releaseAtQuit && std::filesystem::path(path).filename() == ".closing-pool") copies.release();
        return LocalFileManager::writeAtomically(path, bytes, error, durability);
    }
    bool flushStaged(const std::string& path, platform::Error* error) override
    {
        ++saves;
        const auto flush = [&] { return LocalFileManager::flushStaged(path, error); };
        return saveAtStaging ? flush() : save.through(flush);
    }
    bool removeItem(const std::string& path, platform::Error* error) override
    {
        const auto remove = [&] { return LocalFileManager::removeItem(path, error); };
        return path == unitFolder ? unitRemoval.through(remove) : remove();
    }
    bool createDirectory(const std::string& path, bool intermediates, platform::Error* error) override
    {
        if (path.find(".Patch-saving") != std::string::npos) {
            const auto stage = [&] {
                if (!refuseStaging) return LocalFileManager::createDirectory(path, intermediates, error);
                if (error != nullptr) *error = platform::Error::make("files", ENOSPC, "no room for \"" + path + "\"");
                return false;
            };
            return saveAtStaging ? save.through(stage) : stage();
        }
        const bool made = LocalFileManager::createDirectory(path, intermediates, error);
        if (!unitFolder.empty() && path.rfind(unitFolder + "/", 0) == 0 && unitRemoval.isHeld()) unitRemoval.releaseAndWait();
        return made;
    }
};

// `count` patch files of the demo's first model in `folder`, each named `stem` and a four-digit number;
// their paths in that order.
inline std::vector<std::string> write(const std::filesystem::path& folder, const std::string& stem, int count)
{
    const std::uint32_t type = DemoCatalogue::models().front().effects[0].type;
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%04d", stem.c_str(), i);
        paths.push_back((folder / (std::string(name) + ".qptc")).string());
        ProgramRig::writeFile(paths.back(), library_files::patchFile(name, {type}));
    }
    return paths;
}

// The patches the pool shows, within groups or not.
inline std::size_t patchesShown(const std::vector<PoolTour::Shown>& pool)
{
    std::size_t count = 0;
    for (const auto& entry : pool) count += entry.group ? entry.children.size() : 1;
    return count;
}

// Drops `count` files named `stem` on the pool and waits until they all show, `before` patches showing
// first; their paths, or none when they did not show.
inline std::vector<std::string> drop(ProgramRig& rig, const std::string& stem, int count, std::size_t before)
{
    auto paths = write(rig.scratch(), stem, count);
    DragTour::dropFilesOnPool(rig.window(), paths);
    if (!ProgramRig::waitUntil([&] { return patchesShown(PoolTour::shownPool()) == before + paths.size(); }, 60s)) return {};
    return paths;
}

// Drops 300 "Held" files on the pool, `before` patches showing, and holds the first of their copies; their
// paths, or none when they did not all show or their copies were not held.
inline std::vector<std::string> dropHeldPatches(ProgramRig& rig, HeldFiles& files, std::size_t before,
                                                const std::string& stem = "Held")
{
    files.copies.arm();
    auto paths = drop(rig, stem, 300, before);
    return !paths.empty() && files.copies.waitUntilReached() ? paths : std::vector<std::string>{};
}

// Renames a patch of the pool, holds the next save and starts it with `start`; whether it came to be held.
inline bool renameThenHoldTheSave(HeldFiles& files, const std::function<void()>& start)
{
    if (!ProgramRig::renamePoolPatch()) return false;
    files.armSave();
    start();
    return ProgramRig::waitUntil([&] { return files.save.isHeld(); }, 40s);
}

// A rename, Disconnect's save held as its staging folder is made (refused when `full`, as a full store
// refuses it), and a patch moved into a group meanwhile; then the save let go and done. The pool shown at
// the move; none when something of it did not come.
inline std::vector<PoolTour::Shown> moveDuringADisconnectsSave(HeldFiles& files, bool full)
{
    files.saveAtStaging = true;
    files.refuseStaging = full;
    if (!renameThenHoldTheSave(files, [] { ProgramRig::choose("Disconnect"); })) return {};
    PoolTour::movePatchIntoGroup(*WindowGestures::mainWindow());
    if (!ProgramRig::waitUntil(PoolTour::patchMoved, 10s)) return {};
    auto shown = PoolTour::shownPool();
    files.save.release();
    return ProgramRig::waitUntil([&] { return !files.save.isHeld(); }, 10s) ? shown : std::vector<PoolTour::Shown>{};
}

// Whether the message of a save that failed comes to show (what follows its first words names the cause).
inline ::testing::AssertionResult toldNotSaved()
{
    const std::string told = InterfaceTexts::localizedString("Main_PatchPoolNotSaved").toStdString();
    if (!ProgramRig::waitUntil(ProgramRig::informationShown, 30s)) return ::testing::AssertionFailure() << "the failure was told to nobody";
    if (ProgramRig::informationText().rfind(told.substr(0, told.find('(')), 0) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "told: " << ProgramRig::informationText();
}

}  // namespace held_files
