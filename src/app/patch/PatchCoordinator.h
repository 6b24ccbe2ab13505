#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "library/models/PatchItem.h"
#include "library/models/StoredPatchTexts.h"
#include "platform/error/Error.h"

class DirectoryObject;

// What the patch screen asks of the library coordinator: patch files, device writes and selections, and
// the warning marks of the list and the pool. Device requests are queued; their outcome reaches the main
// window controller, not the screen.
class PatchCoordinator {
public:
    using PatchItems = std::vector<std::shared_ptr<PatchItem>>;
    using Tree = std::vector<std::shared_ptr<DirectoryObject>>;

    virtual ~PatchCoordinator() = default;

    // Rewrites the patch's local file with its name and comment; false when the file stays as it was. On
    // success the item's comment is the one the file holds (cut to its limit, as its encoding reads back).
    virtual bool editFilePatch(PatchItem& item) = 0;
    // The same with the fields `restore` holds written back byte for byte (an undo's); the item then
    // holds the texts they read as.
    virtual bool restoreFilePatch(PatchItem& item, const StoredPatchTexts& /*restore*/) { return editFilePatch(item); }
    // The patch's name and comment as its file stores them, for an undo record; none where not known.
    virtual std::optional<StoredPatchTexts> storedPatchTexts(const std::string& /*path*/) { return std::nullopt; }
    // Makes the patch the device's current one.
    virtual void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) = 0;
    virtual void writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) = 0;
    virtual void writeToDeviceWithPatchGroup(const PatchItems& items, const std::vector<std::int64_t>& indexes) = 0;
    virtual void writeToDeviceWithPatchList(const PatchItems& items) = 0;

    virtual void updatePatchWarningWithPatchItem(PatchItem& item) = 0;
    virtual void updatePatchWarningInPatchList(const PatchItems& list) = 0;
    virtual void updatePatchWarningInPatchPool(const Tree& pool) = 0;
    // The same off the main thread, for a whole pool; `applied` runs on the main thread once the warnings
    // are set. Here at once, for coordinators that have nothing to read.
    virtual void updatePatchWarningInPatchPoolLater(const Tree& pool, std::function<void()> applied)
    {
        updatePatchWarningInPatchPool(pool);
        applied();
    }
    // Changes whenever what the warnings are judged against does; none where that is not known, and the
    // whole pool is then judged at every reload.
    virtual std::optional<std::uint64_t> warningsJudgedAgainst() const { return std::nullopt; }
    // What the warnings of this whole pool were judged against where the coordinator judged them itself
    // (as it loaded the pool or marked it for a unit that came later), or is judging them now and will
    // tell when they land; none otherwise.
    virtual std::optional<std::uint64_t> poolWarningsJudgedAgainst(const Tree&) { return std::nullopt; }

    // ---- patch files crossing the screen by drag and drop (paths absolute) ----
    // The patch write info of a copy: `copiedToFinder` names the copy after the patch (with "index - "
    // before it when `index` is not negative) and makes the folder.
    struct WriteInfo {
        bool replace = false;
        bool copiedToFinder = false;
        std::int64_t index = -1;
    };
    // The program's own folder under the user's application-support folder; drops from inside it are refused.
    virtual std::string applicationFolder() = 0;
    virtual bool checkFilePatchWithfilePath(const std::string& path) = 0;
    virtual bool isPatchFileIncompatibleWithPath(const std::string& path) = 0;
    virtual std::shared_ptr<PatchItem> readFilePatchWithPath(const std::string& path) = 0;
    // The copy, read back; none when it failed.
    virtual std::shared_ptr<PatchItem> writeFilePatchWithInfo(const std::string& source, const std::string& toPath,
                                                              const WriteInfo& info) = 0;
    // The group's folder with its patches, inside `toPath`.
    virtual void copyGroup(const DirectoryObject& group, const std::string& toPath) = 0;
    // Whether a backup-all group was made for the connected model, by the model the group holds (read from
    // its record as the pool loaded, or set when the backup was made): drags and drops ask this on the main
    // thread, so no file is read for it.
    virtual bool checkBackupGroupTheSeemModel(const DirectoryObject& group) = 0;

    // ---- the patch pool's files (paths absolute) ----
    // The pool's working folder, "Temp/Local" under the root.
    virtual std::string localPoolFolder() = 0;
    // Where the device list's patches read from the pool keep their own copies, "Device/Patch".
    virtual std::string devicePatchFolder() = 0;
    virtual bool fileExistsAtPath(const std::string& path) = 0;
    // With intermediate folders; true when the folder is there afterwards.
    virtual bool createDirectoryAtPath(const std::string& path) = 0;
    // A copy of the patch file into the folder `toPath`, never replacing; none when it failed, with why in
    // `error` when one is given.
    virtual std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath,
                                                              platform::Error* error) = 0;
    // Copies of patch files into folders (source, folder) made off the main thread, each read back and
    // marked against the connected device; `landed` gets them on the main thread, each with its place
    // among `copies`: a step on a copy's file has that copy handed back first, the batch's end hands back
    // the rest with `last` set. Here in place, all at once, for coordinators that have nothing to wait for.
    struct CopiedPatch {
        std::shared_ptr<PatchItem> item;
        bool isIncompatible = false;
        // Why the copy failed, where the files tell.
        platform::Error error;
        // Withdrawn by a step that keeps the node and asks its copy again (withdrawPendingCopies).
        bool handedOver = false;
    };
    using PatchCopies = std::vector<std::pair<std::string, std::string>>;
    using CopiesLanded = std::function<void(std::vector<std::pair<std::size_t, CopiedPatch>> results, bool last)>;
    virtual void writeFilePatchesLater(const PatchCopies& copies, CopiesLanded landed)
    {
        std::vector<std::pair<std::size_t, CopiedPatch>> copied;
        for (const auto& [source, folder] : copies) {
            CopiedPatch each;
            each.item = writeFilePatchWithPath(source, folder, &each.error);
            if (each.item) each.isIncompatible = isPatchFileIncompatibleWithPath(each.item->path);
            copied.emplace_back(copied.size(), std::move(each));
        }
        landed(std::move(copied), true);
    }
    // The patch files among `paths` read off the main thread, the others left out; `done` gets them on the
    // main thread, in order. Here in place.
    virtual void readFilePatchesLater(const std::vector<std::string>& paths, std::function<void(PatchItems)> done)
    {
        PatchItems items;
        for (const auto& path : paths)
            if (checkFilePatchWithfilePath(path))
                if (auto item = readFilePatchWithPath(path)) items.push_back(std::move(item));
        done(std::move(items));
    }
    // Lands every copy asked for off the main thread before now, in its node (a failed one takes its node
    // out of the pool): a step that takes positions in the pool, or records them, takes them after this.
    // Nothing here, for coordinators that have nothing to wait for.
    virtual void settlePoolWork() {}
    // The same for a step on these files only: their own copies land (made at once when not begun), and
    // copies of other files are waited for only when the step could meet them.
    virtual void settlePoolWorkFor(const std::vector<std::string>& /*paths*/) { settlePoolWork(); }
    // Hands back what the pool's work has finished so far and waits for nothing: for a step that takes
    // positions just before it changes them and so needs no copy still under way.
    virtual void landFinishedPoolWork() {}
    // The copies (source, folder) asked and not yet begun are not made after all, and any of theirs under
    // way has landed when this returns: for an addition undone before its copies were made. Their nodes
    // then leave the pool as failed copies do, and nobody is told (the error is ECANCELED).
    // `handOver`: the caller keeps the nodes and asks their copies again itself (a deletion whose undo
    // puts them back, a move into another folder); they are handed back as handed over and stay as they
    // are. Answers, for each of `copies`, whether it was withdrawn; none here.
    virtual std::vector<bool> withdrawPendingCopies(const PatchCopies& /*copies*/, bool /*handOver*/ = false)
    {
        return {};
    }
    // The file moved into the group's folder (the top of the pool for an empty name); "" when it failed.
    virtual std::string movePatchItem(PatchItem& item, const std::string& groupName) = 0;
    // movePatchItem for each of many patches into one group, in order; each one's new path.
    virtual std::vector<std::string> movePatchItems(const std::vector<PatchItem*>& items, const std::string& groupName)
    {
        std::vector<std::string> moved;
        moved.reserve(items.size());
        for (PatchItem* item : items) moved.push_back(item != nullptr ? movePatchItem(*item, groupName) : std::string());
        return moved;
    }
    // The same carried out after the steps asked before it on the pool's queue: `landed` gets each one's
    // new path on the main thread, once the files have moved (at once here). Until then the patches name
    // their files where they were, and a step on the pool's files waits for the move first.
    virtual void movePatchItemsLater(const std::vector<PatchItem*>& items, const std::string& groupName,
                                     std::function<void(std::vector<std::string>)> landed)
    {
        landed(movePatchItems(items, groupName));
    }
    // 0 renamed (folder moved, children re-pointed), 1 a folder of that name exists, 2 refused or failed.
    virtual std::int32_t renameGroup(DirectoryObject& group, const std::string& newName) = 0;
    // Marks the node against the connected device.
    virtual void updateIncompatiblePathItemInDirectory(DirectoryObject& node) = 0;

    // ---- the recycle bin, backups of the whole list and restores ----
    // The patch's file (in `group`'s folder, or the top of the pool for none) moved to the recycle bin;
    // its path there, "" when it failed.
    virtual std::string deletePatchItem(const PatchItem& item, const DirectoryObject* group) = 0;
    // The file brought back from the recycle bin; its path in the pool, "" when it failed.
    virtual std::string undoPatchItem(const PatchItem& item, const DirectoryObject* group) = 0;
    // The same for a group's folder; "" when it failed.
    virtual std::string deletePatchGroup(const DirectoryObject& group) = 0;
    virtual std::string undoPatchGroup(DirectoryObject& group) = 0;
    // `name`, or its first "%@ (%d)" variant free in the pool's folder.
    virtual std::string canBackupWithName(const std::string& name) = 0;
    // Writes the backup group's folder with a copy of every patch file, the copies re-pointed at them:
    // 1 written, 3 a folder of that name replaced, 2 or 4 failed.
    virtual std::int32_t backupPatchListWithName(const std::string& name, const PatchItems& patchList) = 0;
    // Copies every item's file into the device's folder, re-pointing the items; false at the first failure.
    virtual bool restorePatchWithPatchItems(const PatchItems& items) = 0;
};
