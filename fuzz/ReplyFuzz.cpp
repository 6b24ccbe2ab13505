// Feeds arbitrary bytes to the transport as a device would send them: first cut into packets by the
// input's own bytes, through reassembly, then every completed message to the reply recogniser with every
// reply kind waiting. Also feeds the raw input to the recogniser as one message.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "device/transport/CMidiDevice.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/VirtualMidiSystem.h"

namespace {

struct Recogniser : CMidiInDeleagte {
    CMidiDevice* device = nullptr;
    void receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages) override
    {
        for (const auto& message : messages) device->handleByteDataReveices(message.byteData.data(), message.size);
    }
};

struct World {
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop, 1};
    platform::VirtualMidiSystem system{dispatch};
    platform::LocalFileManager files;
    std::string root;
    std::unique_ptr<CMidiDevice> device;
    CMidiIn in{system};
    Recogniser recogniser;

    World()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "rig-fuzz-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        device = std::make_unique<CMidiDevice>(system, dispatch, files, root);
        recogniser.device = device.get();
        in.setCMidiInDelegate(&recogniser);
    }

    ~World()
    {
        device.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    void armEveryKind()
    {
        const std::uint8_t request[] = {0xF0, 0xF7};
        CMidiDevice& d = *device;
        d.clearBufferBlockWaiting();
        d.registerIndentityReplyMessage([](bool, const Bytes& id, const Bytes& v) { touch(id); touch(v); }, request, 2);
        d.registerPatchDataDumpMessage([](bool, const Bytes& data, std::int32_t, std::int32_t, std::int32_t,
                                          std::int64_t size) { if (std::int64_t(data.size()) != size) std::abort(); },
                                       request, 2, 0, 0, 0);
        d.registerSupportQFXInformationMessage([](bool, const Bytes& g, const Bytes& r, const Bytes& l, std::uint8_t) {
            if (g.size() != 4 || r.size() != 8 || l.size() != 64) std::abort();
        }, request, 2);
        d.registerSupportPatchInformationMessage([](bool, const Bytes& g, const Bytes& r, std::uint8_t) {
            if (g.size() != 4 || r.size() != 8) std::abort();
        }, request, 2);
        d.registerAdvencedPatchDataInformationMessage([](bool, const AdvencedPatchInformation&) {}, request, 2);
        d.registerRespondenceMessage([](bool, std::int32_t) {});
        d.registerFFSRespondenceMessage([](bool, std::int32_t) {});
        d.registerDiskFreeMessage([](bool, std::uint32_t, std::uint32_t) {}, request, 2);
        d.registerInforReadMessage([](bool, std::uint16_t, std::uint16_t, std::uint16_t, const Bytes& v) { touch(v); },
                                   request, 2);
        d.registerFFileLengthMessage([](bool, std::uint32_t) {}, request, 2);
        d.registerFFindFirstMessage([](bool, const std::string& name, std::uint32_t) {
            if (name.size() > 13) std::abort();
        }, request, 2);
        d.registerFOpenMessage([](bool, const Bytes& h) { if (h.size() != 5) std::abort(); }, request, 2);
        d.registerFWriteMessage([](bool, std::uint32_t) {}, request, 2);
        d.registerFRead1Message([](bool, std::uint32_t) {}, request, 2);
        d.registerFRead2Message([](bool, const Bytes& data) { touch(data); }, request, 2);
        d.registerFFSACKMessage([](bool, std::uint8_t) {}, request, 2);
    }

    static void touch(const Bytes& bytes)
    {
        volatile std::uint8_t sink = 0;
        for (std::uint8_t b : bytes) sink = sink ^ b;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static World world;
    world.armEveryKind();
    world.device->handleByteDataReveices(data, static_cast<std::int64_t>(size));

    // Cut into packets where the low bits of a byte say so, so the same input tries many splits.
    world.armEveryKind();
    platform::MidiPacketList list;
    platform::MidiPacket packet;
    for (std::size_t i = 0; i < size; ++i) {
        packet.push_back(data[i]);
        if ((data[i] & 0x0F) == 0x03) {
            list.push_back(std::move(packet));
            packet.clear();
        }
    }
    list.push_back(std::move(packet));
    world.in.midiInputCallback(list);
    return 0;
}
