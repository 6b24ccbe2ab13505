// Device operations through the command layer, transport and virtual backend against the simulated
// unit: a dump of every patch, a write of all of them, a select, and a 1 MiB file read from and written
// to the unit's file system. Paced runs give the cable a wire rate both ways and a latency per reply and
// report the measured time over the floor: every byte that crossed, both ways, at the wire rate plus one
// latency per reply, counted from what was actually exchanged. Unpaced runs give the host's own cost.
// Every run checks what it transferred, outside the timed region.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/resource.h>

#include "support/device/QFXRig.h"

namespace {

constexpr double kBytesPerSecond = 1'000'000.0;
constexpr std::chrono::microseconds kLatency{200};
constexpr std::int32_t kMaxPatchSize = 640;
const char* const kBigFile = "BIGFILE.QF2";
constexpr std::size_t kBigFileSize = 1 << 20;

// Banks of four patches; 100, 400 or 1,600 of them.
SimulatedPatchMemory::Layout layoutOf(std::int64_t patches)
{
    if (patches <= 100) return {25, 1, 4, kMaxPatchSize};
    return {static_cast<std::int32_t>(patches / 16), 4, 4, kMaxPatchSize};
}

std::int64_t patchCount(const SimulatedPatchMemory::Layout& layout)
{
    return std::int64_t{layout.groups} * layout.banks * layout.patchs;
}

// Context switches of every thread of the process so far, voluntary (a thread slept) and not.
std::int64_t contextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

double floorSeconds(const sim::SimulatedDevice::Traffic& before, const sim::SimulatedDevice::Traffic& after)
{
    const auto bytes = (after.bytesToDevice - before.bytesToDevice) + (after.bytesToHost - before.bytesToHost);
    return static_cast<double>(bytes) / kBytesPerSecond +
           static_cast<double>(after.replies - before.replies) * std::chrono::duration<double>(kLatency).count();
}

// A connected rig, paced or not.
struct Bench {
    QFXRig rig;
    bool paced;
    double seconds = 0;
    double floor = 0;
    double chain = 0;  // until the last request left: the round trips without the stores' tail
    std::int64_t switches = 0;  // context switches in the timed regions, every thread of the process

    Bench(benchmark::State& state, const SimulatedPatchMemory::Layout& layout)
        : rig(2, layout), paced(state.range(0) != 0)
    {
        if (!rig.connect()) state.SkipWithError("no connection");
        if (paced) rig.unit.setPacing(kBytesPerSecond, kLatency);
    }

    // Times one operation from its start until its callback reports `expected`; false (the state told)
    // when it reported anything else.
    template <typename Start>
    bool time(benchmark::State& state, const std::string& expected, Start start)
    {
        rig.recorder.clear();
        const auto before = rig.unit.traffic();
        const auto switchesBefore = contextSwitches();
        const auto begin = std::chrono::steady_clock::now();
        start();
        const std::string result = rig.next(0);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        switches += contextSwitches() - switchesBefore;
        if (result != expected) {
            state.SkipWithError(("no " + expected + " but " + result).c_str());
            return false;
        }
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        const auto after = rig.unit.traffic();
        floor += floorSeconds(before, after);
        chain += std::chrono::duration<double>(after.lastRequestSent - begin).count();
        return true;
    }

