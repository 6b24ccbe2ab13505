// The unit's late bare codes (60 03, nothing naming their request) for chains cut while they waited, and
// for the clean-ups a cut sends unawaited. The unit answers in order, so such a code comes before its answer
// to anything asked later: the first request after the cut that awaits a bare code would take it.
#include <gtest/gtest.h>

#include "support/device/QFXRig.h"

namespace {

using sim::RequestKey;
using Fault = sim::DeviceUnit::Fault;
using Kind = CMidiDevice::ReplyKind;

Bytes pattern(std::size_t size, std::uint8_t seed = 5)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return bytes;
}

RequestKey fs(std::uint8_t sub) { return RequestKey::fileSystem(sub); }

struct Rig : QFXRig {
    explicit Rig(std::int32_t retry) : QFXRig(retry)
    {
        fs.setFile("FLST_SEQ.QT2", pattern(1000));
        fs.setFile("A.QF2", pattern(300, 1));
        fs.setFile("B.QF2", pattern(700, 2));
        EXPECT_TRUE(connect());
        forget();
    }
    // The watchdog gives up on the operation once the unit has the nth request of `function`.
    void cutAt(const char* function, std::size_t nth)
    {
        ASSERT_TRUE(waitForFunction(function, nth, false)) << function;
        qfx->clearWaitingBlock();
    }
    // The watchdog gives up once a probe of `kind` is out, which a unit still busy has not heard yet.
    void cutProbe(Kind kind)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!transport.isPending(kind)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        qfx->clearWaitingBlock();
    }
    // The exchanges sent ahead of held requests since the last forget.
    std::size_t probes() const { return count("60 11") + count("60 29"); }
    // The unit is let go (Disconnect, or the cable pulled) and connected again: true when it connected.
    bool reconnect(bool unplugged)
    {
        if (unplugged) {
            loop.runUntil([&] { return !recorder.events().empty(); });
            qfx->clearWaitingBlock();
            qfx->disconnectCurrentDevice();
            plugIn();
            loop.runUntil([&] { return recorder.events().size() >= 2; });
            if (!qfx->connectNewDevicePlugin()) return false;
        } else {
            qfx->clearWaitingBlock();
            qfx->eject();
            if (next(0) != "eject 1 0") return false;
        }
        recorder.clear();
        return connect();
    }
    void write(const char* name, const Bytes& data)
    {
        qfx->writeFileListWithFilePath(name, data.data(), static_cast<std::int64_t>(data.size()), 0);
    }
};

// A cut chain whose answers the unit holds back until the next operation has asked: its late codes then
// come first, in order, as a unit busy with the cut request sends them.
struct Cut {
    const char* name;
    std::function<void(Rig&)> run;
    bool owesCode = true;     // a request answered by a bare code waits behind one probe
    bool owesLength = false;  // a length query waits behind one probe
    std::size_t cutProbes = 0;  // probes the unit, busy, hears only after the cut
};

// The operation asked next, what it must report, and what the unit must hold after it.
struct Next {
    const char* name;
    std::function<void(Rig&)> ask;
    std::string report;
    std::function<void(Rig&)> check;
    bool code = true;  // its first request is answered by a bare code (a length query's by a value)
};

