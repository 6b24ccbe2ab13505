#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <numeric>

#include "device/transport/CMidiDevice.h"
#include "support/device/TransportFixture.h"

using Kind = CMidiDevice::ReplyKind;

namespace {

const std::uint8_t req[] = {0xF0, 0xF7};

// Registers the kind with a handler that counts its calls.
using Registration = std::function<bool(CMidiDevice&, int& calls)>;

template <typename Handler>
Registration asking(bool (CMidiDevice::*registration)(Handler, const std::uint8_t*, std::int64_t))
{
    return [registration](CMidiDevice& d, int& c) { return (d.*registration)([&c](auto&&...) { ++c; }, req, 2); };
}

struct KindCase {
    const char* name;
    Kind kind;
    Registration registration;
    Bytes minimalReply;  // exactly the minimum length
};

std::vector<KindCase> everyKind()
{
    using D = CMidiDevice;
    const Bytes identity{0x7E, 0x00, 0x06, 0x02, 0x7D, 0x70, 0x00, 0x01, 0x00, '1', '.', '2', '0'};
    return {
        {"identity", Kind::Identity, asking(&D::registerIndentityReplyMessage), identity},
        {"patch data", Kind::PatchData,
         [](D& d, int& c) { return d.registerPatchDataDumpMessage([&c](auto&&...) { ++c; }, req, 2, 0, 0, 0); },
         reply::patchData(0, 0, 0, {})},
        {"supported effect", Kind::SupportQFXInformation, asking(&D::registerSupportQFXInformationMessage),
         reply::maker(0x54, Bytes(90, 0))},
        {"supported patch", Kind::SupportPatchInformation, asking(&D::registerSupportPatchInformationMessage),
         reply::maker(0x47, Bytes(16, 0))},
        {"advanced", Kind::AdvancedPatchInformation, asking(&D::registerAdvencedPatchDataInformationMessage),
         reply::maker(0x43, Bytes(24, 0))},
        {"respondence", Kind::Respondence,
         [](D& d, int& c) { return d.registerRespondenceMessage([&c](auto&&...) { ++c; }); }, reply::maker(0x00, {0})},
        {"fs respondence", Kind::FFSRespondence,
         [](D& d, int& c) { return d.registerFFSRespondenceMessage([&c](auto&&...) { ++c; }); },
         reply::maker(0x60, {0x03, 0, 0, 0, 0, 0})},
        {"disk free", Kind::DiskFree, asking(&D::registerDiskFreeMessage), reply::fileSystem(0x29, Bytes(10, 0))},
        {"information read", Kind::InforRead, asking(&D::registerInforReadMessage), reply::fileSystem(0x11, Bytes(12, 0))},
        {"file length", Kind::FFileLength, asking(&D::registerFFileLengthMessage), reply::fileSystem(0x28, Bytes(5, 0))},
        {"find first", Kind::FFindFirst,
         [](D& d, int& c) { return d.registerFFindFirstMessage([&c](auto&&...) { ++c; }, req, 2); },
         reply::fileSystem(0x25, Bytes(24, 0))},
        {"open", Kind::FOpen, asking(&D::registerFOpenMessage), reply::fileSystem(0x20, Bytes(5, 0))},
        {"write", Kind::FWrite, asking(&D::registerFWriteMessage), reply::fileSystem(0x23, Bytes(5, 0))},
        {"read count", Kind::FRead1, asking(&D::registerFRead1Message), reply::fileSystem(0x22, Bytes(5, 0))},
        {"read data", Kind::FRead2, asking(&D::registerFRead2Message), reply::readData({})},
        {"fs ack", Kind::FFSACK, asking(&D::registerFFSACKMessage), reply::maker(0x60, {0x05, 0})},
    };
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct ReplyRegistry : ::testing::Test, TransportFixture {
    void deliver(const Bytes& b) { transport.handleByteDataReveices(b.data(), std::int64_t(b.size())); }
    // Patch files are stored, and announced, on the transport's patch-file queue: waits for what it holds.
    void storesLanded()
    {
        std::promise<void> landed;
        transport.afterPatchFilesStored([&] { landed.set_value(); });
        landed.get_future().wait();
    }
};

}  // namespace

TEST_F(ReplyRegistry, EveryKindRefusesASecondRequestAndDropsShortRepliesWhileStayingPending)
{
    const auto kinds = everyKind();
    ASSERT_EQ(kinds.size(), CMidiDevice::kReplyKinds);
    for (const KindCase& k : kinds) {
        SCOPED_TRACE(k.name);
        // A pending read count would take the read-data reply: each kind is tried on its own.
        if (k.kind == Kind::FRead2) transport.clearBufferBlockWaiting();
        int calls = 0, refusedCalls = 0;
        ASSERT_TRUE(k.registration(transport, calls));
        EXPECT_TRUE(transport.isPending(k.kind));
        EXPECT_FALSE(k.registration(transport, refusedCalls));
        // One byte short of the fields it reads: dropped, still waiting.
        deliver(Bytes(k.minimalReply.begin(), k.minimalReply.end() - 1));
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(transport.isPending(k.kind));
        deliver(k.minimalReply);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(refusedCalls, 0);
        EXPECT_FALSE(transport.isPending(k.kind));
        // Free again: a repeated reply reaches nobody, a new registration is accepted.
        deliver(k.minimalReply);
        EXPECT_EQ(calls, 1);
        ASSERT_TRUE(k.registration(transport, calls));
    }
    transport.clearBufferBlockWaiting();
    for (const KindCase& k : kinds) EXPECT_FALSE(transport.isPending(k.kind)) << k.name;
    EXPECT_EQ(transport.numGroupRegister(), -1);
    EXPECT_EQ(transport.newDevicePlugin(), CMidiDevice::kNoDevice);
}

TEST_F(ReplyRegistry, HandlersRegisterFromInsideThemselves)
{
    int calls = 0;
    bool again = false;
    ASSERT_TRUE(transport.registerFFindFirstMessage(
        [&](bool, const std::string&, std::uint32_t) {
            ++calls;
            // The acknowledgement goes out under the file-system respondence kind that this reply freed,
            // and a new find-first of the same kind is accepted too.
            again = transport.registerFFSRespondenceMessage([](bool, std::int32_t) {}, req, 2) &&
                    transport.registerFFindFirstMessage([](bool, const std::string&, std::uint32_t) {}, req, 2);
        },
        req, 2));
    ASSERT_TRUE(transport.registerFFSRespondenceMessage([](bool, std::int32_t) { FAIL(); }));
    deliver(reply::fileSystem(0x25, Bytes(24, 0)));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(again);
    EXPECT_TRUE(transport.isPending(Kind::FFSRespondence));
    EXPECT_TRUE(transport.isPending(Kind::FFindFirst));
}

TEST_F(ReplyRegistry, PartnerKindsFreeEachOther)
{
    int patchCalls = 0, respondenceCode = -1;
    auto patchHandler = [&](bool, const Bytes&, std::int32_t, std::int32_t, std::int32_t, std::int64_t) { ++patchCalls; };
    auto respondence = [&](bool, std::int32_t code) { respondenceCode = code; };

    // A respondence instead of the patch frees the patch request.
    transport.registerRespondenceMessage(respondence);
    transport.registerPatchDataDumpMessage(patchHandler, req, 2, 2, 1, 0);
    deliver(reply::maker(0x00, {0x05}));
    EXPECT_EQ(respondenceCode, 5);
    EXPECT_FALSE(transport.isPending(Kind::PatchData));

    // The matching patch frees the respondence and forgets the address.
    transport.registerRespondenceMessage(respondence);
    transport.registerPatchDataDumpMessage(patchHandler, req, 2, 2, 1, 0);
    EXPECT_EQ((std::tuple(transport.numGroupRegister(), transport.numBankRegister(), transport.numPatchRegister())),
              (std::tuple(0, 1, 2)));
    deliver(reply::patchData(0, 1, 2, {1, 2, 3}));
    EXPECT_EQ(patchCalls, 1);
    EXPECT_FALSE(transport.isPending(Kind::Respondence));
    EXPECT_EQ(transport.numPatchRegister(), -1);

    // A file-system code frees a find-first (a missing file answers -6).
    std::int32_t fsCode = 0;
    transport.registerFFSRespondenceMessage([&](bool, std::int32_t code) { fsCode = code; });
    transport.registerFFindFirstMessage([](bool, const std::string&, std::uint32_t) { FAIL(); }, req, 2);
    deliver(reply::maker(0x60, cat({{0x03}, reply::fiveByte(0xFFFFFFFAu)})));
    EXPECT_EQ(fsCode, -6);
    EXPECT_FALSE(transport.isPending(Kind::FFindFirst));
}

TEST_F(ReplyRegistry, DecodesFieldsAtTheirPositions)
{
    Bytes identity, version;
    transport.registerIndentityReplyMessage([&](bool received, const Bytes& id, const Bytes& v) {
        EXPECT_TRUE(received);
        identity = id;
        version = v;
    }, req, 2);
    deliver({0x7E, 0x00, 0x06, 0x02, 0x7D, 0x70, 0x01, 0x02, 0x03, '1', '.', '2', '0'});
    EXPECT_EQ(std::pair(identity, version), (std::pair(Bytes{0x01, 0x70, 0x03, 0x02}, Bytes{'1', '.', '2', '0'})));

    std::string name;
    std::uint32_t value = 0;
    transport.registerFFindFirstMessage([&](bool, const std::string& n, std::uint32_t v) { name = n; value = v; }, req, 2);
    const Bytes field{0, 0, 0, 0, 'F', 0, 'L', 'S', 'T', 0, 0, '.', 'Q', 'T', '2', 0, 0, 0, 0};
    deliver(reply::fileSystem(0x25, cat({field, reply::fiveByte(1300)})));
    EXPECT_EQ(std::pair(name, value), std::pair(std::string("FLST.QT2"), 1300u));

    std::uint32_t total = 0, free = 0;
    transport.registerDiskFreeMessage([&](bool, std::uint32_t t, std::uint32_t fr) { total = t; free = fr; }, req, 2);
    deliver(reply::fileSystem(0x29, cat({reply::fiveByte(0x00123456), reply::fiveByte(0x00001000)})));
    EXPECT_EQ(std::pair(total, free), std::pair(0x00123456u, 0x1000u));

    std::uint16_t infos = 0, filesCount = 0, sectors = 0;
    transport.registerInforReadMessage([&](bool, std::uint16_t i, std::uint16_t n, std::uint16_t s, const Bytes&) {
        infos = i; filesCount = n; sectors = s;
    }, req, 2);
    deliver(reply::fileSystem(0x11, cat({reply::stream({3, 0}), reply::stream({300 & 0xFF, 300 >> 8}),
                                         reply::stream({0x34, 0x12}), {1, 2, 0}})));
    EXPECT_EQ((std::tuple(infos, filesCount, sectors)), (std::tuple(3, 300, 0x1234)));

    // Replies of other makers, other universal messages and unknown codes go nowhere.
    int any = 0;
    transport.registerRespondenceMessage([&](bool, std::int32_t) { ++any; });
    deliver({0x41, 0x00, 0x70, 0x00, 0x00});
    deliver({0x7E, 0x00, 0x06, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    deliver(reply::maker(0x33, {0, 0, 0}));
    deliver({0x7D, 0x00});
    EXPECT_EQ(any, 0);
}

// The two halves of a chunk share one reply code: a late half of a read the watchdog cut off is never
// taken for the other half the next read awaits, and leaves that read waiting for its own.
TEST_F(ReplyRegistry, ReadHalvesAreTakenOnlyByTheirOwnKindAndACorruptReadEndsUncalled)
{
    Bytes chunk(512);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = std::uint8_t(i * 7);
    std::vector<std::uint32_t> counts;
    transport.registerFRead1Message([&](bool, std::uint32_t c) { counts.push_back(c); }, req, 2);
    deliver(reply::readData(chunk));
    EXPECT_TRUE(counts.empty());
    EXPECT_TRUE(transport.isPending(Kind::FRead1));
    deliver(reply::fileSystem(0x22, reply::fiveByte(212)));
    EXPECT_EQ(counts, std::vector<std::uint32_t>{212});

    std::vector<Bytes> chunks;
    const auto takeChunk = [&](bool, const Bytes& d) { chunks.push_back(d); };
    transport.registerFRead2Message(takeChunk, req, 2);
    deliver(reply::fileSystem(0x22, reply::fiveByte(99)));
    EXPECT_TRUE(chunks.empty());
    EXPECT_TRUE(transport.isPending(Kind::FRead2));
    // Both halves awaited: the count goes to the first, the data to the second.
    transport.registerFRead1Message([&](bool, std::uint32_t c) { counts.push_back(c); }, req, 2);
    deliver(reply::fileSystem(0x22, reply::fiveByte(512)));
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{212, 512}));
    EXPECT_TRUE(chunks.empty());
    deliver(reply::readData(chunk));
    EXPECT_EQ(chunks, std::vector<Bytes>{chunk});
    // An empty chunk (a read at the end of a file) is still data; a corrupt one frees the kind uncalled.
    transport.registerFRead2Message(takeChunk, req, 2);
    deliver(reply::readData({}));
    transport.registerFRead2Message(takeChunk, req, 2);
    deliver(reply::readData(chunk, true));
    EXPECT_EQ(chunks, (std::vector<Bytes>{chunk, {}}));
    EXPECT_FALSE(transport.isPending(Kind::FRead2));
}

TEST_F(ReplyRegistry, PatchDataIsCheckedCutAndOtherwiseStoredAsUnsolicited)
{
    const auto recorder = listen();
    Bytes got;
    std::int64_t gotSize = -1;
    transport.registerPatchDataDumpMessage([&](bool, const Bytes& d, std::int32_t, std::int32_t, std::int32_t,
                                               std::int64_t s) { got = d; gotSize = s; }, req, 2, 3, 0, 1);

    // A bad CRC: dropped before either path, no file, the request still waits.
    deliver(reply::patchData(1, 0, 3, {9, 9}, std::nullopt, true));
    storesLanded();
    EXPECT_TRUE(transport.isPending(Kind::PatchData));
    EXPECT_TRUE(recorder->patches.empty());

    // Another slot than the one asked for: stored and announced; the request still waits.
    const Bytes other{'P', 'T', 'C', 'F', 0x80, 0xFF};
    deliver(reply::patchData(0, 1, 2, other));
    storesLanded();
    ASSERT_EQ(recorder->patches.size(), 1u);
    const PatchObject& notice = recorder->patches[0];
    EXPECT_EQ((std::tuple(notice.groupNum, notice.bankNum, notice.patchNum, notice.path)),
              (std::tuple(0, 1, 2, root + "/Device/Patch/0_1_2.qptc")));
    EXPECT_EQ(files.readFile(notice.path), other);
    EXPECT_TRUE(transport.isPending(Kind::PatchData));

    // The asked-for slot, announcing more than it carries: the size is cut to what was decoded.
    deliver(reply::patchData(1, 0, 3, {1, 2, 3, 4}, 600));
    EXPECT_EQ(std::pair(got, gotSize), std::pair(Bytes{1, 2, 3, 4}, std::int64_t(4)));
    // Announcing fewer than it carries: the handler gets the whole decode and the announced count.
    transport.registerPatchDataDumpMessage([&](bool, const Bytes& d, std::int32_t, std::int32_t, std::int32_t,
                                               std::int64_t s) { got = d; gotSize = s; }, req, 2, 3, 0, 1);
    deliver(reply::patchData(1, 0, 3, {1, 2, 3, 4, 0, 0}, 4));
    EXPECT_EQ(std::pair(got, gotSize), std::pair(Bytes{1, 2, 3, 4, 0, 0}, std::int64_t(4)));
    // Announcing fewer bytes than it carries (the device pads to its slot size): the announced count.
    deliver(reply::patchData(0, 1, 2, {5, 6, 7, 8, 0, 0}, 4));
    storesLanded();
    ASSERT_EQ(recorder->patches.size(), 2u);
    EXPECT_EQ(files.readFile(recorder->patches[1].path), (Bytes{5, 6, 7, 8}));
    EXPECT_FALSE(std::filesystem::exists(root + "/Device/Patch/0_1_2.qptc.tmp"));
}

TEST_F(ReplyRegistry, AnUnwritablePatchFolderStoresAndAnnouncesNothing)
{
    const auto recorder = listen();
    std::ofstream(root + "/Device") << "a file where the folder should be";
    deliver(reply::patchData(0, 0, 0, {1}));
    storesLanded();
    EXPECT_TRUE(recorder->patches.empty());
    EXPECT_FALSE(transport.createFolderInBundleWithType(1).has_value());
}

TEST_F(ReplyRegistry, StoresOfOneRunLandInOrderAndAClearHandsOverAnyHeldBack)
{
    std::mutex mutex;
    std::vector<int> order;
    const auto store = [&](int patch, bool more) {
        transport.storePatchFile(0, 0, patch, Bytes{static_cast<std::uint8_t>(patch)},
                                 [&, patch](const std::optional<std::string>& path) {
                                     std::lock_guard lock(mutex);
                                     if (path) order.push_back(patch);
                                 },
                                 more);
    };
    // A quick run, more than a batch long, then its last store: every file, in the order asked for.
    const int run = static_cast<int>(CMidiDevice::kStoreBatch) * 2 + 3;
    for (int patch = 0; patch < run; ++patch) store(patch, patch + 1 < run);
    storesLanded();
    std::vector<int> expected(static_cast<std::size_t>(run));
    std::iota(expected.begin(), expected.end(), 0);
    std::unique_lock lock(mutex);
    EXPECT_EQ(order, expected);
    lock.unlock();

    // A run cut short: stores that said more would follow still land once the registry is cleared,
    // with nothing else asked of the queue.
    for (int patch = 40; patch < 43; ++patch) store(patch, true);
    transport.clearBufferBlockWaiting();
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return order.size() == static_cast<std::size_t>(run) + 3 && order.back() == 42;
    }));
    EXPECT_EQ(files.readFile(root + "/Device/Patch/0_0_42.qptc"), Bytes{42});
}
