#include <gtest/gtest.h>

#include "support/device/QFXRig.h"

namespace {

using Events = std::vector<std::string>;

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return bytes;
}

struct Connected : QFXRig {
    explicit Connected(std::int32_t retry = 2) : QFXRig(retry)
    {
        fs.setFile("FLST_SEQ.QT2", pattern(1000));
        EXPECT_TRUE(connect());
        forget();
    }
};

TEST(CQFXMidiFiles, ReadFindsOpensReadsInChunksAndCloses)
{
    Connected rig;
    rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
    EXPECT_EQ(rig.next(0), "read 1");
    EXPECT_EQ(rig.recorder.payload(0).bytes, pattern(1000));
    EXPECT_EQ(rig.recorder.payload(0).a, 1000);
    EXPECT_EQ(rig.functions(), (Events{"60 25", "60 05", "60 27", "60 20", "60 05", "60 22", "60 05", "60 05",
                                       "60 22", "60 05", "60 05", "60 21"}));
    EXPECT_EQ(rig.fs.openFileCount(), 0u);
}

TEST(CQFXMidiFiles, ReadReportsMissingFilesLongNamesAndFindCodes)
{
    Connected rig;
    rig.qfx->readFFSFileListWithFilePath("NOPE.QF2");
    EXPECT_EQ(rig.next(0), "read -3");
    rig.qfx->readFFSFileListWithFilePath("ABCDEFGHIJKLMN");
    EXPECT_EQ(rig.next(1), "read -1");
    rig.fs.changeFaults([](auto& f) { f.failCount[0x25] = 3; });
    rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
    EXPECT_EQ(rig.next(2), "read -2");
    EXPECT_EQ(rig.count("60 25"), 4u);
}

TEST(CQFXMidiFiles, ARefusedChunkReopensUnderOneRetryBudget)
{
    struct Case {
        std::int32_t retry;
        int refusals;
        std::string result;
        std::size_t opens, reads;
    };
    // Every chunk refused: the reopened reads share the budget and the read fails, leaving the file as
    // the device has it.
    for (const Case& c : {Case{2, 1, "read 1", 2, 3}, Case{2, 100, "read -2", 3, 3}, Case{0, 1, "read -2", 1, 1}}) {
        SCOPED_TRACE(c.refusals);
        Connected rig(c.retry);
        rig.fs.changeFaults([&](auto& f) { f.failCount[0x22] = c.refusals; });
        rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
        EXPECT_EQ(rig.next(0), c.result);
        if (c.result == "read 1") {
            EXPECT_EQ(rig.recorder.payload(0).bytes, pattern(1000));
            EXPECT_EQ(rig.fs.openFileCount(), 0u);
        }
        EXPECT_EQ(rig.count("60 20"), c.opens);
        EXPECT_EQ(rig.count("60 22"), c.reads);
    }
}

TEST(CQFXMidiFiles, ImpossibleSizesAndCountsCloseTheFileAndFailTheRead)
{
    using Faults = SimulatedFileSystem::Faults;
    const std::vector<std::pair<const char*, std::function<void(Faults&)>>> cases{
        {"overlong count", [](Faults& f) { f.overlongReadCount = 1; }},
        // A count within the chunk and the file, but more than the data that followed it.
        {"short data", [](Faults& f) { f.shortReadData = 1; }},
        // A file announced larger than it holds: the device runs dry before the announced end.
        {"larger than it holds", [](Faults& f) { f.findFirstSize = 1500; }},
        {"beyond any effect list", [](Faults& f) { f.findFirstSize = 16 * 1024 * 1024 + 1; }},
    };
    for (const auto& [name, fault] : cases) {
        SCOPED_TRACE(name);
        Connected rig;
        rig.fs.changeFaults(fault);
        rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
        EXPECT_EQ(rig.next(0), "read 0");
        rig.settle();
        EXPECT_EQ(rig.fs.openFileCount(), 0u);
        EXPECT_EQ(rig.count("60 20"), rig.count("60 21"));
    }
    // A bad CRC on the data is dropped by the transport; the read waits for its watchdog.
    Connected rig;
    rig.fs.changeFaults([](auto& f) { f.corruptReadCrc = 1; });
    rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
    ASSERT_TRUE(rig.waitForFunction("60 05", 3));
    EXPECT_TRUE(rig.recorder.events().empty());
}

TEST(CQFXMidiFiles, WriteUnlinksOpensWritesChunksWithAFinalEmptyOneAndCloses)
{
    Connected rig;
    const Bytes data = pattern(1000);
    rig.qfx->writeFileListWithFilePath("A.QF2", data.data(), 1000, 3);
    EXPECT_EQ(rig.next(0), "write 1");
    EXPECT_EQ(rig.fs.file("A.QF2"), data);
    std::vector<std::uint32_t> lengths;
    for (const auto& m : rig.received())
        if (m[4] == 0x60 && m[5] == 0x23) lengths.push_back(*Convert7to32(m.data() + 11, 5));
    EXPECT_EQ(lengths, (std::vector<std::uint32_t>{512, 488, 0}));
    EXPECT_EQ(rig.functions().front(), "60 24");
    EXPECT_EQ(rig.functions().back(), "60 21");

    rig.forget();
    rig.qfx->writeFileListWithFilePath("E.QF2", nullptr, 0, 0);
    EXPECT_EQ(rig.next(0), "write 1");
    EXPECT_EQ(rig.fs.file("E.QF2"), Bytes{});
    EXPECT_EQ(rig.count("60 23"), 1u);

    rig.qfx->writeFileListWithFilePath("ABCDEFGHIJKLMN", data.data(), 10, 0);
    EXPECT_EQ(rig.next(1), "write 0");
}

