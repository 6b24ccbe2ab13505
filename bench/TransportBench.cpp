// Replies per second through the transport. Round trip: a request goes to the virtual device, whose
// answer crosses the virtual input thread, reassembly, the reply queue, recognition and the handler.
// Software only: reassembly and recognition of the same reply on one thread, without any hand-over.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "device/transport/CMidiDevice.h"
#include "device/formats/MIDIMessageUtil.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/VirtualMidiSystem.h"

namespace {

// The largest read-data reply: 1023 bytes on the wire, 880 data bytes packed with their CRC.
Bytes largeReply()
{
    Bytes data(880);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31);
    Bytes wire{0xF0, 0x7D, 0x00, 0x70, 0x60, 0x04, 0x22, 0, 0, 0, 0};
    Convert87(wire, data.data(), data.size());
    Convert32to7(static_cast<std::uint32_t>(CalcCrc32(data.data(), std::int64_t(data.size()))), wire);
    wire.push_back(0xF7);
    return wire;
}

// The file-system acknowledgement: six bytes between F0 and F7.
Bytes smallReply() { return {0xF0, 0x7D, 0x00, 0x70, 0x60, 0x05, 0x00, 0xF7}; }

struct Bench {
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop, 2};
    platform::VirtualMidiSystem system{dispatch};
    platform::LocalFileManager files;
    std::string root = (std::filesystem::temp_directory_path() / "rig-bench-transport").string();
    CMidiDevice device{system, dispatch, files, root};
    std::shared_ptr<platform::VirtualMidiDevice> port = system.addDevice("bench");
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;

    explicit Bench(const Bytes& reply)
    {
        port->setReceiver([this, reply](const Bytes&) { port->send(reply); });
        device.connectDevice(port->device());
    }
    void finish()
    {
        std::lock_guard lock(mutex);
        done = true;
        answered.notify_one();
    }
    void wait()
    {
        std::unique_lock lock(mutex);
        answered.wait(lock, [this] { return done; });
        done = false;
    }
};

const std::uint8_t kRequest[] = {0xF0, 0x7D, 0x00, 0x70, 0x60, 0x05, 0x00, 0xF7};

void BM_RoundTrip(benchmark::State& state)
{
    const bool large = state.range(0) != 0;
    const Bytes reply = large ? largeReply() : smallReply();
    Bench bench(reply);
    for (auto _ : state) {
        if (large) {
            bench.device.registerFRead2Message([&](bool, const Bytes&) { bench.finish(); }, kRequest, sizeof kRequest);
        } else {
            bench.device.registerFFSACKMessage([&](bool, std::uint8_t) { bench.finish(); }, kRequest, sizeof kRequest);
        }
        bench.wait();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * std::int64_t(reply.size()));
    state.SetLabel(large ? "1023-byte reply" : "6-byte reply");
}
BENCHMARK(BM_RoundTrip)->Arg(1)->Arg(0)->UseRealTime();

struct Direct : CMidiInDeleagte {
    CMidiDevice* device = nullptr;
    void receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages) override
    {
        for (const auto& m : messages) device->handleByteDataReveices(m.byteData.data(), m.size);
    }
};

void BM_ReassembleAndRecognise(benchmark::State& state)
{
    const bool large = state.range(0) != 0;
    const Bytes reply = large ? largeReply() : smallReply();
    Bench bench(reply);
    Direct direct;
    direct.device = &bench.device;
    CMidiIn in(bench.system);
    in.setCMidiInDelegate(&direct);
    const platform::MidiPacketList list{reply};
    std::int64_t handled = 0;
    for (auto _ : state) {
        if (large) bench.device.registerFRead2Message([&](bool, const Bytes&) { ++handled; }, nullptr, 0);
        else bench.device.registerFFSACKMessage([&](bool, std::uint8_t) { ++handled; }, nullptr, 0);
        in.midiInputCallback(list);
    }
    if (handled != state.iterations()) state.SkipWithError("a reply was not recognised");
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * std::int64_t(reply.size()));
    state.SetLabel(large ? "1023-byte reply" : "6-byte reply");
}
BENCHMARK(BM_ReassembleAndRecognise)->Arg(1)->Arg(0);

}  // namespace
