// Reading binary property lists of growing length: the time per element stays flat when reading is linear.
// Hostile lists too: what refusing or reading them takes grows with the file, whatever it shares.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"
#include "platform/plist/PropertyList.h"
#include "support/plist/PlistFixtures.h"

using namespace platform;

namespace {

void readAndCount(benchmark::State& state, const Bytes& bytes, std::int64_t elements)
{
    for (auto _ : state) {
        auto value = PropertyList::parse(bytes);
        if (!value) state.SkipWithError("list not read");
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * elements);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BinaryArrayOfNumbers(benchmark::State& state)
{
    PlistArray list;
    for (std::int64_t i = 0; i < state.range(0); ++i) list.push_back(i * 7919);
    readAndCount(state, *PropertyList::serialize(list, PlistFormat::Binary), state.range(0));
}

void BinaryKeyedArchive(benchmark::State& state)
{
    std::vector<ArchivedValue> list;
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        auto object = std::make_shared<ArchivedObject>();
        object->className = "Item";
        object->set("name", PlistValue("item " + std::to_string(i)));
        list.emplace_back(std::move(object));
    }
    readAndCount(state, *KeyedArchiver::archive(ArchivedValue::array(std::move(list))), state.range(0));
}

// Dictionaries nested as deep as asked, each of 650 entries under one key of 512 KB: refused.
void RefuseNestedUnderOneKey(benchmark::State& state)
{
    const Bytes bytes = plist_fixtures::nestedUnderOneKey(static_cast<int>(state.range(0)), 650, 262144);
    for (auto _ : state) {
        auto value = PropertyList::parse(bytes);
        if (value) state.SkipWithError("list read");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Objects of one class whose list names 30,000 superclasses, unarchived from their bytes.
void UnarchiveSharingOneClassList(benchmark::State& state)
{
    const Bytes bytes = *PropertyList::serialize(plist_fixtures::archiveSharingOneClassList(static_cast<std::size_t>(state.range(0)), 30000),
                                                 PlistFormat::Binary);
    for (auto _ : state) {
        auto value = KeyedUnarchiver::unarchive(bytes);
        if (!value) state.SkipWithError("archive not read");
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

}  // namespace

BENCHMARK(RefuseNestedUnderOneKey)->Arg(2)->Arg(16)->Arg(255)->Unit(benchmark::kMillisecond);
BENCHMARK(UnarchiveSharingOneClassList)->Arg(300)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BinaryArrayOfNumbers)->Arg(20'000)->Arg(200'000)->Arg(2'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BinaryKeyedArchive)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