const std::vector<Cut>& cuts()
{
    static const std::vector<Cut> all{
        {"a deletion the unit refuses",
         [](Rig& rig) {
             rig.unit.holdReplies(fs(0x24));
             rig.unit.failFunction(fs(0x24), 1, 9);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             rig.cutAt("60 24", 1);
         }},
        // The chunk's refusal, then the codes of the close and the unlink the cut write sends unawaited.
        {"a write whose chunk the unit refuses",
         [](Rig& rig) {
             rig.unit.failFunction(fs(0x23), 1, 9);
             rig.unit.holdReplies(fs(0x05), 1);
             rig.write("W.QF2", pattern(1300, 3));
             rig.cutAt("60 05", 2);
         }},
        {"a write whose close the unit refuses",
         [](Rig& rig) {
             rig.unit.failFunction(fs(0x21), 1, 9);
             rig.unit.holdReplies(fs(0x21));
             rig.write("W.QF2", pattern(600, 3));
             rig.cutAt("60 21", 1);
         }},
        // The unit, still busy with the refusal, hears the probe after the watchdog gave up on it: the
        // next request waits behind a probe of the other kind, and both late answers come first.
        {"a deletion refused, and the probe ahead of the next one cut",
         [](Rig& rig) {
             rig.unit.holdReplies(fs(0x24));
             rig.unit.failFunction(fs(0x24), 1, 9);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             rig.cutAt("60 24", 1);
             rig.qfx->deleteQFXWithFileName("B.QF2");
             rig.cutProbe(Kind::InforRead);
         },
         true, false, 1},
        // Both kinds of probe have late values owed: the newer one still tells the refusal has come.
        {"a deletion refused, and the probes ahead of the next two cut",
         [](Rig& rig) {
             rig.unit.holdReplies(fs(0x24));
             rig.unit.failFunction(fs(0x24), 1, 9);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             rig.cutAt("60 24", 1);
             rig.qfx->deleteQFXWithFileName("B.QF2");
             rig.cutProbe(Kind::InforRead);
             rig.qfx->deleteQFXWithFileName("B.QF2");
             rig.cutProbe(Kind::DiskFree);
         },
         true, false, 2},
        // The probe was answered; the code of its acknowledgement is what the cut leaves owed.
        {"a deletion unanswered, and the next one cut at its probe's acknowledgement",
         [](Rig& rig) {
             rig.unit.faultAt(fs(0x24), 1, Fault::SilentOnce);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             rig.cutAt("60 24", 1);
             rig.unit.holdReplies(fs(0x05));
             rig.qfx->deleteQFXWithFileName("B.QF2");
             rig.cutAt("60 05", 1);
         }},
        // A length carries nothing naming its file: another file's would be taken for the next one's.
        {"a length query",
         [](Rig& rig) {
             rig.unit.holdReplies(fs(0x28));
             rig.qfx->getFileSizeWithFileName("A.QF2");
             rig.cutAt("60 28", 1);
         },
         false, true},
    };
    return all;
}

const std::vector<Next>& nexts()
{
    static const std::vector<Next> all{
        {"a deletion", [](Rig& rig) { rig.qfx->deleteQFXWithFileName("B.QF2"); }, "delete 1 0",
         [](Rig& rig) { EXPECT_FALSE(rig.fs.file("B.QF2")); }},
        // A chain of chunks, each acknowledged: one probe ahead of its unlink.
        {"a write", [](Rig& rig) { rig.write("C.QF2", pattern(2600, 4)); }, "write 1",
         [](Rig& rig) { EXPECT_EQ(rig.fs.file("C.QF2"), pattern(2600, 4)); }},
        // The probe's information is refused at its acknowledgement: it was answered all the same.
        {"a deletion whose probe is refused",
         [](Rig& rig) {
             rig.unit.failFunction(fs(0x11), 1, 9);
             rig.unit.failFunction(fs(0x29), 1, 9);
             rig.qfx->deleteQFXWithFileName("B.QF2");
         },
         "delete 1 0", [](Rig& rig) { EXPECT_FALSE(rig.fs.file("B.QF2")); }},
        {"a read", [](Rig& rig) { rig.qfx->readFFSFileListWithFilePath("B.QF2"); }, "read 1",
         [](Rig& rig) { EXPECT_EQ(rig.recorder.payload(0).bytes, pattern(700, 2)); }},
        // Answered by a value first: the late codes come while nothing awaits one, and no probe is sent.
        {"a length query", [](Rig& rig) { rig.qfx->getFileSizeWithFileName("B.QF2"); }, "size 1 700",
         [](Rig& rig) { EXPECT_EQ(rig.count("60 28"), 1u); }, false},
    };
    return all;
}

