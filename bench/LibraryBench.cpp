// The two libraries the user sees, at a size a long-time user reaches. The patch pool: patch files in a
// hundred groups, loaded from the saved pool into the working copy and its tree, then marked against the
// simulated unit connected through the whole device stack. The effect pool: a catalogue of effects whose
// module files are all in the store, built into the tree. Each reports the time per patch or effect.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "library/CommonUtils.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/CoordinatorStack.h"
#include "support/library/LibraryFiles.h"
#include "support/library/RecordingCommonUtilsDelegate.h"

namespace fs = std::filesystem;
using namespace library_files;

namespace {

constexpr std::int32_t kModelId = 0x00700001;

std::string modelHex()
{
    const auto v = static_cast<std::uint32_t>(kModelId);
    return hex(((v & 0x00FF00FFU) << 8) | ((v & 0xFF00FF00U) >> 8));
}

// The coordinator on its whole stack with a unit like a real one.
struct Library : CoordinatorStack {
    ~Library() { utils.reset(); }

    void put(const std::string& relative, const Bytes& bytes)
    {
        const fs::path path = fs::path(programFolder()) / relative;
        fs::create_directories(path.parent_path());
        files.writeAtomically(path.string(), bytes, nullptr, platform::Durability::WorkingCopy);
    }
    void start() { start(files); }
    void start(platform::FileManager& with)
    {
        utils.reset();
        utils = std::make_unique<CommonUtils>(collaborators(with));
        utils->setDelegate(&recorder);
        utils->setServerClientFactory([] { return nullptr; });
    }
    // False when the event did not come in time: a run that waited for nothing reports it.
    bool waitFor(const std::string& event, std::chrono::seconds patience = std::chrono::seconds(60))
    {
        return loop.runUntil([&] {
            for (const auto& e : recorder.take())
                if (e == event) return true;
            return false;
        }, patience);
    }
    AllQFXData catalogue(std::uint32_t effects)
    {
        nlohmann::json list = nlohmann::json::array();
        for (std::uint32_t i = 0; i < effects; ++i) list.push_back(catalogueEffect(0x0D000000U + i));
        return AllQFXData::initWithDic(
            {{"qfx_url", "http://127.0.0.1/"},
             {"models", {{{"modelId", modelHex()}, {"modelName", "Rig One"}, {"effects", list}}}}});
    }

