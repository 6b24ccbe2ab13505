// A deletion of many of a drop's patches and its undo: the undo's putting back of the items among their
// former neighbours, one by one as before and in one pass now, and the main thread's wait for the drop's
// copies in the coordinator's steps of the deletion and of its undo while the copies run. A rename, a
// deletion and a move of a drop's group or patches while their copies run, or after they landed.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/patch/CommonUtilsPatchCoordinator.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchUndoHandlers.h"
#include "app/patch/PoolSelectionEntry.h"
#include "app/patch/WithdrawnCopies.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/DeleteAction.h"
#include "support/app/FakePatchNeighbours.h"
#include "support/app/PoolNodes.h"
#include "support/device/SimulatedPatchMemory.h"
#include "support/library/CoordinatorStack.h"

namespace {

namespace fs = std::filesystem;
using Node = std::shared_ptr<DirectoryObject>;

// A group holding `count` patches, all deleted at once as the patch screen records it; undone in one
// record ("one pass" 1, as now) or record by record, each placed on its own ("one pass" 0, as before).
void BM_UndoOfADeletionPutsBack(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool onePass = state.range(1) != 0;
    testing_app::CallLog log;
    testing_app::FakePatchCoordinator coordinator(log);
    std::vector<Node> tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    PatchUndoHandlers handlers(tree, list, PatchUndoHandlers::Collaborators(coordinator));
    for (auto _ : state) {
        state.PauseTiming();
        log.clear();
        const Node group = testing_app::poolGroup("Drop");
        for (std::size_t i = 0; i < count; ++i) group->childDirectories.push_back(testing_app::poolPatch("P" + std::to_string(i)));
        tree = {group};
        const auto neighbours = std::make_shared<const std::vector<std::weak_ptr<DirectoryObject>>>(
            group->childDirectories.begin(), group->childDirectories.end());
        auto record = std::make_shared<DeleteAction>(nullptr, nullptr, 0, 2);
        for (std::size_t i = 0; i < count; ++i) {
            auto each = std::make_shared<DeleteAction>(group->childDirectories[i], group, 0, 0);
            each->neighbours = neighbours;
            each->placeAmongNeighbours = i;
            record->deletedActions.push_back(each);
        }
        group->childDirectories.clear();
        state.ResumeTiming();
        if (onePass) {
            handlers.undo(*record);
        } else {
            for (auto each = record->deletedActions.rbegin(); each != record->deletedActions.rend(); ++each) handlers.undo(**each);
        }
        state.PauseTiming();
        if (group->childDirectories.size() != count) state.SkipWithError("not every item came back");
        state.ResumeTiming();
    }
}

// A coordinator on its whole stack, with no device connected.
struct Library : CoordinatorStack {
    Library() : utils(collaborators())
    {
        utils.setPreferredLocalization("en");
        utils.setDelegate(&interface);
    }
    std::string rootFolder = programFolder();
    CommonUtils utils;
    CommonUtilsDelegate interface;
};

// `count` files dropped into a new group while its copies run on the pool's queue; the main thread's time
// in the coordinator's steps of the deletion of every one of them ("undo" 0) and of the undo after it
// ("undo" 1). As before ("withdraw" 0): every copy landed first, then each file to the bin and back.
void BM_DeletionOfPendingPatches(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const bool undo = state.range(1) != 0;
    const bool withdraw = state.range(2) != 0;
    Library library;
    const std::string dropped = library.rootFolder + "/../Dropped";
    fs::create_directories(dropped);
    std::vector<std::string> sources;
    for (int i = 0; i < count; ++i) {
        sources.push_back(dropped + "/" + std::to_string(i) + ".qptc");
        library.files.writeAtomically(sources.back(),
                                      SimulatedPatchMemory::makePatchRecord("P" + std::to_string(i), "c", 300,
                                                                            static_cast<std::uint8_t>(i)),
                                      nullptr, platform::Durability::WorkingCopy);
    }
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = "Drop " + std::to_string(round++);
        const std::string folder = library.rootFolder + "/Temp/Local/" + name;
        fs::create_directories(folder);
        auto group = std::make_shared<DirectoryObject>();
        group->isGroup = true;
        group->name = name;
        std::vector<std::shared_ptr<PatchItem>> items;
        std::vector<CommonUtils::PatchCopy> copies;
        for (const auto& source : sources) {
            auto item = std::make_shared<PatchItem>();
            item->path = source;
            items.push_back(item);
            copies.push_back({source, folder});
        }
        library.utils.writeFilePatchesLaterInParts(
            copies, [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool) {
                for (auto& [index, result] : results)
                    if (result.item) items[index]->path = result.item->path;
            });
        // As now ("withdraw" 1): the copies not begun are withdrawn and handed over, only those under way
        // land, and only what landed goes to the bin; the undo asks the withdrawn copies again.
        std::vector<bool> withdrawn(items.size(), false);
        const auto deleteAll = [&] {
            if (withdraw) {
                withdrawn = library.utils.withdrawPoolCopies(copies, true);
                library.utils.settlePoolWorkFor({});
            } else {
                library.utils.settlePoolWorkFor(sources);
            }
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (withdrawn[i]) continue;
                library.utils.settlePoolWorkFor({items[i]->path});
                items[i]->path = library.utils.deletePatchItem(*items[i], group.get());
            }
        };
        const auto undoAll = [&] {
            std::vector<CommonUtils::PatchCopy> again;
            for (std::size_t i = items.size(); i-- > 0;) {
                if (withdrawn[i]) {
                    again.push_back({sources[i], folder});
                    continue;
                }
                library.utils.settlePoolWorkFor({items[i]->path, folder});
                items[i]->path = library.utils.undoPatchItem(*items[i], group.get());
            }
            if (!again.empty()) library.utils.writeFilePatchesLaterInParts(std::move(again), [](auto, bool) {});
        };
        if (undo) deleteAll();
        state.ResumeTiming();
        if (undo) undoAll();
        else deleteAll();
        state.PauseTiming();
        library.utils.settlePoolWork();
        library.loop.runUntilIdle();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        state.ResumeTiming();
    }
}

