// The patch library's whole-folder operations on a real disk: saving the pool, backing up the device's
// patch list into a group and restoring it for writing, with the time per patch.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "support/device/SimulatedPatchMemory.h"
#include "support/library/CoordinatorStack.h"

namespace {

namespace fs = std::filesystem;

// A coordinator on its whole stack, with no device connected.
struct Library : CoordinatorStack {
    Library() : utils(collaborators())
    {
        utils.setPreferredLocalization("en");
        // The pool counts as loaded only once the interface has been handed it.
        utils.setDelegate(&interface);
    }
    // `count` patch files in a folder under the root, as items.
    std::vector<std::shared_ptr<PatchItem>> patches(const std::string& folder, int count)
    {
        fs::create_directories(rootFolder + "/" + folder);
        std::vector<std::shared_ptr<PatchItem>> items;
        for (int i = 0; i < count; ++i) {
            auto item = std::make_shared<PatchItem>();
            item->path = rootFolder + "/" + folder + "/" + std::to_string(i) + ".qptc";
            files.writeAtomically(item->path,
                                  SimulatedPatchMemory::makePatchRecord("P" + std::to_string(i), "c", 300,
                                                                        static_cast<std::uint8_t>(i)),
                                  nullptr, platform::Durability::WorkingCopy);
            items.push_back(item);
        }
        return items;
    }

    std::string rootFolder = programFolder();
    CommonUtils utils;
    CommonUtilsDelegate interface;
};

void perPatch(benchmark::State& state, double patches)
{
    state.counters["seconds_per_patch"] =
        benchmark::Counter(patches, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SavePool(benchmark::State& state)
{
    const int groups = 100, perGroup = 100;
    Library library;
    std::vector<std::shared_ptr<DirectoryObject>> pool;
    for (int g = 0; g < groups; ++g) {
        auto group = std::make_shared<DirectoryObject>();
        group->name = "Group " + std::to_string(g);
        group->isGroup = true;
        for (const auto& item : library.patches("Temp/Local/Group " + std::to_string(g), perGroup)) {
            auto leaf = std::make_shared<DirectoryObject>();
            leaf->object = item;
            group->childDirectories.push_back(leaf);
        }
        pool.push_back(group);
    }
    // The working copy of a loaded pool is the saved library's files, long on disk, each reached by two
    // names: flushed, and saved once, before timing.
    library.files.flushFolder(library.rootFolder + "/Temp/Local");
    library.utils.sendPatchPoolData({});
    library.loop.runUntil([&] { return library.utils.isLoadedPatchPool(); });
    std::atomic<bool> changed{true};
    library.utils.savePatchPoolToLocal(pool, changed);
    // What the session wrote since: that many patches, a group's worth at most, rewritten in place.
    const auto edited = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        // The library the last save replaced is removed in the background; a quit has no such work under way.
        library.dispatch.waitUntilIdle();
        for (int i = 0; i < edited; ++i) {
            const PatchItem& patch = *pool[static_cast<std::size_t>(i % groups)]->childDirectories[static_cast<std::size_t>(i / groups)]->patchItem();
            library.files.writeAtomically(patch.path, *library.files.readFile(patch.path), nullptr, platform::Durability::WorkingCopy);
        }
        state.ResumeTiming();
        changed = true;
        library.utils.savePatchPoolToLocal(pool, changed);
        if (changed) state.SkipWithError("the pool was not saved");
    }
    state.counters["edited"] = edited;
    perPatch(state, groups * perGroup);
}

// A whole-device backup into a new group; each round's group is removed outside the timed region.
void BM_Backup(benchmark::State& state)
{
    const int count = 100;
    Library library;
    const auto device = library.patches("Device/Patch", count);
    for (auto _ : state) {
        auto items = device;
        for (auto& item : items) item = item->copy();
        if (library.utils.backupPatchListWithName("Backup", items) != 1) state.SkipWithError("backup failed");
        state.PauseTiming();
        library.utils.removeFileWithPath(std::string(CommonUtils::kTempLocal) + "/Backup");
        state.ResumeTiming();
    }
    perPatch(state, count);
}

// Restoring that backup: its files copied into the device working folder, ready to be written.
void BM_Restore(benchmark::State& state)
{
    const int count = 100;
    Library library;
    auto backup = library.patches("Device/Patch", count);
    if (library.utils.backupPatchListWithName("Backup", backup) != 1) state.SkipWithError("backup failed");
    for (auto _ : state) {
        auto items = backup;
        for (auto& item : items) item = item->copy();
        if (!library.utils.restorePatchWithPatchItems(items)) state.SkipWithError("restore failed");
        state.PauseTiming();
        library.utils.removeFileWithPath(CommonUtils::kTempDevicePatch);
        state.ResumeTiming();
    }
    perPatch(state, count);
}

// A drop of 10,000 patch files from a folder of the user's, copied into a new group of the pool on the
// pool's queue. The main thread's wait for one step taken while the copies run, by what the step is:
// "all" waits for every copy (what every pool step did), "other" is a step on a patch the copies cannot
// meet (a rename or delete of another patch), "undo" the drop's own undo as the patch screen makes it
// (the copies not begun withdrawn, the one under way landed, then the group's delete settled for the
// files its nodes still name and its folder moved to the bin), "own" a step on one of the dropped
// patches (its move or delete), which lands that patch's copy alone. The copies' own time is measured by
// "all" from the moment they are asked.
enum class Step { All, Other, Undo, Own };

void dropStep(benchmark::State& state, Step step)
{
    const int count = 10000;
    Library library;
    const auto dropped = library.patches("../Dropped", count);
    library.patches("Temp/Local", 1);
    const std::string other = library.rootFolder + "/Temp/Local/0.qptc";
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string group = library.rootFolder + "/Temp/Local/Drop " + std::to_string(round++);
        std::filesystem::create_directories(group);
        std::vector<CommonUtils::PatchCopy> copies;
        std::vector<std::string> sources;
        for (const auto& item : dropped) {
            copies.push_back({item->path, group});
            sources.push_back(item->path);
        }
        bool landed = false;
        // The nodes that still name their source: those whose copy has not been handed back.
        std::vector<bool> handedBack(copies.size(), false);
        library.utils.writeFilePatchesLaterInParts(
            copies, [&](std::vector<std::pair<std::size_t, CommonUtils::CopiedPatch>> results, bool last) {
                for (const auto& each : results) handedBack[each.first] = true;
                landed = landed || last;
            });
        state.ResumeTiming();
        switch (step) {
        case Step::All: library.utils.settlePoolWork(); break;
        case Step::Other: library.utils.settlePoolWorkFor({other}); break;
        case Step::Undo: {
            library.utils.withdrawPoolCopies(copies);
            library.utils.settlePoolWorkFor({});
            std::vector<std::string> paths{group};
            for (std::size_t i = 0; i < copies.size(); ++i)
                if (!handedBack[i]) paths.push_back(sources[i]);
            library.utils.settlePoolWorkFor(paths);
            DirectoryObject node;
            node.isGroup = true;
            node.name = "Drop " + std::to_string(round - 1);
            if (library.utils.deletePatchGroup(node).empty()) state.SkipWithError("the group did not go");
            break;
        }
        case Step::Own: library.utils.settlePoolWorkFor({sources[sources.size() / 2]}); break;
        }
        state.PauseTiming();
        library.utils.settlePoolWork();
        if (!landed) state.SkipWithError("the copies never landed");
        library.loop.runUntilIdle();
        std::error_code ignored;
        std::filesystem::remove_all(group, ignored);
        state.ResumeTiming();
    }
    state.counters["copies"] = count;
}

// The same 10,000 copies made one by one as the pool's queue made them before: each copy read back, and
// its mark judged from the copy.
void BM_DropCopiesReadBackAsBefore(benchmark::State& state)
{
    const int count = 10000;
    Library library;
    const auto dropped = library.patches("../Dropped", count);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string group = library.rootFolder + "/Temp/Local/Drop " + std::to_string(round++);
        std::filesystem::create_directories(group);
        state.ResumeTiming();
        for (const auto& item : dropped) {
            platform::Error error;
            if (const auto copy = library.utils.writeFilePatchWithPath(item->path, group, {}, &error))
                benchmark::DoNotOptimize(library.utils.isPatchFileIncompatibleWithPath(copy->path));
        }
        state.PauseTiming();
        std::error_code ignored;
        std::filesystem::remove_all(group, ignored);
        state.ResumeTiming();
    }
    state.counters["copies"] = count;
}

