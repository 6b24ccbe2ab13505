// Throughput of the SysEx codecs against a plain copy of the same size, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "device/formats/MIDIMessageUtil.h"

namespace {

Bytes randomBlock(std::size_t size)
{
    std::mt19937 random(1);
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

void setThroughput(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Memcpy(benchmark::State& state)
{
    const Bytes source = randomBlock(static_cast<std::size_t>(state.range(0)));
    Bytes destination(source.size());
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), source.size());
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    setThroughput(state);
}

void MsbHeaderPack(benchmark::State& state)
{
    const Bytes source = randomBlock(static_cast<std::size_t>(state.range(0)));
    Bytes destination(static_cast<std::size_t>(packedSize87(state.range(0))));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Convert87(destination.data(), destination.size(), source.data(),
                                           static_cast<std::int32_t>(source.size())));
        benchmark::ClobberMemory();
    }
    setThroughput(state);
}

void MsbHeaderUnpack(benchmark::State& state)
{
    const Bytes raw = randomBlock(static_cast<std::size_t>(state.range(0)));
    Bytes packed;
    Convert87(packed, raw.data(), raw.size());
    for (auto _ : state) {
        Bytes out = MIDIMessageUtil::convert78(packed.data(), static_cast<std::int64_t>(packed.size()));
        benchmark::DoNotOptimize(out.data());
    }
    setThroughput(state);
}

void SevenBitStreamEncode(benchmark::State& state)
{
    const Bytes source = randomBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Bytes out = MIDIMessageUtil::convert87Type2(source.data(), static_cast<std::int64_t>(source.size()));
        benchmark::DoNotOptimize(out.data());
    }
    setThroughput(state);
}

void SevenBitStreamDecode(benchmark::State& state)
{
    const Bytes raw = randomBlock(static_cast<std::size_t>(state.range(0)));
    const Bytes encoded = MIDIMessageUtil::convert87Type2(raw.data(), static_cast<std::int64_t>(raw.size()));
    for (auto _ : state) {
        Bytes out = MIDIMessageUtil::convert78Type2(encoded.data(), static_cast<std::int64_t>(encoded.size()));
        benchmark::DoNotOptimize(out.data());
    }
    setThroughput(state);
}

void Crc32(benchmark::State& state)
{
    const Bytes source = randomBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(CalcCrc32(source.data(), static_cast<std::int64_t>(source.size())));
    setThroughput(state);
}

// 512 is a file-system chunk, 878 the largest patch, 64 KiB a whole effect module file.
#define RIG_CODEC_BENCH(name) BENCHMARK(name)->Arg(512)->Arg(878)->Arg(64 << 10)

RIG_CODEC_BENCH(Memcpy);
RIG_CODEC_BENCH(MsbHeaderPack);
RIG_CODEC_BENCH(MsbHeaderUnpack);
RIG_CODEC_BENCH(SevenBitStreamEncode);
RIG_CODEC_BENCH(SevenBitStreamDecode);
RIG_CODEC_BENCH(Crc32);

}  // namespace