// `count` patch files dropped into a group whose copies run on the pool's queue, the files written once.
struct PendingGroup {
    explicit PendingGroup(Library& library, int count) : library(library), coordinator(library.utils)
    {
        const std::string dropped = library.rootFolder + "/../Dropped";
        fs::create_directories(dropped);
        for (int i = 0; i < count; ++i) {
            sources.push_back(dropped + "/" + std::to_string(i) + ".qptc");
            library.files.writeAtomically(sources.back(),
                                          SimulatedPatchMemory::makePatchRecord("P" + std::to_string(i), "c", 300,
                                                                                static_cast<std::uint8_t>(i)),
                                          nullptr, platform::Durability::WorkingCopy);
        }
    }
    // A new group named `name` at the top of the pool, its copies asked and not landed.
    Node ask(const std::string& name)
    {
        fs::create_directories(library.rootFolder + "/Temp/Local/" + name);
        auto group = std::make_shared<DirectoryObject>();
        group->isGroup = true;
        group->name = name;
        for (const auto& source : sources) {
            auto item = std::make_shared<PatchItem>();
            item->path = source;
            auto node = std::make_shared<DirectoryObject>();
            node->name = "P";
            node->object = item;
            group->childDirectories.push_back(node);
        }
        tree = {group};
        editor.copyAgain(group->childDirectories, group);
        return group;
    }
    // Every copy landed, the pool's folders and the bin emptied for the next round.
    void settle()
    {
        library.utils.settlePoolWork();
        library.loop.runUntilIdle();
        std::error_code ignored;
        fs::remove_all(library.rootFolder + "/Temp/Local", ignored);
        fs::remove_all(library.rootFolder + "/Temp/RecycleBin", ignored);
        fs::create_directories(library.rootFolder + "/Temp/Local");
    }
    Library& library;
    CommonUtilsPatchCoordinator coordinator;
    std::vector<std::string> sources;
    std::vector<Node> tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    PatchPoolEditor editor{tree, list, {coordinator, [](std::shared_ptr<UndoAction>) {}, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}};
};

