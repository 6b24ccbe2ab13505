#pragma once

// A file manager that holds a drop's copies where a test wants them, and the drop that starts them.

#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DragTour.h"
#include "DropFiles.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "platform/files/LocalFileManager.h"

namespace held_copies {

using namespace std::chrono_literals;

// Holds the first copy of a file named "Held..." that the pool's queue makes, until the test lets it go:
// the queue makes its copies one after another, so holding the one it is making holds them all. A copy a
// step makes itself (on the main thread, or beside it while the main thread waits) is never held. A copy
// nobody lets go is let go after 30 s, so a step that waited for it fails the test rather than hangs it,
// and says so.
struct HeldCopies : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error,
                  platform::Durability durability) override
    {
        if (std::filesystem::path(from).filename().string().rfind("Held", 0) == 0 &&
            std::this_thread::get_id() != mainThread) {
            std::unique_lock lock(mutex);
            if (!released && arrived++ == 0) {
                changed.notify_all();
                if (!changed.wait_for(lock, 30s, [this] { return released; })) released = timedOut = true;
            }
        }
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    // Set, a quit's first moment (its closing note) lets the copies go, as the user's wait would end.
    bool writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, platform::Error* error,
                         platform::Durability durability) override
    {
        if (releaseAtQuit && std::filesystem::path(path).filename() == ".closing-pool") release();
        return LocalFileManager::writeAtomically(path, bytes, error, durability);
    }
    bool waitForTheFirst()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [this] { return arrived > 0; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    // Holds the next drop's first copy again.
    void rearm()
    {
        std::lock_guard lock(mutex);
        released = false;
        arrived = 0;
    }
    bool wasTimedOut()
    {
        std::lock_guard lock(mutex);
        return timedOut;
    }
    bool stillHeld()
    {
        std::lock_guard lock(mutex);
        return !released;
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    bool released = false;
    bool timedOut = false;
    std::atomic<bool> releaseAtQuit{false};
};

// Drops 300 "Held" patch files on the pool, `before` patches showing; whether they all show and the first
// of their copies is held.
inline bool dropHeldPatches(ProgramRig& rig, QWidget& window, HeldCopies& held, std::size_t before)
{
    DragTour::dropFilesOnPool(window, drop_files::write(rig.scratch(), "Held", 300));
    return ProgramRig::waitUntil([&] { return drop_files::patchesShown(PoolTour::shownPool()) == before + 300; }, 60s) &&
           held.waitForTheFirst();
}

}  // namespace held_copies
