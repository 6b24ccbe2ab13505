#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QWidget>

#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "library/PoolCopyLedger.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "platform/error/Error.h"
#include "support/app/FakeShellNeighbours.h"

namespace testing_app {

// The coordinator as the patch screen sees it; every call goes into the log, with its slots.
class FakePatchCoordinator final : public PatchCoordinator {
public:
    explicit FakePatchCoordinator(CallLog& log) : log_(log) {}
    bool editSucceeds = true;
    // The comment a successful edit reads back from the file, when it differs from the one written.
    std::optional<std::string> storedComment;
    std::vector<std::pair<PatchItems, std::vector<std::int64_t>>> writes;
    std::vector<std::string> editedPaths;
    bool editFilePatch(PatchItem& item) override
    {
        stepSettles();
        log_.push_back("editFilePatch " + item.patchName + "|" + item.patchComment);
        editedPaths.push_back(item.path);
        if (editSucceeds && storedComment) item.patchComment = *storedComment;
        return editSucceeds;
    }
    // The fields an undo writes back byte for byte, logged by size when there are any; the edit itself
    // as editFilePatch.
    bool restoreFilePatch(PatchItem& item, const StoredPatchTexts& restore) override
    {
        const auto size = [](const std::optional<Bytes>& field) {
            return field ? std::to_string(field->size()) : std::string("-");
        };
        if (restore.name || restore.comment)
            log_.push_back("restore name " + size(restore.name) + " comment " + size(restore.comment));
        return editFilePatch(item);
    }
    std::map<std::string, StoredPatchTexts> storedTexts;
    std::optional<StoredPatchTexts> storedPatchTexts(const std::string& path) override
    {
        const auto found = storedTexts.find(path);
        return found == storedTexts.end() ? std::nullopt : std::optional(found->second);
    }
    void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) override
    {
        log_.push_back("selectPatchItem " + (item ? item->patchName : std::string("-")) + " " + std::to_string(index));
    }
    void writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index) override
    {
        log_.push_back("writeItem " + std::to_string(index));
        writes.push_back({{item}, {index}});
    }
    void writeToDeviceWithPatchGroup(const PatchItems& items, const std::vector<std::int64_t>& indexes) override
    {
        std::string text = "writeGroup";
        for (const auto index : indexes) text += " " + std::to_string(index);
        log_.push_back(text);
        writes.push_back({items, indexes});
    }
    void writeToDeviceWithPatchList(const PatchItems& items) override
    {
        log_.push_back("writeList " + std::to_string(items.size()));
        writes.push_back({items, {}});
    }
    void updatePatchWarningWithPatchItem(PatchItem& item) override { log_.push_back("updateWarning " + item.patchName); }
    void updatePatchWarningInPatchList(const PatchItems&) override { log_.push_back("updatePatchWarningInPatchList"); }
    void updatePatchWarningInPatchPool(const Tree&) override { log_.push_back("updatePatchWarningInPatchPool"); }
    // Every pass of the pool's warnings off the main thread, with the nodes it was asked for.
    std::vector<Tree> poolWarningAsks;
    void updatePatchWarningInPatchPoolLater(const Tree& pool, std::function<void()> applied) override
    {
        poolWarningAsks.push_back(pool);
        PatchCoordinator::updatePatchWarningInPatchPoolLater(pool, std::move(applied));
    }
    // What the warnings are judged against; unknown unless a test sets it.
    std::optional<std::uint64_t> judgedAgainst;
    std::optional<std::uint64_t> warningsJudgedAgainst() const override { return judgedAgainst; }
    // What the coordinator judged a whole pool against itself (as it loaded it), for that pool only.
    Tree poolJudgedByCoordinator;
    std::optional<std::uint64_t> poolJudgedAgainst;
    std::optional<std::uint64_t> poolWarningsJudgedAgainst(const Tree& pool) override
    {
        return pool == poolJudgedByCoordinator ? poolJudgedAgainst : std::nullopt;
    }
    // While set, copies asked for off the main thread wait here until the test runs them. Each held batch
    // is told apart as the coordinator tells it (the same ledger): a step lands its own copies alone ahead
    // of their batch, waits for a batch only when it meets one of its copies by the coordinator's rule,
    // and a withdrawn copy is handed back at once, never made.
    bool holdCopies = false;
    std::vector<std::function<void()>> heldCopies;
    // Which of the held copies have finished on the pool's queue (in the order held); the others are
    // still under way.
    std::vector<bool> heldCopiesFinished;
    void writeFilePatchesLater(const PatchCopies& copies, CopiesLanded landed) override
    {
        if (!holdCopies) {
            PatchCoordinator::writeFilePatchesLater(copies, std::move(landed));
            return;
        }
        const auto batch = std::make_shared<HeldBatch>(HeldBatch{ledger_.open(copies), copies, std::move(landed), std::vector<bool>(copies.size())});
        heldBatches_.push_back(batch);
        heldCopies.push_back([this, batch] {
            ledger_.close(batch->number);
            std::vector<std::pair<std::size_t, CopiedPatch>> rest;
            for (std::size_t i = 0; i < batch->copies.size(); ++i)
                if (!batch->handedBack[i]) rest.emplace_back(i, copyOne(batch->copies[i]));
            batch->landed(std::move(rest), true);
        });
        heldCopiesFinished.push_back(false);
    }
    void finishHeldCopies()
    {
        heldCopiesFinished.assign(heldCopies.size(), true);
        // Made on the queue: none can be withdrawn any more.
        for (const auto& batch : heldBatches_)
            for (std::size_t i = 0; i < batch->copies.size(); ++i) ledger_.begin(batch->number, i);
    }
    void runHeldCopies()
    {
        auto held = std::exchange(heldCopies, {});
        heldCopiesFinished.clear();
        heldBatches_.clear();
        for (auto& run : held) run();
    }
    void settlePoolWorkFor(const std::vector<std::string>& paths) override
    {
        std::vector<std::string> files;
        std::vector<std::string> folders;
        for (const auto& path : paths) (std::filesystem::path(path).extension() == ".qptc" ? files : folders).push_back(path);
        // The step's own copies land alone, ahead of their batches.
        for (const auto& [number, index] : ledger_.copiesOf(files)) {
            const auto batch = heldBatch(number);
            if (!batch || batch->handedBack[index]) continue;
            ledger_.takeOrWait(number, index);
            ledger_.made(number, index);
            ledger_.landed(number, index);
            batch->handedBack[index] = true;
            batch->landed({{index, copyOne(batch->copies[index])}}, false);
        }
        // The batches it meets land whole, with all held before them.
        const auto met = ledger_.lastMet(files, folders, local);
        if (!met) return;
        const auto last = std::find_if(heldBatches_.begin(), heldBatches_.end(), [&](const auto& each) { return each->number == *met; });
        if (last == heldBatches_.end()) return;
        const auto count = static_cast<std::size_t>(last - heldBatches_.begin()) + 1;
        // Copies a test held by hand (no batch of their own) stand ahead of the batches held after them.
        landFirst(heldCopies.size() - (heldBatches_.size() - count), count);
    }
    // While set, every step on the pool's files lands the held copies inside it, as the real coordinator
    // lands there the copies the step meets, finished or not.
    bool stepsLandHeldCopies = false;
    // Runs inside every step on the pool's files: what the pool's queue does meanwhile.
    std::function<void()> duringSteps;
    void stepSettles()
    {
        if (stepsLandHeldCopies) runHeldCopies();
        if (duringSteps) duringSteps();
    }
    // What has finished lands, in the order asked, up to the first copy still under way: the real one
    // lands nothing else here, so a copy under way lands only inside a later step.
    // While set, finished copies land when the screen asks, though steps land nothing inside them.
    bool finishedCopiesLand = false;
    void landFinishedPoolWork() override
    {
        if (!stepsLandHeldCopies && !finishedCopiesLand) return;
        std::size_t finished = 0;
        while (finished < heldCopies.size() && finished < heldCopiesFinished.size() && heldCopiesFinished[finished])
            ++finished;
        landFirst(finished, finished);
    }
    // As the real one: the copies not begun are handed back at once as withdrawn (ECANCELED) and never
    // made; then the copies of those files under way land.
    std::vector<bool> withdrawPendingCopies(const PatchCopies& copies, bool handOver = false) override
    {
        std::map<std::uint64_t, std::vector<std::pair<std::size_t, CopiedPatch>>> withdrawn;
        std::vector<bool> taken(copies.size(), false);
        const auto withdrawal = ledger_.withdraw(copies, handOver);
        for (std::size_t i = 0; i < withdrawal.withdrawn.size(); ++i) {
            const auto& [number, index] = withdrawal.withdrawn[i];
            const auto batch = heldBatch(number);
            if (!batch || batch->handedBack[index]) continue;
            batch->handedBack[index] = true;
            taken[withdrawal.asked[i]] = true;
            CopiedPatch result;
            result.error = platform::Error::make("files", ECANCELED, "not wanted");
            result.handedOver = handOver;
            withdrawn[number].emplace_back(index, std::move(result));
        }
        for (auto& [number, results] : withdrawn)
            if (const auto batch = heldBatch(number)) batch->landed(std::move(results), false);
        stepSettles();
        std::vector<std::string> sources;
        for (const auto& copy : copies) sources.push_back(copy.first);
        settlePoolWorkFor(sources);
        return taken;
    }
    // While set, reads of dropped files wait here until the test runs them.
    bool holdReads = false;
    std::vector<std::function<void()>> heldReads;
    void readFilePatchesLater(const std::vector<std::string>& paths, std::function<void(PatchItems)> done) override
    {
        auto run = [this, paths, done = std::move(done)] { PatchCoordinator::readFilePatchesLater(paths, done); };
        holdReads ? heldReads.push_back(std::move(run)) : run();
    }
    void runHeldReads()
    {
        for (auto& run : std::exchange(heldReads, {})) run();
    }
    // The copies held when the screen asks for the pool's work to be settled land then, as the real
    // coordinator's do.
    int settles = 0;
    void settlePoolWork() override
    {
        ++settles;
        runHeldCopies();
    }

    // ---- files crossing by drag and drop: patch files are the paths ending in ".qptc" ----
    std::string application = "/home/u/.local/share/PEXO Rigmora";
    // By file stem: files that read as patches of another model.
    std::set<std::string> incompatibleFiles;
    // Backup-all group names made for the connected model.
    std::set<std::string> sameModelGroups;
    struct InfoWrite {
        std::string source;
        std::string toPath;
        WriteInfo info;
    };
    std::vector<InfoWrite> infoWrites;
    std::string applicationFolder() override { return application; }
    int patchFileChecks = 0;
    // Files named like patches that do not read as ones (yet).
    std::set<std::string> notYetPatches;
    bool checkFilePatchWithfilePath(const std::string& path) override
    {
        ++patchFileChecks;
        return std::filesystem::path(path).extension() == ".qptc" && notYetPatches.count(path) == 0;
    }
    bool isPatchFileIncompatibleWithPath(const std::string& path) override
    {
        return incompatibleFiles.count(std::filesystem::path(path).stem().string()) > 0;
    }
    std::shared_ptr<PatchItem> readFilePatchWithPath(const std::string& path) override
    {
        if (!checkFilePatchWithfilePath(path)) return nullptr;
        auto item = std::make_shared<PatchItem>();
        item->path = path;
        item->patchName = std::filesystem::path(path).stem().string();
        return item;
    }
    std::shared_ptr<PatchItem> writeFilePatchWithInfo(const std::string& source, const std::string& toPath,
                                                      const WriteInfo& info) override
    {
        const std::filesystem::path file(source);
        log_.push_back("writeFilePatchWithInfo " + file.filename().string() + " -> " + toPath +
                       (info.copiedToFinder ? " finder" : "") +
                       (info.index >= 0 ? " index " + std::to_string(info.index) : std::string()));
        infoWrites.push_back({source, toPath, info});
        if (failingCopies.count(file.stem().string())) return nullptr;
        auto copied = std::make_shared<PatchItem>();
        copied->patchName = file.stem().string();
        copied->path = (std::filesystem::path(toPath) / file.filename()).string();
        return copied;
    }
    void copyGroup(const DirectoryObject& group, const std::string& toPath) override
    {
        log_.push_back("copyGroup " + group.name.value_or("") + " -> " + toPath);
    }
    bool checkBackupGroupTheSeemModel(const DirectoryObject& group) override
    {
        return sameModelGroups.count(group.name.value_or("")) > 0;
    }

    // ---- the pool's files: a disk of paths in memory; copies and moves succeed unless a patch is named ----
    std::string local = "/root/Temp/Local";
    std::set<std::string> existing;
    // By patch file stem (copies) and patch name (moves).
    std::set<std::string> failingCopies;
    // Why a failing copy failed, as the file layer tells it.
    platform::Error copyError;
    std::set<std::string> failingMoves;
    std::int32_t renameResult = 0;
    std::string localPoolFolder() override { return local; }
    std::string devicePatchFolder() override { return "/root/Device/Patch"; }
    bool fileExistsAtPath(const std::string& path) override { return existing.count(path) > 0; }
    bool createDirectoryAtPath(const std::string& path) override
    {
        log_.push_back("createDirectory " + path);
        existing.insert(path);
        return true;
    }
    std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath,
                                                      platform::Error* error) override
    {
        const std::filesystem::path file(source);
        log_.push_back("writeFilePatch " + file.filename().string() + " -> " + toPath);
        if (failingCopies.count(file.stem().string())) {
            if (error != nullptr) *error = copyError;
            return nullptr;
        }
        auto copied = std::make_shared<PatchItem>();
        copied->path = (std::filesystem::path(toPath) / file.filename()).string();
        return copied;
    }
    std::string movePatchItem(PatchItem& item, const std::string& groupName) override
    {
        stepSettles();
        log_.push_back("movePatchItem " + item.patchName + " -> " + groupName);
        if (failingMoves.count(item.patchName)) return {};
        return (std::filesystem::path(local) / groupName / std::filesystem::path(item.path).filename())
            .lexically_normal()
            .string();
    }
    std::int32_t renameGroup(DirectoryObject& group, const std::string& newName) override
    {
        stepSettles();
        log_.push_back("renameGroup " + group.name.value_or("") + " -> " + newName);
        if (renameResult == 0) group.name = newName;
        return renameResult;
    }
    void updateIncompatiblePathItemInDirectory(DirectoryObject&) override {}

    // ---- the recycle bin, backups and restores: each logs; failures by patch or group name ----
    std::set<std::string> failingBinMoves;
    std::set<std::string> failingUndos;
    // Names already in the pool's folder: the backup name takes the first free "%@ (%d)".
    std::set<std::string> takenBackupNames;
    std::int32_t backupResult = 1;
    bool restoreSucceeds = true;
    PatchItems restored;
    std::string deletePatchItem(const PatchItem& item, const DirectoryObject* group) override
    {
        stepSettles();
        log_.push_back("deletePatchItem " + item.patchName + " in " + (group ? group->name.value_or("") : "-"));
        // A patch that names no file has nothing to move.
        if (item.path.empty()) return {};
        return failingBinMoves.count(item.patchName) ? std::string() : "/bin/" + item.patchName;
    }
    std::string undoPatchItem(const PatchItem& item, const DirectoryObject* group) override
    {
        stepSettles();
        log_.push_back("undoPatchItem " + item.patchName + " in " + (group ? group->name.value_or("") : "-"));
        return failingUndos.count(item.patchName) ? std::string() : local + "/" + item.patchName + ".qptc";
    }
    std::string deletePatchGroup(const DirectoryObject& group) override
    {
        stepSettles();
        log_.push_back("deletePatchGroup " + group.name.value_or(""));
        return failingBinMoves.count(group.name.value_or("")) ? std::string() : "/bin/" + group.name.value_or("");
    }
    std::string undoPatchGroup(DirectoryObject& group) override
    {
        stepSettles();
        log_.push_back("undoPatchGroup " + group.name.value_or(""));
        return failingUndos.count(group.name.value_or("")) ? std::string() : local + "/" + group.name.value_or("");
    }
    std::string canBackupWithName(const std::string& name) override
    {
        if (!takenBackupNames.count(name)) return name;
        for (int number = 1;; ++number) {
            const std::string candidate = name + " (" + std::to_string(number) + ")";
            if (!takenBackupNames.count(candidate)) return candidate;
        }
    }
    std::int32_t backupPatchListWithName(const std::string& name, const PatchItems& patchList) override
    {
        log_.push_back("backupPatchList " + name + " " + std::to_string(patchList.size()));
        if (backupResult == 1 || backupResult == 3) takenBackupNames.insert(name);
        return backupResult;
    }
    bool restorePatchWithPatchItems(const PatchItems& items) override
    {
        log_.push_back("restorePatch " + std::to_string(items.size()));
        restored = items;
        return restoreSucceeds;
    }

