#pragma once

// A disk that holds the copies the pool's queue makes into one folder until the test lets them go: the
// queue makes its copies one after another, so holding the one it is making holds every batch asked
// after it. A copy the test's thread makes is never held. A held copy nobody lets go goes after 20 s (a
// step that waited for it then fails the test rather than hangs it), and says so.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/LocalFileManager.h"

struct HeldPoolCopies : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error,
                  platform::Durability durability) override
    {
        const std::filesystem::path source(from);
        if (!holdInto.empty() && to.rfind(holdInto, 0) == 0) {
            if (!onlyNamed.empty() && source.filename() != onlyNamed) {
                std::lock_guard lock(mutex);
                makers.push_back(std::this_thread::get_id());
            } else if (std::this_thread::get_id() != testThread) {
                std::unique_lock lock(mutex);
                ++arrived;
                changed.notify_all();
                if (!changed.wait_for(lock, std::chrono::seconds(20), [this] { return released; })) timedOut = true;
            }
        }
        if (!countFrom.empty() && source.parent_path() == std::filesystem::path(countFrom)) {
            std::lock_guard lock(mutex);
            ++made;
        }
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    // While `countSteps` is set, the look-ups and moves the test's thread makes on the disk are counted.
    bool exists(const std::string& path) override { return counted(lookUps), LocalFileManager::exists(path); }
    platform::ItemKind itemKind(const std::string& path) override { return counted(lookUps), LocalFileManager::itemKind(path); }
    bool isDirectory(const std::string& path) override { return counted(lookUps), LocalFileManager::isDirectory(path); }
    bool moveItem(const std::string& from, const std::string& to, platform::Error* error = nullptr) override
    {
        return counted(moves), LocalFileManager::moveItem(from, to, error);
    }
    void counted(int& steps)
    {
        if (countSteps && std::this_thread::get_id() == testThread) ++steps;
    }
    bool waitForTheFirst()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [this] { return arrived > 0; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    // Holds the next copy into `holdInto` again; the count starts again.
    void rearm()
    {
        std::lock_guard lock(mutex);
        released = false;
        arrived = 0;
        made = 0;
    }
    int madeSoFar()
    {
        std::lock_guard lock(mutex);
        return made;
    }

    // Only the copies into this folder are held; set before any is asked.
    std::string holdInto;
    // When set, only the copy of the file of this name is held (the queue's first, which holds the queue),
    // and the threads that made the others into `holdInto` are told.
    std::string onlyNamed;
    std::vector<std::thread::id> makers;
    // When set, the copies of the files in this folder are counted, whoever makes them.
    std::string countFrom;
    bool countSteps = false;
    int lookUps = 0;
    int moves = 0;
    const std::thread::id testThread = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int made = 0;
    bool released = false;
    bool timedOut = false;
};
