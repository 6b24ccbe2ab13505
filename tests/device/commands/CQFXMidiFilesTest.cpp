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

TEST(CQFXMidiFiles, AShortWriteIsRewrittenFromTheStartUnderTheRetryRule)
{
    using Faults = SimulatedFileSystem::Faults;
    struct Case {
        const char* name;
        std::int32_t retry;
        std::function<void(Faults&)> fault;
        std::string result, counted;
        std::size_t count;
    };
    const std::vector<Case> cases{
        {"one short write", 2, [](Faults& f) { f.shortWrites = 1; }, "write 1", "60 24", 2},
        // Three rounds, then the partial file is deleted.
        {"always short", 2, [](Faults& f) { f.shortWrites = 100; }, "write -1", "60 24", 4},
        // A refused chunk restarts the write too, within the same budget.
        {"refused chunk", 1, [](Faults& f) { f.failCount[0x23] = 100; }, "write -1", "60 20", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connected rig(c.retry);
        rig.fs.changeFaults(c.fault);
        const Bytes data = pattern(700);
        rig.qfx->writeFileListWithFilePath("B.QF2", data.data(), 700, 0);
        EXPECT_EQ(rig.next(0), c.result);
        EXPECT_EQ(rig.count(c.counted), c.count);
        EXPECT_EQ(rig.fs.file("B.QF2"), c.result == "write 1" ? std::optional<Bytes>(data) : std::nullopt);
    }
}

TEST(CQFXMidiFiles, AWriteThatGivesUpLeavesNoPartialFileUnderItsName)
{
    const auto write = sim::RequestKey::fileSystem(0x23);
    const std::vector<std::pair<std::string, std::function<void(QFXRig&)>>> faults{
        {"refused chunk", [](auto& rig) { rig.fs.changeFaults([](auto& f) { f.failCount[0x23] = 100; }); }},
        {"refused close", [](auto& rig) { rig.fs.changeFaults([](auto& f) { f.failCount[0x21] = 100; }); }},
        // No usable answer: the watchdog's clear ends these.
        {"cut reply", [&](auto& rig) { rig.unit.shortenNextReply(write, 8); }},
        {"late reply", [&](auto& rig) { rig.unit.delayReplies(write, std::chrono::milliseconds(100)); }},
    };
    for (const auto& [name, fault] : faults) {
        SCOPED_TRACE(name);
        Connected rig(0);
        rig.fs.setFile("FX.QF2", pattern(1300));
        fault(rig);
        const Bytes data = pattern(1300);
        rig.qfx->writeFileListWithFilePath("FX.QF2", data.data(), 1300, 1);
        const bool refused = name.starts_with("refused");
        if (refused) {
            EXPECT_EQ(rig.next(0), "write -1");
        } else {
            ASSERT_TRUE(rig.waitForFunction("60 23", 1, false));
            rig.qfx->clearWaitingBlock();
        }
        rig.settle();
        EXPECT_EQ(rig.recorder.events().size(), refused ? 1u : 0u);
        EXPECT_FALSE(rig.fs.file("FX.QF2")) << rig.fs.file("FX.QF2").value_or(Bytes{}).size() << " bytes left";
    }
}

TEST(CQFXMidiFiles, ALateReplyIsDroppedRatherThanTakenForTheNextRead)
{
    // The step of the first read whose answer comes late: find close (a success code) or find first
    // (a result naming the effect list); the next read asks for another file.
    for (const std::uint8_t delayed : {0x27, 0x25}) {
        Connected rig;
        rig.fs.setFile("B.QF2", pattern(300));
        rig.unit.delayReplies(sim::RequestKey::fileSystem(delayed), std::chrono::milliseconds(150));
        rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
        ASSERT_TRUE(rig.waitForFunction(delayed == 0x27 ? "60 27" : "60 25", 1, false));
        rig.qfx->clearWaitingBlock();  // the watchdog gave up while the answer was on its way
        rig.unit.delayReplies(sim::RequestKey::fileSystem(delayed), std::chrono::milliseconds(0));
        rig.qfx->readFFSFileListWithFilePath("B.QF2");
        EXPECT_EQ(rig.next(0), "read 1");
        EXPECT_EQ(rig.recorder.payload(0).bytes, pattern(300));
    }
}

// Every step of a read whose answer comes after the watchdog gave up: the answer is dropped, and the next
// two reads (of other files) succeed.
TEST(CQFXMidiFiles, ALateAnswerToAnyStepOfAReadLeavesTheNextReadsWhole)
{
    struct Step {
        std::uint8_t sub;
        const char* function;
        std::size_t occurrence;
    };
    // 60 05 is the acknowledgement: after the find, the open, a chunk's count, its data, its code.
    const Step steps[] = {{0x25, "60 25", 1}, {0x27, "60 27", 1}, {0x20, "60 20", 1}, {0x22, "60 22", 1},
                          {0x22, "60 22", 2}, {0x21, "60 21", 1}, {0x05, "60 05", 1}, {0x05, "60 05", 2},
                          {0x05, "60 05", 3}, {0x05, "60 05", 4}, {0x05, "60 05", 5}, {0x05, "60 05", 6}};
    for (const Step& step : steps) {
        Connected rig;
        rig.fs.setFile("B.QF2", pattern(700));
        rig.fs.setFile("C.QF2", pattern(90));
        rig.unit.delayReplies(sim::RequestKey::fileSystem(step.sub), std::chrono::milliseconds(150));
        rig.qfx->readFFSFileListWithFilePath("FLST_SEQ.QT2");
        ASSERT_TRUE(rig.waitForFunction(step.function, step.occurrence, false)) << step.function;
        rig.qfx->clearWaitingBlock();  // the watchdog gave up while the answer was on its way
        rig.unit.delayReplies(sim::RequestKey::fileSystem(step.sub), std::chrono::milliseconds(0));
        const std::size_t before = rig.recorder.events().size();
        rig.qfx->readFFSFileListWithFilePath("B.QF2");
        EXPECT_EQ(rig.next(before), "read 1") << step.function << " #" << step.occurrence;
        if (rig.recorder.events().size() > before) {
            EXPECT_EQ(rig.recorder.payload(before).bytes, pattern(700));
        }
        rig.qfx->readFFSFileListWithFilePath("C.QF2");
        EXPECT_EQ(rig.next(before + 1), "read 1") << step.function << " #" << step.occurrence;
    }
}

// The unit holds back its answer to one message of a read, which ends on its watchdog, and hands that
// answer in just before its answer to the same message of the next read of the file. Every message of a
// three-chunk read: the stale answer is never taken for the current one, and the next read is whole.
TEST(CQFXMidiFiles, AStaleAnswerHandedInDuringTheNextReadOfTheFileLeavesItWhole)
{
    struct Message {
        std::uint8_t sub;
        const char* function;
        int occurrence;
    };
    // Find, its acknowledgement, find close, open, its acknowledgement, three chunks (count, data and
    // code acknowledged), close.
    const Message messages[] = {{0x25, "60 25", 1}, {0x05, "60 05", 1}, {0x27, "60 27", 1}, {0x20, "60 20", 1},
                                {0x05, "60 05", 2}, {0x22, "60 22", 1}, {0x05, "60 05", 3}, {0x05, "60 05", 4},
                                {0x22, "60 22", 2}, {0x05, "60 05", 5}, {0x05, "60 05", 6}, {0x22, "60 22", 3},
                                {0x05, "60 05", 7}, {0x05, "60 05", 8}, {0x21, "60 21", 1}};
    for (std::size_t index = 0; index < std::size(messages); ++index) {
        const Message& message = messages[index];
        SCOPED_TRACE("message " + std::to_string(index + 1));
        Connected rig;
        rig.unit.setPacing(3125.0, std::chrono::microseconds(0));
        rig.fs.setFile("B.QF2", pattern(1300));
        // The cut read closes the file it holds open (its close, when that is the message held, a second
        // time): the next read's same message comes that much later.
        const bool open = index >= 4;
        const int cutRead = message.occurrence + (message.sub == 0x21 && open ? 1 : 0);
        rig.unit.lateReplyAt(sim::RequestKey::fileSystem(message.sub), message.occurrence, cutRead + message.occurrence);
        rig.qfx->readFFSFileListWithFilePath("B.QF2");
        ASSERT_TRUE(rig.waitForFunction(message.function, static_cast<std::size_t>(message.occurrence), false));
        rig.qfx->clearWaitingBlock();  // the watchdog gave up on the answer held back
        // The next read is asked at once, before the unit has answered the cut read's close.
        rig.qfx->readFFSFileListWithFilePath("B.QF2");
        EXPECT_EQ(rig.next(0), "read 1");
        if (!rig.recorder.events().empty()) {
            EXPECT_EQ(rig.recorder.payload(0).bytes, pattern(1300));
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
    rig.qfx->getFileSizeWithFileName("D.QF2");
    EXPECT_EQ(rig.next(0), "size 1 77");
    rig.qfx->deleteQFXWithFileName("D.QF2");
    EXPECT_EQ(rig.next(1), "delete 1 0");
    EXPECT_FALSE(rig.fs.file("D.QF2"));
    rig.qfx->deleteQFXWithFileName("D.QF2");
    EXPECT_EQ(rig.next(2), "delete 1 -6");
    rig.qfx->getFileSizeWithFileName("D.QF2");
    EXPECT_EQ(rig.next(3), "size 0 -1");  // no such file: no retry, and no device error
    rig.qfx->deleteQFXWithFileName("ABCDEFGHIJKLMN");
    EXPECT_EQ(rig.next(4), "delete -2 -1");
    rig.qfx->getFileSizeWithFileName("ABCDEFGHIJKLMN");
    EXPECT_EQ(rig.next(5), "size -2 -1");
    rig.fs.changeFaults([](auto& f) {
        f.failCount[0x24] = 2;
        f.code = 9;
    });
    rig.qfx->deleteQFXWithFileName("FLST_SEQ.QT2");
    EXPECT_EQ(rig.next(6), "delete -4 9");

    rig.qfx->fileListFlush();
    EXPECT_EQ(rig.next(7), "flush 1");
    EXPECT_EQ(rig.fs.flushCount(), 1);
    rig.fs.changeFaults([](auto& f) { f.failCount[0x09] = 2; });
    rig.qfx->fileListFlush();
    EXPECT_EQ(rig.next(8), "flush -1");

    rig.qfx->checkMemory();
    EXPECT_EQ(rig.next(9), "diskfree 1");
    EXPECT_EQ(rig.recorder.payload(9).a, 4 * 1024 * 1024);
    EXPECT_EQ(rig.recorder.payload(9).b, 4 * 1024 * 1024 - 1000);
    rig.fs.changeFaults([](auto& f) { f.failCount[0x29] = 2; });
    rig.qfx->checkMemory();
    EXPECT_EQ(rig.next(10), "diskfree -4");
}

TEST(CQFXMidiFiles, UnpluggingMidTransferLeavesTheChainToTheWatchdog)
{
    Connected rig;
    rig.fs.setFile("BIG.QF2", pattern(20000));
    // Two chunks land; the third one's answer waits until the cable is pulled, or the read could finish first.
    rig.unit.holdReplies(sim::RequestKey::fileSystem(0x22), 2);
    rig.qfx->readFFSFileListWithFilePath("BIG.QF2");
    ASSERT_TRUE(rig.waitForFunction("60 22", 3, false));
    rig.unit.device().unplug();
    rig.loop.runUntil([&] { return !rig.recorder.events().empty(); });
    rig.unit.releaseReplies();
    rig.settle();
    EXPECT_EQ(rig.recorder.events(), (Events{"removed"}));
    rig.qfx->clearWaitingBlock();
    rig.qfx->disconnectCurrentDevice();
    EXPECT_EQ(rig.recorder.events(), (Events{"removed"}));
}

}  // namespace