    RecordingCommonUtilsDelegate recorder;
    std::unique_ptr<CommonUtils> utils;
};

void seedPool(Library& library, std::int64_t patches);

// The patches the load marked as not for the unit.
std::int64_t incompatibleLeaves(const CommonUtils::Tree& nodes)
{
    std::int64_t count = 0;
    for (const auto& node : nodes) {
        if (!node) continue;
        count += node->isGroup ? incompatibleLeaves(node->childDirectories) : (node->isIncompatible ? 1 : 0);
    }
    return count;
}

// Until the pool's warnings are shown, as the window has them: the coordinator's own judgement (the load's,
// or the marks of a unit that came after it) when it judged this tree against what warnings are judged
// against now, else a pass over the whole pool. False when they never came.
bool warningsShown(Library& library)
{
    const CommonUtils::Tree& pool = library.recorder.patchPool;
    if (library.utils->poolWarningsJudgedAgainst(pool) == library.utils->effectTablesGeneration()) return true;
    bool applied = false;
    library.utils->updatePatchWarningInPatchPoolLater(pool, [&applied] { applied = true; });
    return library.loop.runUntil([&] { return applied; }, std::chrono::seconds(60));
}

// The patches the pool shows a warning for.
std::int64_t warnedLeaves(const CommonUtils::Tree& nodes)
{
    std::int64_t count = 0;
    for (const auto& node : nodes) {
        if (!node) continue;
        count += node->isGroup ? warnedLeaves(node->childDirectories) : (node->isWarning ? 1 : 0);
    }
    return count;
}

// seedPool makes every seventh patch one of a generation the unit lacks, and every patch uses an effect the
// catalogue lacks: each seventh is marked, every one warned.
bool markedAndWarned(Library& library, std::int64_t patches)
{
    const CommonUtils::Tree& pool = library.recorder.patchPool;
    return incompatibleLeaves(pool) == (patches + 6) / 7 && warnedLeaves(pool) == patches;
}

// Each round on a stack of its own: a coordinator loads a pool once, and the unit, still held by the
// last round's sequencer, would never connect to the next one. Timed until the tree, its marks and its
// warnings are shown.
void BM_PatchPoolLoadAndMark(benchmark::State& state)
{
    const auto patches = static_cast<std::int64_t>(state.range(0));
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto library = std::make_unique<Library>();
        seedPool(*library, patches);
        library->start();
        library->utils->dataFromServer(library->catalogue(1));
        library->utils->connectDevice();
        // The unit connected and read, its effects known.
        if (!library->waitFor("connect 1") || !library->waitFor("idle")) {
            state.SkipWithError("the unit did not connect");
            break;
        }
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        library->utils->createPatchDirectoryObjectFromLocal();
        const bool loaded = library->waitFor("patchPool");
        library->utils->updateDirectoryObjectForPatchPool(library->recorder.patchPool);
        const bool warned = loaded && warningsShown(*library);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.PauseTiming();
        // Every timed load is a marking one, or the run says so.
        if (!warned || !markedAndWarned(*library, patches)) {
            state.SkipWithError("a load did not mark and warn the pool for the unit");
            break;
        }
        library.reset();
        state.ResumeTiming();
    }
    state.counters["per_patch_us"] =
        benchmark::Counter(seconds * 1e6 / static_cast<double>(patches * state.iterations()));
}
BENCHMARK(BM_PatchPoolLoadAndMark)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The start where the unit connects after the load began: the load reads the pool with no unit to judge
// it for, and once the unit is connected (its connection not timed) the window asks for the marks and
// the warnings. `load_ms` is the load until its tree, `unit_ms` from the unit's arrival until the marks
// and the warnings are set; the time is the two together.
void BM_PatchPoolLoadThenUnitConnects(benchmark::State& state)
{
    const auto patches = static_cast<std::int64_t>(state.range(0));
    double load = 0;
    double unit = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto library = std::make_unique<Library>();
        seedPool(*library, patches);
        library->start();
        state.ResumeTiming();
        auto begin = std::chrono::steady_clock::now();
        library->utils->createPatchDirectoryObjectFromLocal();
        const bool loaded = library->waitFor("patchPool");
        load += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.PauseTiming();
        library->utils->dataFromServer(library->catalogue(1));
        library->utils->connectDevice();
        if (!loaded || !library->waitFor("connect 1") || !library->waitFor("idle")) {
            state.SkipWithError("the pool did not load or the unit did not connect");
            break;
        }
        state.ResumeTiming();
        begin = std::chrono::steady_clock::now();
        library->utils->updateDirectoryObjectForPatchPool(library->recorder.patchPool);
        const bool marked = library->waitFor("patchPoolMarks");
        const bool warned = marked && warningsShown(*library);
        unit += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.PauseTiming();
        if (!warned || !markedAndWarned(*library, patches)) {
            state.SkipWithError("the unit's marks and warnings were not set");
            break;
        }
        library.reset();
        state.ResumeTiming();
    }
    const auto rounds = static_cast<double>(state.iterations());
    state.counters["load_ms"] = benchmark::Counter(load * 1e3 / rounds);
    state.counters["unit_ms"] = benchmark::Counter(unit * 1e3 / rounds);
    state.counters["per_patch_us"] = benchmark::Counter((load + unit) * 1e6 / (rounds * static_cast<double>(patches)));
}
BENCHMARK(BM_PatchPoolLoadThenUnitConnects)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The start the demo makes: the unit connects a moment after the load began, while it reads the pool. Here
// the reading is held at its first group until the unit is connected and read, and that wait is not timed.
// Timed from the load's beginning until the tree, its marks and its warnings are shown, the window's ask for
// the unit's marks included (a pass of its own when the load did not judge for the unit).
void BM_PatchPoolLoadWhileUnitConnects(benchmark::State& state)
{
    const auto patches = static_cast<std::int64_t>(state.range(0));
    for (auto _ : state) {
        auto library = std::make_unique<Library>();
        seedPool(*library, patches);
        FaultyFileManager files;
        std::mutex mutex;
        std::condition_variable changed;
        bool reached = false;
        bool released = false;
        std::chrono::steady_clock::time_point heldAt;
        files.atFirst(FaultyFileManager::Op::List, "] Group", [&] {
            std::unique_lock lock(mutex);
            heldAt = std::chrono::steady_clock::now();
            reached = true;
            changed.wait(lock, [&] { return released; });
        });
        library->start(files);
        const auto begin = std::chrono::steady_clock::now();
        library->utils->createPatchDirectoryObjectFromLocal();
        const bool held = library->loop.runUntil([&] {
            std::lock_guard lock(mutex);
            return reached;
        }, std::chrono::seconds(60));
        library->utils->dataFromServer(library->catalogue(1));
        library->utils->connectDevice();
        const bool connected = held && library->waitFor("connect 1") && library->waitFor("idle");
        std::chrono::steady_clock::duration wait{};
        {
            std::lock_guard lock(mutex);
            released = true;
            wait = std::chrono::steady_clock::now() - heldAt;
        }
        changed.notify_all();
        if (!connected) {
            state.SkipWithError("the reading was not held or the unit did not connect");
            break;
        }
        bool shown = library->waitFor("patchPool");
        library->utils->updateDirectoryObjectForPatchPool(library->recorder.patchPool);
        if (shown && !markedAndWarned(*library, patches)) shown = library->waitFor("patchPoolMarks");
        shown = shown && warningsShown(*library);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin - wait).count());
        if (!shown || !markedAndWarned(*library, patches)) {
            state.SkipWithError("the pool was not marked and warned for the unit");
            break;
        }
        library.reset();
    }
}
BENCHMARK(BM_PatchPoolLoadWhileUnitConnects)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void seedPool(Library& library, std::int64_t patches)
{
    for (std::int64_t i = 0; i < patches; ++i) {
        const std::string name = "P" + std::to_string(i);
        library.put("QFXMacApplication/Patch/Pool/[" + std::to_string(i % 100) + "] Group" + std::to_string(i % 100) + "/[" +
                        std::to_string(i / 100) + "] " + name + ".qptc",
                    patchFile(name, {0x0D000001, 1}, i % 7 == 0 ? 2 : 1));
    }
    // A saved library is long on disk when the program starts.
    library.files.flushFolder(library.programFolder());
}

