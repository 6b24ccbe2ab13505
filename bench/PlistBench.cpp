// Reading binary property lists of growing length: the time per element stays flat when reading is linear.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/PropertyList.h"

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

}  // namespace

BENCHMARK(BinaryArrayOfNumbers)->Arg(20'000)->Arg(200'000)->Arg(2'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BinaryKeyedArchive)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
