#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DirectoryObject;
class QWidget;

// The demo tour's steps on the patch pool, each through the entry points the pool's own gestures use:
// the seeded pool with its backup open, a rename typed in place, device rows saved into a group, a new
// group from the pool's menu, and a patch moved into a group. Each act does nothing once its state is
// there, so the tour may repeat it.
class PoolTour {
public:
    static constexpr const char* kRenamedFrom = "Warm Pad";
    static constexpr const char* kRenamedTo = "Pad Lead";
    static constexpr const char* kMovedPatch = "Octaver";

    static void openBackupGroup(QWidget& window);
    static bool backupGroupOpen();
    static void renamePatch(QWidget& window);
    // A top-level item of the pool renamed in place, typed a key at a time and committed with Return.
    static void renameItem(QWidget& window, const char* from, const char* to);
    // The same for a patch of a top-level group, the group opened first.
    static void renameChild(QWidget& window, const std::string& group, const std::string& from, const char* to);
    // Whether the pool shows a top-level item of that name.
    static bool showsTopLevel(const char* name);
    static bool patchRenamed();
    static void saveDeviceRowsIntoGroup(QWidget& window);
    static bool rowsSaved();
    static void createGroup(QWidget& window);
    static bool groupCreated();
    static void movePatchIntoGroup(QWidget& window);
    static bool patchMoved();

    // The device list's rows saved at the end of a top-level group, as a drop onto the group does.
    static void saveDeviceRowsInto(QWidget& window, const std::string& group, const std::vector<std::int64_t>& rows);
    // The last `count` patches of a top-level group moved into another top-level group, as a drag of them
    // onto it does.
    static void moveChildrenInto(QWidget& window, const std::string& from, std::size_t count, const std::string& to);
    // The last `count` patches of a top-level group deleted, as the pool's menu does with them selected.
    static void deleteChildren(QWidget& window, const std::string& group, std::size_t count);
    // What the pool shows: each top-level item by name, in order, with a group's patches in order.
    struct Shown {
        std::string name;
        bool group = false;
        std::vector<std::string> children;
        bool operator==(const Shown&) const = default;
    };
    static std::vector<Shown> shownPool();
    // Whether every patch the pool shows names a file of the pool's own working copy under `local`, as
    // it does once its copy has landed.
    static bool copiesLanded(const std::string& local);
    // Whether no read of dropped files and no copy into the pool is under way.
    static bool poolAtRest();
};