private:
    struct HeldBatch {
        std::uint64_t number = 0;
        PatchCopies copies;
        CopiesLanded landed;
        std::vector<bool> handedBack;
    };
    std::shared_ptr<HeldBatch> heldBatch(std::uint64_t number) const
    {
        for (const auto& batch : heldBatches_)
            if (batch->number == number) return batch;
        return nullptr;
    }
    CopiedPatch copyOne(const std::pair<std::string, std::string>& copy)
    {
        CopiedPatch each;
        each.item = writeFilePatchWithPath(copy.first, copy.second, &each.error);
        if (each.item) each.isIncompatible = isPatchFileIncompatibleWithPath(each.item->path);
        return each;
    }
    // Lands the first `runs` held copies, dropping the first `batches` held batches.
    void landFirst(std::size_t runs, std::size_t batches)
    {
        const auto cut = [](auto& list, std::size_t count) {
            auto end = list.begin() + static_cast<std::ptrdiff_t>(std::min(count, list.size()));
            std::vector<typename std::decay_t<decltype(list)>::value_type> taken(std::make_move_iterator(list.begin()), std::make_move_iterator(end));
            list.erase(list.begin(), end);
            return taken;
        };
        const auto landing = cut(heldCopies, runs);
        cut(heldCopiesFinished, runs);
        cut(heldBatches_, batches);
        for (auto& run : landing) run();
    }
    PoolCopyLedger ledger_;
    std::vector<std::shared_ptr<HeldBatch>> heldBatches_;
    CallLog& log_;
};