// A short or refused write restarts from the start under the retry rule; a write that gives up leaves no
// partial file under its name, whether a code ended it or the watchdog did.
TEST(CQFXMidiFiles, AFailedWriteIsRewrittenFromTheStartOrLeavesNoPartialFile)
{
    const auto write = sim::RequestKey::fileSystem(0x23);
    struct Case {
        const char* name;
        std::int32_t retry;
        std::function<void(QFXRig&)> fault;
        std::string result;  // empty: no usable answer, the watchdog's clear ends it
        std::string counted;  // a step counted, and how often it was sent
        std::size_t count;
    };
    const auto fail = [](std::uint8_t sub) {
        return [sub](QFXRig& rig) { rig.fs.changeFaults([sub](auto& f) { f.failCount[sub] = 100; }); };
    };
    const std::vector<Case> cases{
        {"one short write", 2, [](auto& rig) { rig.fs.changeFaults([](auto& f) { f.shortWrites = 1; }); }, "write 1", "60 24", 2},
        // Three rounds, then the partial file is deleted.
        {"always short", 2, [](auto& rig) { rig.fs.changeFaults([](auto& f) { f.shortWrites = 100; }); }, "write -1", "60 24", 4},
        // A refused chunk restarts the write too, within the same budget.
        {"refused chunk", 1, fail(0x23), "write -1", "60 20", 2},
        {"refused close", 0, fail(0x21), "write -1", "", 0},
        {"cut reply", 0, [&](auto& rig) { rig.unit.shortenNextReply(write, 8); }, "", "", 0},
        {"late reply", 0, [&](auto& rig) { rig.unit.delayReplies(write, std::chrono::milliseconds(100)); }, "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected rig(c.retry);
        rig.fs.setFile("FX.QF2", pattern(1300));
        c.fault(rig);
        const Bytes data = pattern(700);
        rig.qfx->writeFileListWithFilePath("FX.QF2", data.data(), 700, 1);
        if (c.result.empty()) {
            ASSERT_TRUE(rig.waitForFunction("60 23", 1, false));
            rig.qfx->clearWaitingBlock();
        } else {
            EXPECT_EQ(rig.next(0), c.result);
        }
        rig.settle();
        EXPECT_EQ(rig.recorder.events().size(), c.result.empty() ? 0u : 1u);
        if (!c.counted.empty()) {
            EXPECT_EQ(rig.count(c.counted), c.count);
        }
        EXPECT_EQ(rig.fs.file("FX.QF2"), c.result == "write 1" ? std::optional<Bytes>(data) : std::nullopt);
    }
}

// The answer to one message of a read comes after the watchdog gave up: late (a stalled unit), or held back
// and handed in just before the unit's answer to the same message of the next read of the file, asked at
// once. Every message of a three-chunk read: the late answer is never taken for the current one, the next
// reads are whole, and no file is left open on the unit.
TEST(CQFXMidiFiles, ALateAnswerToAnyMessageOfACutReadLeavesTheNextReadsWhole)
{
    // Find, its acknowledgement, find close, open, its acknowledgement, three chunks (count, data and
    // code acknowledged), close.
    const std::pair<std::uint8_t, int> messages[] = {{0x25, 1}, {0x05, 1}, {0x27, 1}, {0x20, 1}, {0x05, 2},
                                                     {0x22, 1}, {0x05, 3}, {0x05, 4}, {0x22, 2}, {0x05, 5},
                                                     {0x05, 6}, {0x22, 3}, {0x05, 7}, {0x05, 8}, {0x21, 1}};
    for (const bool held : {false, true})
        for (std::size_t index = 0; index < std::size(messages); ++index) {
            const auto [sub, occurrence] = messages[index];
            SCOPED_TRACE(std::string(held ? "held" : "late") + " message " + std::to_string(index + 1));
            Connected rig;
            rig.fs.setFile("B.QF2", pattern(1300));
            rig.fs.setFile("C.QF2", pattern(90));
            const auto key = sim::RequestKey::fileSystem(sub);
            if (held) {
                rig.unit.setPacing(3125.0, std::chrono::microseconds(0));
                // The cut read closes the file it holds open (its close, when that is the message held, a
                // second time): the next read's same message comes that much later.
                rig.unit.lateReplyAt(key, occurrence, 2 * occurrence + (sub == 0x21 && index >= 4 ? 1 : 0));
            } else {
                rig.unit.delayReplies(key, std::chrono::milliseconds(150));
            }
            rig.qfx->readFFSFileListWithFilePath("B.QF2");
            ASSERT_TRUE(rig.waitForFunction(UnitRig::fileStep(sub), static_cast<std::size_t>(occurrence), false));
            rig.qfx->clearWaitingBlock();  // the watchdog gave up on the answer
            rig.unit.delayReplies(key, std::chrono::milliseconds(0));
            for (const auto& [name, size] : {std::pair("B.QF2", 1300), std::pair("C.QF2", 90)}) {
                const std::size_t before = rig.recorder.events().size();
                rig.qfx->readFFSFileListWithFilePath(name);
                ASSERT_EQ(rig.next(before), "read 1") << name;
                EXPECT_EQ(rig.recorder.payload(before).bytes, pattern(size)) << name;
            }
            rig.settle();
            EXPECT_EQ(rig.fs.openFileCount(), 0u) << "a file the unit opened is left open";
        }
}

// The watchdog's clear, or a forced eject, cuts a read with its file open: the file is closed on the unit.
TEST(CQFXMidiFiles, AReadCutOffClosesItsFileOnTheUnit)
{
    for (const bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "forced eject" : "watchdog");
        Connected rig;
        rig.fs.setFile("B.QF2", pattern(2000));
        rig.unit.faultAt(sim::RequestKey::fileSystem(0x22), 2, sim::DeviceUnit::Fault::SilentOnce);
        rig.qfx->readFFSFileListWithFilePath("B.QF2");
        ASSERT_TRUE(rig.waitForFunction("60 22", 2));
        ASSERT_EQ(rig.fs.openFileCount(), 1u);
        if (forced) rig.qfx->forceEject();
        else rig.qfx->clearWaitingBlock();
        rig.settle();
        EXPECT_EQ(rig.fs.openFileCount(), 0u);
        const auto functions = rig.functions();
        EXPECT_EQ(functions.back(), forced ? "53" : "60 21");
        EXPECT_EQ(rig.count("60 21"), 1u);
        EXPECT_TRUE(rig.recorder.events().empty());
    }
}