    void report(benchmark::State& state, std::int64_t units, const char* perUnit)
    {
        const auto iterations = static_cast<double>(state.iterations());
        if (iterations == 0) return;
        if (units > 0) {
            state.counters[perUnit] = seconds * 1e6 / iterations / static_cast<double>(units);
            state.counters["chain_per_patch_us"] = chain * 1e6 / iterations / static_cast<double>(units);
            state.counters["switches_per_patch"] =
                static_cast<double>(switches) / iterations / static_cast<double>(units);
        }
        if (paced) {
            state.counters["floor_ms"] = floor * 1e3 / iterations;
            state.counters["over_floor"] = floor > 0 ? seconds / floor : 0;
        }
    }
};

void fail(benchmark::State& state, const std::string& what) { state.SkipWithError(what.c_str()); }

// Args: paced (0 or 1), patch count.
void BM_DumpAll(benchmark::State& state)
{
    const auto layout = layoutOf(state.range(1));
    Bench bench(state, layout);
    QFXRig& rig = bench.rig;
    const std::filesystem::path folder = std::filesystem::path(rig.root) / "Device" / "Patch";
    int round = 0;
    for (auto _ : state) {
        // A first dump: no file of an earlier one is there to be kept. The last round's folder is moved
        // aside, not emptied: removing thousands of files just before making as many new ones has the
        // file system look past every inode freed moments ago for each file it makes, a cost the
        // benchmark would otherwise mostly impose on itself. The folders go once the run is over.
        if (std::filesystem::exists(folder))
            std::filesystem::rename(folder, std::filesystem::path(rig.root) / ("Earlier dump " + std::to_string(round++)));
        if (!bench.time(state, "dump 1", [&] {
                rig.qfx->dumpAllPatchWithNumberOfGroups(layout.groups, layout.banks, layout.patchs);
            }))
            return;
        const auto table = rig.recorder.payload(0).allPatch;
        if (!table || static_cast<std::int64_t>(table->patchsList.size()) != patchCount(layout))
            return fail(state, "the dump's table does not list every slot");
        for (const auto& entry : table->patchsList) {
            const auto expected = rig.patches.patch(entry.groupNum, entry.bankNum, entry.patchNum);
            if (!expected || rig.files.readFile(entry.path) != expected)
                return fail(state, "dumped file differs from the device: " + entry.path);
        }
    }
    bench.report(state, patchCount(layout), "per_patch_us");
}

// A dump of a unit whose patches have not changed since the last one: every file is already there.
void BM_DumpAgain(benchmark::State& state)
{
    const auto layout = layoutOf(state.range(1));
    Bench bench(state, layout);
    QFXRig& rig = bench.rig;
    const auto dump = [&] { rig.qfx->dumpAllPatchWithNumberOfGroups(layout.groups, layout.banks, layout.patchs); };
    rig.recorder.clear();
    dump();
    if (rig.next(0) != "dump 1") return fail(state, "the first dump failed");
    for (auto _ : state) {
        if (!bench.time(state, "dump 1", dump)) return;
        const auto table = rig.recorder.payload(0).allPatch;
        if (!table || static_cast<std::int64_t>(table->patchsList.size()) != patchCount(layout))
            return fail(state, "the dump's table does not list every slot");
        for (const auto& entry : table->patchsList) {
            const auto expected = rig.patches.patch(entry.groupNum, entry.bankNum, entry.patchNum);
            if (!expected || rig.files.readFile(entry.path) != expected)
                return fail(state, "dumped file differs from the device: " + entry.path);
        }
    }
    bench.report(state, patchCount(layout), "per_patch_us");
}

void BM_WriteAll(benchmark::State& state)
{
    const auto layout = layoutOf(state.range(1));
    Bench bench(state, layout);
    QFXRig& rig = bench.rig;
    auto table = AllPatch::initPatchsListWithNumberOfGroups(layout.groups, layout.banks, layout.patchs);
    std::vector<Bytes> records;
    for (std::size_t i = 0; i < table.patchsList.size(); ++i) {
        auto& slot = table.patchsList[i];
        slot.path = (std::filesystem::path(rig.root) / (std::to_string(i) + ".qptc")).string();
        records.push_back(*rig.patches.patch(slot.groupNum, slot.bankNum, slot.patchNum));
        rig.files.writeAtomically(slot.path, records.back());
    }
    const Bytes blank = SimulatedPatchMemory::makePatchRecord("Blank", "", 0, 0);
    for (auto _ : state) {
        // The device holds something else before every write, so the check below proves the write.
        for (const auto& slot : table.patchsList) rig.patches.setPatch(slot.groupNum, slot.bankNum, slot.patchNum, blank);
        if (!bench.time(state, "writeall 1", [&] { rig.qfx->writeAllPatchWithAllPatch(table, layout.maxPatchSize); }))
            return;
        for (std::size_t i = 0; i < table.patchsList.size(); ++i) {
            const auto& slot = table.patchsList[i];
            if (rig.patches.patch(slot.groupNum, slot.bankNum, slot.patchNum) != records[i])
                return fail(state, "device memory differs from the written file " + slot.path);
        }
    }
    bench.report(state, patchCount(layout), "per_patch_us");
}

void BM_Select(benchmark::State& state)
{
    const auto layout = layoutOf(100);
    Bench bench(state, layout);
    QFXRig& rig = bench.rig;
    const Bytes record = *rig.patches.patch(0, 0, 1);
    for (auto _ : state) {
        if (!bench.time(state, "select 1", [&] {
                rig.qfx->selectPatchWithData(record.data(), static_cast<std::int64_t>(record.size()), kMaxPatchSize);
            }))
            return;
        if (rig.patches.selected() != record) return fail(state, "the edit buffer differs from the selected patch");
    }
    bench.report(state, 0, "");
}

Bytes bigFile()
{
    Bytes data(kBigFileSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    return data;
}

void BM_FileRead(benchmark::State& state)
{
    Bench bench(state, layoutOf(100));
    QFXRig& rig = bench.rig;
    const Bytes data = bigFile();
    rig.fs.setFile(kBigFile, data);
    for (auto _ : state) {
        if (!bench.time(state, "read 1", [&] { rig.qfx->readFFSFileListWithFilePath(kBigFile); })) return;
        const auto payload = rig.recorder.payload(0);
        if (payload.bytes != data || payload.a != static_cast<std::int64_t>(data.size()))
            return fail(state, "the file read differs from the device's");
    }
    bench.report(state, 0, "");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBigFileSize));
}

