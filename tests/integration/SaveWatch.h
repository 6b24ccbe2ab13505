#pragma once

// A store that holds the library's save where a test wants it, and the gestures that start such a save.

#include <QAction>
#include <QWidget>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "platform/files/LocalFileManager.h"

namespace save_watch {

using namespace std::chrono_literals;

// Holds the library's save, once armed, at the flush of what it staged, until the main thread lets it go:
// what the main thread does meanwhile shows whether its loop turns while the pool is written. A save
// the main thread never lets go is let go after 30 s, and says so.
struct SaveWatch : platform::LocalFileManager {
    bool flushStaged(const std::string& path, platform::Error* error) override
    {
        {
            std::lock_guard lock(mutex);
            ++flushes;
        }
        if (!atStaging) hold();
        return LocalFileManager::flushStaged(path, error);
    }
    // Armed `atStaging`, the save is held before it links a file: as its staging folder is made.
    bool createDirectory(const std::string& path, bool intermediates, platform::Error* error) override
    {
        if (path.find(".Patch-saving") != std::string::npos) {
            if (atStaging) hold();
            // As a full store refuses it.
            if (refuseStaging) {
                if (error != nullptr) *error = platform::Error::make("files", ENOSPC, "no room for \"" + path + "\"");
                return false;
            }
        }
        return LocalFileManager::createDirectory(path, intermediates, error);
    }
    void hold()
    {
        std::unique_lock lock(mutex);
        if (!armed) return;
        armed = false;
        held = true;
        changed.notify_all();
        if (!changed.wait_for(lock, 30s, [this] { return released; })) timedOut = true;
        held = false;
    }
    void arm()
    {
        std::lock_guard lock(mutex);
        armed = true;
        released = false;
        flushes = 0;
    }
    // The saves that staged a library since `arm`.
    int saves()
    {
        std::lock_guard lock(mutex);
        return flushes;
    }
    bool isHeld()
    {
        std::lock_guard lock(mutex);
        return held;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool wasTimedOut()
    {
        std::lock_guard lock(mutex);
        return timedOut;
    }
    std::atomic<bool> atStaging{false};
    std::atomic<bool> refuseStaging{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool held = false;
    bool released = false;
    bool timedOut = false;
    int flushes = 0;
};

// Renames a patch of the pool, arms `watch` and starts a save with `start`; whether it came to be held.
inline bool renameThenHoldTheSave(QWidget& window, SaveWatch& watch, const std::function<void()>& start)
{
    PoolTour::renamePatch(window);
    if (!ProgramRig::waitUntil(PoolTour::patchRenamed, 10s)) return false;
    watch.arm();
    start();
    return ProgramRig::waitUntil([&] { return watch.isHeld(); }, 40s);
}

inline void disconnectFromMenu(QWidget& window)
{
    if (QAction* disconnect = WindowGestures::enabledAction(window, QStringLiteral("Disconnect"))) disconnect->trigger();
}

// Renames a patch, holds Disconnect's save and moves a patch into a group while it is held; whether the
// save came to be held and the move showed. The save is left held.
inline bool moveWhileADisconnectsSaveIsHeld(QWidget& window, SaveWatch& watch)
{
    if (!renameThenHoldTheSave(window, watch, [&] { disconnectFromMenu(window); })) return false;
    PoolTour::movePatchIntoGroup(window);
    return ProgramRig::waitUntil(PoolTour::patchMoved, 10s);
}

}  // namespace save_watch