// Every cut against every operation that follows it, with no retry left to mend a code taken for another:
// each later operation reports its own answers, at the cost of one probe at most.
TEST(OwedCodeAnswers, ALateCodeIsTakenForNoAnswerOfTheNextOperation)
{
    for (const Cut& cut : cuts()) {
        for (const Next& next : nexts()) {
            SCOPED_TRACE(std::string(cut.name) + ", then " + next.name);
            Rig rig(0);
            cut.run(rig);
            rig.forget();
            next.ask(rig);
            rig.unit.releaseReplies();
            EXPECT_EQ(rig.next(0), next.report);
            rig.settle();
            next.check(rig);
            EXPECT_EQ(rig.probes(), cut.cutProbes + ((next.code ? cut.owesCode : cut.owesLength) ? 1u : 0u));
            EXPECT_FALSE(rig.fs.file("W.QF2")) << "the cut write's clean-up leaves no partial file";
            EXPECT_EQ(rig.fs.openFileCount(), 0u);
        }
    }
}

// A write cut at its open: the unit's late handle comes as the probe goes out, and the close that frees
// the file goes after the probe, so its code would be taken for the probe's acknowledgement's and the
// acknowledgement's own for the deletion's: a second probe goes first.
TEST(OwedCodeAnswers, AStrayFilesCloseSentDuringTheProbeIsWaitedOutToo)
{
    Rig rig(0);
    rig.unit.holdReplies(fs(0x20));
    rig.write("W.QF2", pattern(600, 3));
    rig.cutAt("60 20", 1);
    rig.forget();
    // A file the unit lacks: its own answer is "no such file", the late ones success.
    rig.qfx->deleteQFXWithFileName("Y.QF2");
    rig.unit.releaseReplies();
    EXPECT_EQ(rig.next(0), "delete 1 -6");
    rig.settle();
    EXPECT_EQ(rig.count("60 11"), 2u);
    EXPECT_EQ(rig.fs.openFileCount(), 0u);
    EXPECT_FALSE(rig.fs.file("W.QF2"));
}