// The marks of a pool already shown, for a device that connects later: the caller's share (taking the
// paths; the interface's thread) and the whole until the marks are set on the main queue.
void BM_PatchPoolMarksForALaterDevice(benchmark::State& state)
{
    const auto patches = static_cast<std::int64_t>(state.range(0));
    Library library;
    seedPool(library, patches);
    library.start();
    library.utils->createPatchDirectoryObjectFromLocal();
    const bool loaded = library.waitFor("patchPool");
    library.utils->dataFromServer(library.catalogue(1));
    library.utils->connectDevice();
    if (!loaded || !library.waitFor("connect 1")) {
        state.SkipWithError("the pool did not load or the unit did not connect");
        return;
    }
    double caller = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        library.utils->updateDirectoryObjectForPatchPool(library.recorder.patchPool);
        caller += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (!library.waitFor("patchPoolMarks")) {
            state.SkipWithError("the marks never came");
            break;
        }
    }
    state.counters["caller_ms"] = benchmark::Counter(caller * 1e3 / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_PatchPoolMarksForALaterDevice)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The warnings of the patches a pool edit touched (one group of a hundred) in a shown 10,000-patch pool,
// against the whole pool judged again as every edit once did. `caller_ms` is what the interface's thread
// spends taking the paths; the time runs until the warnings are set on the main queue. Each round clears
// the touched patches' effect lists first, so a round that set none of them ends the run with an error.
void BM_PoolWarningsForTouchedItems(benchmark::State& state)
{
    constexpr std::int64_t kPatches = 10000;
    const auto touchedGroups = static_cast<std::size_t>(state.range(0));
    Library library;
    seedPool(library, kPatches);
    library.start();
    library.utils->dataFromServer(library.catalogue(1));
    library.utils->connectDevice();
    if (!library.waitFor("connect 1")) {
        state.SkipWithError("the unit did not connect");
        return;
    }
    library.utils->createPatchDirectoryObjectFromLocal();
    if (!library.waitFor("patchPool")) {
        state.SkipWithError("the pool did not load");
        return;
    }
    const CommonUtils::Tree& pool = library.recorder.patchPool;
    const CommonUtils::Tree touched(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(std::min(touchedGroups, pool.size())));
    std::vector<PatchItem*> items;
    for (const auto& group : touched)
        for (const auto& leaf : group->childDirectories)
            if (PatchItem* item = leaf->patchItem()) items.push_back(item);
    double caller = 0;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (PatchItem* item : items) item->effectDictionnary = {};
        bool applied = false;
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        library.utils->updatePatchWarningInPatchPoolLater(touched, [&applied] { applied = true; });
        caller += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const bool done = library.loop.runUntil([&] { return applied; }, std::chrono::seconds(60));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.PauseTiming();
        const bool judged = std::all_of(items.begin(), items.end(), [](const PatchItem* item) { return !item->effectDictionnary.empty(); });
        if (!done || items.empty() || !judged) {
            state.SkipWithError("the touched patches' warnings were not set");
            break;
        }
        state.ResumeTiming();
    }
    const auto rounds = static_cast<double>(state.iterations());
    state.counters["patches"] = benchmark::Counter(static_cast<double>(items.size()));
    state.counters["caller_ms"] = benchmark::Counter(caller * 1e3 / rounds);
    state.counters["per_patch_us"] = benchmark::Counter(seconds * 1e6 / (rounds * static_cast<double>(std::max<std::size_t>(items.size(), 1))));
}
// A group of a hundred, and every group: the touched-only update against the whole pool.
BENCHMARK(BM_PoolWarningsForTouchedItems)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The coordinator's start with the last run's "Temp" holding a loaded pool's working copy: what stands
// before the first window.
void BM_StartUpAfterALargePool(benchmark::State& state)
{
    const auto patches = static_cast<std::int64_t>(state.range(0));
    Library library;
    for (auto _ : state) {
        state.PauseTiming();
        library.utils.reset();
        for (std::int64_t i = 0; i < patches; ++i)
            library.put("Temp/Local/Group" + std::to_string(i % 100) + "/P" + std::to_string(i) + ".qptc", Bytes(300, 1));
        state.ResumeTiming();
        library.start();
    }
    library.utils.reset();
}
BENCHMARK(BM_StartUpAfterALargePool)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_EffectPoolFromCatalogue(benchmark::State& state)
{
    const auto effects = static_cast<std::uint32_t>(state.range(0));
    Library library;
    for (std::uint32_t i = 0; i < effects; ++i)
        library.put("QFXMacApplication/Effect/" + hex(0x0D000000U + i) + "/E.QF2",
                    effectModule(0x0D000000U + i, "E" + std::to_string(i), "C" + std::to_string(i % 12)));
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        library.start();
        library.utils->dataFromServer(library.catalogue(effects));
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        library.utils->downloadFileSuccess(true);
        if (!library.waitFor("effectPool")) {
            state.SkipWithError("the effect pool never came");
            break;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    state.counters["per_effect_us"] =
        benchmark::Counter(seconds * 1e6 / static_cast<double>(effects * state.iterations()));
}
BENCHMARK(BM_EffectPoolFromCatalogue)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