void BM_FileWrite(benchmark::State& state)
{
    Bench bench(state, layoutOf(100));
    QFXRig& rig = bench.rig;
    const Bytes data = bigFile();
    for (auto _ : state) {
        rig.fs.removeFile(kBigFile);
        if (!bench.time(state, "write 1", [&] {
                rig.qfx->writeFileListWithFilePath(kBigFile, data.data(), static_cast<std::int64_t>(data.size()), 0);
            }))
            return;
        if (rig.fs.file(kBigFile) != data) return fail(state, "the device's file differs from the one written");
    }
    bench.report(state, 0, "");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBigFileSize));
}

// The paced simulator with no host stack: identity round trips from a bare port, each waited for. What
// remains over the floor is the simulator's own lateness plus the backend's two thread hops.
void BM_SimulatorAlone(benchmark::State& state)
{
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    platform::VirtualMidiSystem midi(dispatch);
    sim::SimulatedDevice device(midi);
    device.setPacing({kBytesPerSecond, kLatency});
    std::mutex mutex;
    std::condition_variable landed;
    bool answered = false;
    const auto client = midi.createClient("bench", nullptr);
    const auto in = midi.createInputPort(client, "in", [&](const platform::MidiPacketList&) {
        std::lock_guard lock(mutex);
        answered = true;
        landed.notify_one();
    });
    const auto out = midi.createOutputPort(client, "out");
    midi.connectSource(in, device.port().source());
    const Bytes request{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};  // the universal identity request
    double seconds = 0, floor = 0;
    for (auto _ : state) {
        const auto before = device.traffic();
        const auto begin = std::chrono::steady_clock::now();
        midi.sendSysex(out, device.port().destination(), request.data(), request.size(), nullptr);
        std::unique_lock lock(mutex);
        landed.wait(lock, [&] { return answered; });
        answered = false;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        floor += floorSeconds(before, device.traffic());
    }
    state.counters["floor_us"] = floor * 1e6 / static_cast<double>(state.iterations());
    state.counters["late_us"] = std::chrono::duration<double, std::micro>(device.traffic().late).count() /
                                static_cast<double>(state.iterations());
    state.counters["over_floor"] = floor > 0 ? seconds / floor : 0;
}

void patchArgs(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"paced", "patches"});
    for (const std::int64_t paced : {0, 1})
        for (const std::int64_t patches : {100, 400, 1600}) b->Args({paced, patches});
}

BENCHMARK(BM_SimulatorAlone)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DumpAll)->Apply(patchArgs)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpAgain)->Apply(patchArgs)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteAll)->Apply(patchArgs)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Select)->ArgName("paced")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FileRead)->ArgName("paced")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileWrite)->ArgName("paced")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
