#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "platform/plist/BinaryPlistReader.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"
#include "platform/plist/PlistInputGuard.h"
#include "platform/plist/PropertyList.h"
#include "support/plist/PlistFixtures.h"

using namespace platform;
using plist_fixtures::arrayObject;
using plist_fixtures::binaryPlist;
using plist_fixtures::nestedUnderOneKey;

// The thread sanitizer's runtime defines the allocation operators itself, so they cannot be replaced to
// weigh a tree there; the other builds weigh it.
#if defined(__SANITIZE_THREAD__)
#define RIG_WEIGHS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RIG_WEIGHS_ALLOCATIONS 0
#endif
#endif
#ifndef RIG_WEIGHS_ALLOCATIONS
#define RIG_WEIGHS_ALLOCATIONS 1
#endif

namespace {

// Bytes handed out by operator new while counting is on, to weigh a parsed tree.
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocated{0};

}  // namespace

#if RIG_WEIGHS_ALLOCATIONS
// Never inlined: an optimising compiler that sees a block from operator new reach free() inside an inlined
// operator delete takes the pair for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    if (counting.load(std::memory_order_relaxed))
        allocated.fetch_add(size, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#endif

namespace {

// An array object of any length referring `count` times to object `ref` (two-byte references).
Bytes repeatedArray(std::uint32_t count, std::uint16_t ref)
{
    Bytes out{0xAF, 0x12};
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(count >> shift));
    const std::size_t start = out.size();
    out.resize(start + 2 * std::size_t(count));
    for (std::size_t at = start; at < out.size(); at += 2) {
        out[at] = static_cast<std::uint8_t>(ref >> 8);
        out[at + 1] = static_cast<std::uint8_t>(ref);
    }
    return out;
}

Bytes asciiObject(const std::string& text)
{
    Bytes out{0x5F, 0x10, static_cast<std::uint8_t>(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

struct Shape {
    const char* name;
    std::function<PlistValue(int)> make;
};

const Shape kShapes[] = {
    {"array of numbers", [](int n) {
         PlistArray a;
         for (int i = 0; i < n; ++i) a.push_back(i * 7919);
         return PlistValue(a);
     }},
    {"array of unicode texts", [](int n) {
         PlistArray a;
         for (int i = 0; i < n; ++i) a.push_back("\xE3\x82\xAE\xE3\x82\xBF\xE3\x83\xBC " + std::to_string(i));
         return PlistValue(a);
     }},
    {"dictionary of bytes", [](int n) {
         PlistDictionary d;
         for (int i = 0; i < n; ++i) d["key number " + std::to_string(i)] = Bytes(100, static_cast<std::uint8_t>(i));
         return PlistValue(d);
     }},
    {"keyed archive", [](int n) {
         std::vector<ArchivedValue> list;
         for (int i = 0; i < n; ++i) {
             auto object = std::make_shared<ArchivedObject>();
             object->className = "Item";
             object->set("name", PlistValue("item " + std::to_string(i)));
             object->set("index", PlistValue(i));
             list.emplace_back(std::move(object));
         }
         return PlistValue(*PropertyList::parse(*KeyedArchiver::archive(ArchivedValue::array(std::move(list)))));
     }},
};

Bytes binaryOf(const PlistValue& value)
{
    auto bytes = PropertyList::serialize(value, PlistFormat::Binary);
    EXPECT_TRUE(bytes);
    return bytes.value_or(Bytes{});
}

}  // namespace

// The work of a read grows with the list, not with its square: ten times the input, ten times the steps; and
// what the writer wrote is read back as it was.
TEST(BinaryPlistReader, WorkGrowsInProportionToTheList)
{
    for (const Shape& shape : kShapes) {
        // Work per byte of input, for a list and for one ten times as long.
        double perByte[2] = {};
        for (int round = 0; round < 2; ++round) {
            const PlistValue made = shape.make(round == 0 ? 1000 : 10000);
            const Bytes bytes = binaryOf(made);
            ASSERT_EQ(PlistInputGuard::checkBinary(bytes.data(), bytes.size()), "") << shape.name;
            BinaryPlistReader reader(bytes.data(), bytes.size());
            std::string why;
            const auto value = reader.read(why);
            ASSERT_TRUE(value) << shape.name << ": " << why;
            EXPECT_EQ(*value, made) << shape.name;
            perByte[round] = double(reader.steps()) / double(bytes.size());
        }
        EXPECT_LE(perByte[1], perByte[0] * 1.1) << shape.name;
        EXPECT_LE(perByte[1], 2.0) << shape.name;
    }
}

// The guard charges a tree at least what reading it allocates, without refusing honest lists by far.
TEST(PlistInputGuard, ChargesWhatTheParsedTreeAllocates)
{
    if (!RIG_WEIGHS_ALLOCATIONS) GTEST_SKIP() << "allocations are not weighed under the thread sanitizer";
    std::vector<std::pair<std::string, Bytes>> lists;
    for (const Shape& shape : kShapes) lists.emplace_back(shape.name, binaryOf(shape.make(3000)));
    lists.emplace_back("one text referred to a thousand times",
                       binaryPlist({repeatedArray(1000, 1), asciiObject(std::string(64, 'x'))}));
    for (const auto& [name, bytes] : lists) {
        PlistInputGuard::Tally tally;
        ASSERT_EQ(PlistInputGuard::checkBinary(bytes.data(), bytes.size(), &tally), "") << name;
        const std::uint64_t charged = tally.expandedCost;
        BinaryPlistReader reader(bytes.data(), bytes.size());
        std::string why;
        allocated = 0;
        counting = true;
        auto value = reader.read(why);
        counting = false;
        ASSERT_TRUE(value) << name << ": " << why;
        EXPECT_GE(charged, allocated.load()) << name;
        EXPECT_LE(charged, 4 * allocated.load()) << name;
    }
}

// Lists whose parsed tree would outgrow the bound are refused before anything is built; a file of the same
// kind and size whose tree fits is let through.
TEST(PlistInputGuard, RefusesWhatWouldOutgrowItsBoundInMemory)
{
    const struct {
        const char* name;
        std::uint32_t references;
        Bytes referred;
        bool refused;
    } cases[] = {
        {"ten million references to one number", 10'000'000, Bytes{0x10, 0x07}, true},
        {"four million references to one text", 4'000'000, asciiObject(std::string(64, 't')), true},
        {"three million references to one number", 3'000'000, Bytes{0x10, 0x07}, false},
    };
    for (const auto& c : cases) {
        const Bytes bytes = binaryPlist({repeatedArray(c.references, 1), c.referred});
        ASSERT_LE(bytes.size(), PlistInputGuard::kMaxInputBytes);
        const std::string why = PlistInputGuard::checkBinary(bytes.data(), bytes.size());
        EXPECT_EQ(why.empty(), !c.refused) << c.name << ": " << why;
    }
}

// The guard's work grows with the file, whatever the file shares: a key referred to at every entry is
// judged once, and a walk is stopped once what it charged passes the bound, however many dictionaries
// stand open.
TEST(PlistInputGuard, WorkGrowsWithTheFileWhateverItShares)
{
    const struct {
        const char* name;
        int depth;
        std::uint16_t entries;
        std::uint32_t keyUnits;
        bool refused;
        // The key's bytes once, each reference once, each object once.
        std::uint64_t maxSteps;
    } cases[] = {
        {"8 dictionaries of 100 entries under one 64 KB key", 8, 100, 32768, false, 65536 + 8 * 200 + 10},
        // 1.2 MB: the first dictionary's entries alone come near the bound, so the walk ends in the second
        // after some thirty more references.
        {"255 dictionaries of 650 entries under one 512 KB key", 255, 650, 262144, true, 524288 + 2 * 650 + 10},
    };
    for (const auto& c : cases) {
        const Bytes bytes = nestedUnderOneKey(c.depth, c.entries, c.keyUnits);
        PlistInputGuard::Tally tally;
        const std::string why = PlistInputGuard::checkBinary(bytes.data(), bytes.size(), &tally);
        EXPECT_EQ(why.empty(), !c.refused) << c.name << ": " << why;
        EXPECT_LE(tally.steps, c.maxSteps) << c.name << ": " << bytes.size() << " bytes";
    }
}

// Objects of one class share its class list: what reading an archive makes grows with the archive, not
// with its objects times the list.
TEST(KeyedUnarchiver, MakesAClassListOnceForAllItsObjects)
{
    if (!RIG_WEIGHS_ALLOCATIONS) GTEST_SKIP() << "allocations are not weighed under the thread sanitizer";
    std::uint64_t made[2] = {};
    const std::size_t names[2] = {1, 2000};
    for (int round = 0; round < 2; ++round) {
        const PlistValue archive = plist_fixtures::archiveSharingOneClassList(500, names[round]);
        allocated = 0;
        counting = true;
        const auto value = KeyedUnarchiver::unarchive(archive);
        counting = false;
        ASSERT_TRUE(value);
        ASSERT_EQ(value->array()->size(), 500U);
        const ArchivedObject& last = **value->array()->back().object();
        EXPECT_EQ(last.className, "Item");
        EXPECT_EQ(last.superclasses.size(), names[round]);
        made[round] = allocated.load();
    }
    // The long list's 2,000 names once, at most twice what they hold.
    EXPECT_LE(made[1] - made[0], 2 * 2000 * (64 + sizeof(std::string)));
}

TEST(BinaryPlistReader, ReadsEveryEncodingAndRefusesWhatHoldsNoValue)
{
    const Bytes keyK{0x51, 'k'};
    const struct {
        const char* name;
        std::vector<Bytes> objects;
        std::optional<PlistValue> expected;
    } cases[] = {
        {"eight-byte integer is signed", {{0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}}, PlistValue(-2)},
        {"sixteen-byte integer keeps its lower half",
         {{0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}}, PlistValue(INT64_MIN)},
        {"four-byte real", {{0x22, 0x3F, 0xC0, 0x00, 0x00}}, PlistValue(1.5)},
        {"date", {{0x33, 0xC0, 0x58, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00}}, PlistValue(PlistDate{-99.5})},
        {"UTF-16 with a pair and a lone surrogate",
         {{0x64, 0x00, 0x41, 0xD8, 0x3C, 0xDF, 0xB8, 0xD8, 0x00}}, PlistValue("A\xF0\x9F\x8E\xB8\xEF\xBF\xBD")},
        {"set read as an array", {{0xC2, 0x00, 0x01, 0x00, 0x01}, {0x10, 0x07}}, PlistValue(PlistArray{7, 7})},
        {"a key given twice keeps its last value",
         {{0xD2, 0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}, keyK, {0x10, 0x01}, {0x10, 0x02}},
         PlistValue(PlistDictionary{{"k", 2}})},
        {"null", {{0x00}}, std::nullopt},
        {"two-byte real", {{0x21, 0x3F, 0xC0}}, std::nullopt},
        {"sixteen-byte real", {Bytes(17, 0x24)}, std::nullopt},
        {"number as a key", {{0xD1, 0x00, 0x01, 0x00, 0x01}, {0x10, 0x01}}, std::nullopt},
    };
    for (const auto& c : cases) {
        Error error;
        const auto value = PropertyList::parse(binaryPlist(c.objects), &error);
        EXPECT_EQ(value, c.expected) << c.name;
        if (!c.expected) {
            EXPECT_EQ(error.code, PropertyList::kMalformed) << c.name;
        }
    }
}
