// Whole-memory transfers through the command layer, transport and virtual backend against the
// simulated unit: a dump of every patch and a write of all of them. Paced runs give the unit a wire
// rate and a per-message latency and report the measured time over that floor (the wire time of what
// the unit sent); unpaced runs give the host's own cost per patch.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/device/QFXRig.h"

namespace {

constexpr double kBytesPerSecond = 1'000'000.0;
constexpr std::chrono::microseconds kLatency{200};
const SimulatedPatchMemory::Layout kLayout{25, 1, 4, 640};  // a hundred patches in banks of four

void pace(QFXRig& rig, bool paced)
{
    if (paced) rig.unit.setPacing(kBytesPerSecond, kLatency);
}

// Totals over the iterations, reported as averages per iteration.
struct Totals {
    double seconds = 0;
    double floor = 0;
};

void record(benchmark::State& state, Totals& totals, double seconds, std::size_t bytes, std::size_t messages)
{
    state.SetIterationTime(seconds);
    totals.seconds += seconds;
    totals.floor += static_cast<double>(bytes) / kBytesPerSecond +
                    static_cast<double>(messages) * std::chrono::duration<double>(kLatency).count();
}

void report(benchmark::State& state, const Totals& totals, bool paced, std::size_t patches)
{
    state.counters["per_patch_us"] = benchmark::Counter(totals.seconds * 1e6 / static_cast<double>(patches),
                                                        benchmark::Counter::kAvgIterations);
    if (paced) {
        state.counters["floor_ms"] = benchmark::Counter(totals.floor * 1e3, benchmark::Counter::kAvgIterations);
        state.counters["over_floor"] = totals.floor > 0 ? totals.seconds / totals.floor : 0;
    }
}

// Times one whole-memory operation per iteration until its callback reports `expected`.
template <typename Start>
void measure(benchmark::State& state, QFXRig& rig, bool paced, const std::string& expected, Start start)
{
    pace(rig, paced);
    Totals totals;
    for (auto _ : state) {
        rig.forget();
        const auto bytes = rig.unit.bytesSent();
        const auto messages = rig.unit.messagesSent();
        const auto begin = std::chrono::steady_clock::now();
        start();
        if (rig.next(0) != expected) {
            state.SkipWithError(("no " + expected).c_str());
            return;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        record(state, totals, seconds, rig.unit.bytesSent() - bytes, rig.unit.messagesSent() - messages);
    }
    report(state, totals, paced, 100);
}

void BM_DumpAll(benchmark::State& state)
{
    const bool paced = state.range(0) != 0;
    QFXRig rig(2, kLayout);
    if (!rig.connect()) {
        state.SkipWithError("no connection");
        return;
    }
    measure(state, rig, paced, "dump 1",
            [&] { rig.qfx->dumpAllPatchWithNumberOfGroups(kLayout.groups, kLayout.banks, kLayout.patchs); });
}

void BM_WriteAll(benchmark::State& state)
{
    const bool paced = state.range(0) != 0;
    QFXRig rig(2, kLayout);
    if (!rig.connect()) {
        state.SkipWithError("no connection");
        return;
    }
    auto table = AllPatch::initPatchsListWithNumberOfGroups(kLayout.groups, kLayout.banks, kLayout.patchs);
    for (std::size_t i = 0; i < table.patchsList.size(); ++i) {
        const auto& slot = table.patchsList[i];
        table.patchsList[i].path = (std::filesystem::path(rig.root) / (std::to_string(i) + ".qptc")).string();
        rig.files.writeAtomically(table.patchsList[i].path, *rig.patches.patch(slot.groupNum, slot.bankNum, slot.patchNum));
    }
    measure(state, rig, paced, "writeall 1", [&] { rig.qfx->writeAllPatchWithAllPatch(table, kLayout.maxPatchSize); });
}

BENCHMARK(BM_DumpAll)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteAll)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