TEST(CQFXMidiFiles, DeleteLengthFlushAndDiskFree)
{
    Connected rig(1);
    rig.fs.setFile("D.QF2", pattern(77));
    // The next two answers of a step are a code (9); the retry rule allows one more try.
    const auto refuse = [&](std::uint8_t sub) { rig.fs.changeFaults([=](auto& f) { f.failCount[sub] = 2, f.code = 9; }); };
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { rig.qfx->getFileSizeWithFileName("D.QF2"); }, "size 1 77"},
        {[&] { rig.qfx->deleteQFXWithFileName("D.QF2"); }, "delete 1 0"},
        {[&] { rig.qfx->deleteQFXWithFileName("D.QF2"); }, "delete 1 -6"},
        // No such file: no retry, and no device error.
        {[&] { rig.qfx->getFileSizeWithFileName("D.QF2"); }, "size 0 -1"},
        {[&] { rig.qfx->deleteQFXWithFileName("ABCDEFGHIJKLMN"); }, "delete -2 -1"},
        {[&] { rig.qfx->getFileSizeWithFileName("ABCDEFGHIJKLMN"); }, "size -2 -1"},
        {[&] { refuse(0x24), rig.qfx->deleteQFXWithFileName("FLST_SEQ.QT2"); }, "delete -4 9"},
        {[&] { rig.qfx->fileListFlush(); }, "flush 1"},
        {[&] { refuse(0x09), rig.qfx->fileListFlush(); }, "flush -1"},
        {[&] { rig.qfx->checkMemory(); }, "diskfree 1"},
        {[&] { refuse(0x29), rig.qfx->checkMemory(); }, "diskfree -4"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        EXPECT_EQ(rig.next(i), steps[i].second);
    }
    EXPECT_FALSE(rig.fs.file("D.QF2"));
    EXPECT_EQ(rig.fs.flushCount(), 1);
    EXPECT_EQ(rig.recorder.payload(9).a, 4 * 1024 * 1024);
    EXPECT_EQ(rig.recorder.payload(9).b, 4 * 1024 * 1024 - 1000);
}

TEST(CQFXMidiFiles, UnpluggingMidTransferLeavesTheChainToTheWatchdog)
{
    Connected rig;
    rig.fs.setFile("BIG.QF2", pattern(20000));
    // Two chunks land; the third one's answer waits until the cable is pulled, or the read could finish first.
    rig.unit.holdReplies(sim::RequestKey::fileSystem(0x22), 2);
    rig.qfx->readFFSFileListWithFilePath("BIG.QF2");
    ASSERT_TRUE(rig.waitForFunction("60 22", 3, false));
    rig.unplug();
    rig.loop.runUntil([&] { return !rig.recorder.events().empty(); });
    rig.unit.releaseReplies();
    rig.settle();
    EXPECT_EQ(rig.recorder.events(), (Events{"removed"}));
    rig.qfx->clearWaitingBlock();
    rig.qfx->disconnectCurrentDevice();
    EXPECT_EQ(rig.recorder.events(), (Events{"removed"}));
}

}  // namespace