// The save after a drop of 10,000 patch files into one group of an otherwise saved pool (the closing save
// of a session that dropped them): every dropped file is new to the library and must be on disk before
// the library is swapped in, flushed one by one ("one by one" 1) or by one flush of the file system (0).
void BM_SavePoolAfterADrop(benchmark::State& state)
{
    const int count = 10000;
    Library library;
    if (state.range(0) != 0) library.files.setFlushedOneByOneUpTo(count * 2);
    auto group = std::make_shared<DirectoryObject>();
    group->name = "Drop";
    group->isGroup = true;
    for (const auto& item : library.patches("Temp/Local/Drop", count)) {
        auto leaf = std::make_shared<DirectoryObject>();
        leaf->object = item;
        group->childDirectories.push_back(leaf);
    }
    const std::vector<std::shared_ptr<DirectoryObject>> pool{group};
    library.utils.sendPatchPoolData({});
    library.loop.runUntil([&] { return library.utils.isLoadedPatchPool(); });
    std::atomic<bool> changed{true};
    for (auto _ : state) {
        state.PauseTiming();
        library.dispatch.waitUntilIdle();
        // Each round's files are new again, as the drop's copies are: written, not yet on disk, held by
        // the working copy's name alone.
        for (const auto& leaf : group->childDirectories) {
            const std::string& path = leaf->patchItem()->path;
            library.files.writeAtomically(path, *library.files.readFile(path), nullptr, platform::Durability::WorkingCopy);
        }
        state.ResumeTiming();
        changed = true;
        library.utils.savePatchPoolToLocal(pool, changed);
        if (changed) state.SkipWithError("the pool was not saved");
    }
    perPatch(state, count);
}

void BM_DropCopiesStepWaitsForAll(benchmark::State& state) { dropStep(state, Step::All); }
void BM_DropCopiesStepOnAnotherPatch(benchmark::State& state) { dropStep(state, Step::Other); }
void BM_DropCopiesUndoOfTheDrop(benchmark::State& state) { dropStep(state, Step::Undo); }
void BM_DropCopiesStepOnADroppedPatch(benchmark::State& state) { dropStep(state, Step::Own); }

}  // namespace

// Disk work: wall-clock time is what the user waits for.
BENCHMARK(BM_SavePool)->ArgName("edited")->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Backup)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_Restore)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_SavePoolAfterADrop)->ArgName("one_by_one")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DropCopiesReadBackAsBefore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DropCopiesStepWaitsForAll)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DropCopiesStepOnAnotherPatch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DropCopiesUndoOfTheDrop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DropCopiesStepOnADroppedPatch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
