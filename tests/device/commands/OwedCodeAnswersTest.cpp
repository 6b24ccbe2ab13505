// The unit's late bare codes (60 03, nothing naming their request) for chains cut while they waited, and
// for the clean-ups a cut sends unawaited. The unit answers in order, so such a code comes before its answer
// to anything asked later: the first request after the cut that awaits a bare code would take it.
#include <gtest/gtest.h>

#include "support/device/QFXRig.h"

namespace {

using sim::RequestKey;
using Fault = sim::DeviceUnit::Fault;

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
};

// The operation asked next, what it must report, and what the unit must hold after it.
struct Next {
    const char* name;
    std::function<void(Rig&)> ask;
    std::string report;
    std::function<void(Rig&)> check;
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
    };
    return all;
}

const std::vector<Next>& nexts()
{
    static const std::vector<Next> all{
        {"a deletion", [](Rig& rig) { rig.qfx->deleteQFXWithFileName("B.QF2"); }, "delete 1 0",
         [](Rig& rig) { EXPECT_FALSE(rig.fs.file("B.QF2")); }},
        {"a write", [](Rig& rig) { rig.write("C.QF2", pattern(600, 4)); }, "write 1",
         [](Rig& rig) { EXPECT_EQ(rig.fs.file("C.QF2"), pattern(600, 4)); }},
        {"a read", [](Rig& rig) { rig.qfx->readFFSFileListWithFilePath("B.QF2"); }, "read 1",
         [](Rig& rig) { EXPECT_EQ(rig.recorder.payload(0).bytes, pattern(700, 2)); }},
        // Answered by a value first: the late codes come while nothing awaits one, and no probe is sent.
        {"a length query", [](Rig& rig) { rig.qfx->getFileSizeWithFileName("B.QF2"); }, "size 1 700",
         [](Rig& rig) {
             EXPECT_EQ(rig.count("60 28"), 1u);
             EXPECT_EQ(rig.count("60 11"), 0u);
         }},
    };
    return all;
}

// Every cut against every operation that follows it, with no retry left to mend a code taken for another:
// each later operation reports its own answers.
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