// The messages by key (or by text), into the same log.
class FakePatchDialogs final : public PatchDialogs {
public:
    explicit FakePatchDialogs(CallLog& log) : log_(log) {}
    void showInformation(const std::string& key, const std::optional<std::string>& argument,
                         const std::optional<std::string>& reasonKey) override
    {
        log_.push_back("info " + key + (argument ? " " + *argument : std::string()) +
                       (reasonKey ? " (" + *reasonKey + ")" : std::string()));
    }
    void showText(const std::string& text) override { log_.push_back("text " + text); }
    // Sheets wait here until the test runs them, as the queue would once no sheet shows.
    std::vector<std::function<QWidget*()>> waitingSheets;
    // The views the sheets showed, kept as the sheet window would.
    std::vector<std::unique_ptr<QWidget>> shownViews;
    void addSheetAction(std::function<QWidget*()> opening) override
    {
        log_.push_back("addSheetAction");
        waitingSheets.push_back(std::move(opening));
    }
    // Runs the waiting openings in order; answers the last view shown.
    QWidget* runSheets()
    {
        QWidget* last = nullptr;
        for (auto& opening : std::exchange(waitingSheets, {})) {
            QWidget* view = opening ? opening() : nullptr;
            log_.push_back(view ? "sheet shown" : "sheet not shown");
            if (view) shownViews.emplace_back(last = view);
        }
        return last;
    }
    void endSheet(QWidget*, int returnCode) override { log_.push_back("endSheet " + std::to_string(returnCode)); }

private:
    CallLog& log_;
};

}  // namespace testing_app