// The unit never answers the cut deletion: the debt is settled by one exchange, the first query asked
// again or the probe ahead of a request answered by a code, and every later query asks once.
TEST(OwedCodeAnswers, ACodeThatNeverComesCostsOneExchange)
{
    struct Case {
        const char* name;
        std::function<void(Rig&)> first;
        std::string report;
        std::size_t lengths, probes;  // length queries and probes the first operation sends
    };
    const std::vector<Case> cases{
        {"a query first", [](Rig& rig) { rig.qfx->getFileSizeWithFileName("A.QF2"); }, "size 1 300", 2, 0},
        {"a deletion first", [](Rig& rig) { rig.qfx->deleteQFXWithFileName("A.QF2"); }, "delete 1 0", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(2);
        rig.unit.faultAt(fs(0x24), 1, Fault::SilentOnce);
        rig.qfx->deleteQFXWithFileName("Z.QF2");
        rig.cutAt("60 24", 1);
        rig.forget();
        c.first(rig);
        EXPECT_EQ(rig.next(0), c.report);
        for (int i = 0; i < 2; ++i) {
            rig.qfx->getFileSizeWithFileName("B.QF2");
            EXPECT_EQ(rig.next(1 + static_cast<std::size_t>(i)), "size 1 700");
        }
        EXPECT_EQ(rig.count("60 28"), c.lengths + 2);
        EXPECT_EQ(rig.count("60 11"), c.probes);
    }
}

// A debt outlives the connection it was made in (the unit may still send it at the next one, or never):
// the connection after it, a deletion and two length queries cost at most one exchange more than owing
// nothing, and none once the late answers came.
TEST(OwedCodeAnswers, ADebtCarriedToTheNextConnectionCostsItOneExchange)
{
    struct Case {
        const char* name;
        std::function<void(Rig&)> cut;
        bool unplugged;
        std::size_t extra;  // exchanges beyond the connection's own information read, the deletion's, the lengths'
    };
    const std::vector<Case> cases{
        {"a deletion the unit never answers, cut by a Disconnect",
         [](Rig& rig) {
             rig.unit.faultAt(fs(0x24), 1, Fault::SilentOnce);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             ASSERT_TRUE(rig.waitForFunction("60 24", 1, false));
         },
         false, 1},
        {"the cable pulled as the probe ahead of a deletion arrives",
         [](Rig& rig) {
             rig.unit.faultAt(fs(0x24), 1, Fault::SilentOnce);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             rig.cutAt("60 24", 1);
             rig.unit.faultAt(fs(0x11), 1, Fault::Unplug);
             rig.qfx->deleteQFXWithFileName("B.QF2");
             ASSERT_TRUE(rig.waitForFunction("60 11", 1, false));
         },
         true, 1},
        // The refusal and the probe's answer come only once the next connection has asked its information.
        {"a Disconnect while a deletion waits behind the probe, the late answers coming at the next connection",
         [](Rig& rig) {
             rig.unit.lateReplyAt(fs(0x24), 1, 99);
             rig.unit.failFunction(fs(0x24), 1, 9);
             rig.qfx->deleteQFXWithFileName("A.QF2");
             rig.cutAt("60 24", 1);
             rig.unit.handInLateReplyAfter(fs(0x11), 2, false);
             rig.unit.faultAt(fs(0x11), 1, Fault::SilentOnce);
             rig.qfx->deleteQFXWithFileName("B.QF2");
             ASSERT_TRUE(rig.waitForFunction("60 11", 1, false));
         },
         false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(0);
        c.cut(rig);
        rig.forget();
        ASSERT_TRUE(rig.reconnect(c.unplugged)) << ::testing::PrintToString(rig.recorder.events());
        rig.recorder.clear();
        rig.qfx->deleteQFXWithFileName("B.QF2");
        EXPECT_EQ(rig.next(0), "delete 1 0");
        for (std::size_t i = 1; i <= 2; ++i) {
            rig.qfx->getFileSizeWithFileName("FLST_SEQ.QT2");
            EXPECT_EQ(rig.next(i), "size 1 1000");
        }
        EXPECT_FALSE(rig.fs.file("B.QF2"));
        EXPECT_EQ(rig.probes() + rig.count("60 28"), 3 + c.extra);
    }
}

// The unit falls silent for the probe too: the request held behind it never leaves, the operation is left
// to its watchdog, which clears it, and the next one probes with a query whose late answer cannot be
// mistaken for its own.
TEST(OwedCodeAnswers, AHeldRequestEndsWithItsWatchdogUnsent)
{
    Rig rig(0);
    rig.unit.faultAt(fs(0x24), 1, Fault::SilentOnce);
    rig.qfx->deleteQFXWithFileName("A.QF2");
    rig.cutAt("60 24", 1);
    rig.forget();
    rig.unit.faultAt(fs(0x11), 1, Fault::SilentOnce);
    rig.qfx->deleteQFXWithFileName("B.QF2");
    ASSERT_TRUE(rig.waitForFunction("60 11", 1));
    EXPECT_TRUE(rig.qfx->awaitsUnit()) << "the silence watch must count the unit's silence";
    rig.qfx->clearWaitingBlock();
    rig.settle();
    EXPECT_TRUE(rig.recorder.events().empty());
    EXPECT_EQ(rig.count("60 24"), 0u);
    EXPECT_TRUE(rig.fs.file("B.QF2"));

    rig.qfx->deleteQFXWithFileName("B.QF2");
    EXPECT_EQ(rig.next(0), "delete 1 0");
    EXPECT_EQ(rig.count("60 29"), 1u);
    EXPECT_FALSE(rig.fs.file("B.QF2"));
}

}  // namespace
