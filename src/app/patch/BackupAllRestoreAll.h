#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DirectoryObject;
class PatchCoordinator;
class PatchItem;
class UndoAction;

// Backup All and Restore All, without a widget. A backup copies every slot of the device list into a new
// backup-all group at the end of the pool; a restore writes a backup-all group's compatible patches over
// the list from its first slot. The screen's part of each outcome is asked of it through the
// collaborators, in the order the user sees it. Main thread only.
class BackupAllRestoreAll {
public:
    using Node = std::shared_ptr<DirectoryObject>;
    using Nodes = std::vector<Node>;
    using Patches = std::vector<std::shared_ptr<PatchItem>>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using ClickClock = std::function<std::chrono::steady_clock::time_point()>;

    // Each is optional but `coordinator`.
    struct Collaborators {
        explicit Collaborators(PatchCoordinator& fileCoordinator) : coordinator(fileCoordinator) {}

        PatchCoordinator& coordinator;
        std::function<void(std::shared_ptr<UndoAction>)> addActionStack;
        // A message by localisation key, with its one argument when the text is a format.
        std::function<void(const std::string& key, const std::optional<std::string>& argument)> showMessage;
        // The pool node of a copy of a list patch.
        std::function<Node(const PatchItem& patch)> makePatchNode;
        // The time a backup is named after; the system clock when none is set.
        Clock now;
        // When the button's clicks are taken; the steady clock when none is set.
        ClickClock clickTime;
        // The platform's double-click interval.
        std::chrono::milliseconds doubleClickInterval{400};

        // ---- what every backup ends with ----
        // Reloads the pool, selects only `group` where it shows (none: clears the selection) and focuses it.
        std::function<void(const Node& group)> showBackupInPool;
        std::function<void()> setPatchPoolChanged;
        // Disables the button and enables it again a moment later.
        std::function<void()> disableButtonBriefly;

        // ---- a restore's steps ----
        std::function<void(const Patches& list)> writePatchList;
        // Reloads the list and scrolls to its first row.
        std::function<void()> reloadListFromTop;
        std::function<void()> clearPoolSelection;
        // Leaves restore-all mode and redraws the button.
        std::function<void()> leaveRestoreAllMode;
        std::function<void(bool enabled)> setButtonEnabled;
        std::function<void(std::int64_t restoredItems, std::int64_t maxItems)> queueRestoreResult;
        // Sets the application's restoring-all flag and locks the list until the device has answered.
        std::function<void()> startRestoringAll;
        std::function<void()> ejectDevice;
    };

    // What a restore writes: the list with the group's compatible patches from slot 0, how many slots
    // they took and how many children the group has.
    struct RestoreWalk {
        Patches list;
        std::int64_t restoredItems = 0;
        std::int64_t maxItems = 0;
    };

    // The tree and the device list are the screen's; they are changed in place.
    BackupAllRestoreAll(Nodes& structureData, Patches& patchItems, Collaborators collaborators);

    // "yyyyMMdd_HH_mm" in the computer's time zone, with ASCII digits whatever the locale.
    static std::string dateText(std::chrono::system_clock::time_point time);
    // "Backup_<device>_<date>".
    static std::string backupName(const std::string& deviceName, std::chrono::system_clock::time_point time);
    static RestoreWalk restoreWalk(const Patches& list, const DirectoryObject& group);
    // The delayed re-enable of the button, once a backup is done.
    static bool shouldReenableButton(bool deviceConnected, bool patchListLoaded, bool restoringAll);

    // Backs the whole list up; answers the group made, none for an empty list.
    Node backUpAll(const std::string& deviceName);
    // Restores a backup-all group over the list; anything else does nothing.
    void restorePatchItemWithBackupAllGroup(const Node& group);
    // The button's restore. The backup's click turns the button into Restore All of the new group, so a
    // second click of the same double click, or one queued while the backup was made, would rewrite every
    // slot: within a double-click interval of the backup's end that group is not restored. Answers
    // whether the restore ran.
    bool restoreFromButton(const Node& group);

private:
    void message(const std::string& key, const std::optional<std::string>& argument = std::nullopt);
    std::chrono::steady_clock::time_point clickTime() const;

    Nodes& structureData_;
    Patches& patchItems_;
    Collaborators collaborators_;
    std::weak_ptr<DirectoryObject> lastBackup_;
    std::chrono::steady_clock::time_point lastBackupEnded_;
};