// The main thread's time in a rename of a group right after `count` copies into it were asked: as before
// ("withdraw" 0) the coordinator's rename, which lands every copy into the folder first; as now (1) the
// copies not begun withdrawn, the folder renamed and the copies asked again into it.
void BM_RenameOfAGroupDuringItsCopies(benchmark::State& state)
{
    const bool withdraw = state.range(1) != 0;
    Library library;
    PendingGroup pending(library, static_cast<int>(state.range(0)));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const Node group = pending.ask("Drop " + std::to_string(round));
        const std::string name = "Renamed " + std::to_string(round++);
        state.ResumeTiming();
        const std::int32_t renamed = withdraw ? pending.editor.renameGroupFolder(group, name)
                                              : pending.coordinator.renameGroup(*group, name);
        state.PauseTiming();
        if (renamed != 0) state.SkipWithError("the group was not renamed");
        pending.settle();
        state.ResumeTiming();
    }
}

// The same for the group's deletion (its folder to the bin): as before every copy landed first; as now the
// children's copies not begun withdrawn (the deletion's record keeps them), only what landed goes.
void BM_DeletionOfAGroupDuringItsCopies(benchmark::State& state)
{
    const bool withdraw = state.range(1) != 0;
    Library library;
    PendingGroup pending(library, static_cast<int>(state.range(0)));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const Node group = pending.ask("Drop " + std::to_string(round++));
        state.ResumeTiming();
        if (withdraw) {
            WithdrawnCopies copies;
            copies.addChildren(*group, library.rootFolder + "/Temp/Local/" + *group->name);
            copies.withdraw(pending.coordinator);
            std::erase_if(group->childDirectories, [&](const Node& child) { return copies.contains(child.get()); });
        }
        const std::string inBin = pending.coordinator.deletePatchGroup(*group);
        state.PauseTiming();
        if (inBin.empty()) state.SkipWithError("the group did not go to the bin");
        pending.settle();
        state.ResumeTiming();
    }
}

// The main thread's time in a move of every one of `count` patches dropped into a group onto another
// group, through the pool editor as the pool view drags them: while their copies run ("copied" 0: each
// copy withdrawn and asked again into the group they go to) or after every copy landed (1: each file's
// move asked of the pool's queue). "copied" 2 times instead, after every copy landed, the main thread's
// part once the queue moved the files: each new name landing in its node.
void BM_MoveOfADropsPatches(benchmark::State& state)
{
    const bool copied = state.range(1) != 0;
    const bool landing = state.range(1) == 2;
    Library library;
    PendingGroup pending(library, static_cast<int>(state.range(0)));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const Node group = pending.ask("Drop " + std::to_string(round));
        const std::string otherName = "Other " + std::to_string(round++);
        fs::create_directories(library.rootFolder + "/Temp/Local/" + otherName);
        const Node other = std::make_shared<DirectoryObject>();
        other->isGroup = true;
        other->name = otherName;
        pending.tree.push_back(other);
        if (copied) {
            library.utils.settlePoolWork();
            library.loop.runUntilIdle();
        }
        PoolSelectionEntries entries;
        for (const Node& child : group->childDirectories) entries.push_back({group, child});
        if (!landing) state.ResumeTiming();
        const auto moved = pending.editor.changePositionWithItems(entries, other, 1);
        if (!landing) state.PauseTiming();
        if (moved.size() != entries.size() || other->childDirectories.size() != entries.size())
            state.SkipWithError("not every patch moved");
        if (landing && !moved.empty()) {
            // The queue's moves are made; only their landing is left.
            const fs::path last = fs::path(library.rootFolder) / "Temp/Local" / otherName /
                                  fs::path(moved.back()->patchItem()->path).filename();
            while (!fs::exists(last)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            state.ResumeTiming();
            library.utils.settlePoolWork();
            state.PauseTiming();
            if (fs::path(moved.back()->patchItem()->path) != last) state.SkipWithError("the new names did not land");
        }
        pending.settle();
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_MoveOfADropsPatches)->ArgNames({"patches", "copied"})->ArgsProduct({{3000, 10000}, {0, 1, 2}})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenameOfAGroupDuringItsCopies)->ArgNames({"patches", "withdraw"})->ArgsProduct({{1000, 3000}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DeletionOfAGroupDuringItsCopies)->ArgNames({"patches", "withdraw"})->ArgsProduct({{1000, 3000}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_UndoOfADeletionPutsBack)->ArgNames({"patches", "one_pass"})->Args({1000, 0})->Args({1000, 1})->Args({3000, 0})->Args({3000, 1})->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_DeletionOfPendingPatches)->ArgNames({"patches", "undo", "withdraw"})->ArgsProduct({{1000, 3000}, {0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
