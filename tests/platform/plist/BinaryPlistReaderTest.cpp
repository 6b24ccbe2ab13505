#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist/BinaryPlistReader.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"
#include "platform/plist/PlistInputGuard.h"
#include "platform/plist/PropertyList.h"
#include "support/plist/PlistFixtures.h"

using namespace platform;
using namespace plist_fixtures;

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
    if (counting.load(std::memory_order_relaxed)) allocated.fetch_add(size, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#endif

namespace {

// What `make` allocates while counting.
template <typename Make>
std::uint64_t weigh(Make&& make)
{
    allocated = 0;
    counting = true;
    make();
    counting = false;
    return allocated.load();
}

// An array object of any length referring `count` times to object `ref` (two-byte references).
Bytes repeatedArray(std::uint32_t count, std::uint16_t ref)
{
    Bytes refs(2 * std::size_t(count));
    for (std::size_t at = 0; at < refs.size(); at += 2) refs[at] = std::uint8_t(ref >> 8), refs[at + 1] = std::uint8_t(ref);
    return longObject(0xA, count, refs);
}

Bytes asciiObject(const std::string& text)
{
    Bytes out{0x5F, 0x10, static_cast<std::uint8_t>(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

const struct Shape {
    const char* name;
    std::function<PlistValue(int)> make;
} kShapes[] = {
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
        SCOPED_TRACE(shape.name);
        double perByte[2] = {};  // work per byte of input, for a list and for one ten times as long
        for (int round = 0; round < 2; ++round) {
            const PlistValue made = shape.make(round == 0 ? 1000 : 10000);
            const Bytes bytes = binaryOf(made);
            ASSERT_EQ(PlistInputGuard::checkBinary(bytes.data(), bytes.size()), "");
            BinaryPlistReader reader(bytes.data(), bytes.size());
            std::string why;
            const auto value = reader.read(why);
            ASSERT_TRUE(value) << why;
            EXPECT_EQ(*value, made);
            perByte[round] = double(reader.steps()) / double(bytes.size());
        }
        EXPECT_LE(perByte[1], perByte[0] * 1.1);
        EXPECT_LE(perByte[1], 2.0);
    }
}

// The guard charges a tree at least what reading it allocates, without refusing honest lists by far.
TEST(PlistInputGuard, ChargesWhatTheParsedTreeAllocates)
{
    if (!RIG_WEIGHS_ALLOCATIONS) GTEST_SKIP() << "allocations are not weighed under the thread sanitizer";
    std::vector<std::pair<std::string, Bytes>> lists;
    for (const Shape& shape : kShapes) lists.emplace_back(shape.name, binaryOf(shape.make(3000)));
    lists.emplace_back("one text referred to a thousand times", binaryPlist({repeatedArray(1000, 1), asciiObject(std::string(64, 'x'))}));
    for (const auto& [name, bytes] : lists) {
        SCOPED_TRACE(name);
        PlistInputGuard::Tally tally;
        ASSERT_EQ(PlistInputGuard::checkBinary(bytes.data(), bytes.size(), &tally), "");
        BinaryPlistReader reader(bytes.data(), bytes.size());
        std::string why;
        std::optional<PlistValue> value;
        const std::uint64_t made = weigh([&] { value = reader.read(why); });
        ASSERT_TRUE(value) << why;
        EXPECT_GE(tally.expandedCost, made);
        EXPECT_LE(tally.expandedCost, 4 * made);
    }
}

// Lists whose parsed tree would outgrow the bound are refused before anything is built; a file of the same
// kind and size whose tree fits is let through.
TEST(PlistInputGuard, RefusesWhatWouldOutgrowItsBoundInMemory)
{
    const struct { const char* name; std::uint32_t references; Bytes referred; bool refused; } cases[] = {
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
        std::uint64_t maxSteps;  // the key's bytes once, each reference once, each object once
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
        const PlistValue archive = archiveSharingOneClassList(500, names[round]);
        std::optional<ArchivedValue> value;
        made[round] = weigh([&] { value = KeyedUnarchiver::unarchive(archive); });
        ASSERT_TRUE(value);
        ASSERT_EQ(value->array()->size(), 500U);
        const ArchivedObject& last = **value->array()->back().object();
        EXPECT_EQ(last.className, "Item");
        EXPECT_EQ(last.superclasses.size(), names[round]);
    }
    // The long list's 2,000 names once, at most twice what they hold.
    EXPECT_LE(made[1] - made[0], 2 * 2000 * (64 + sizeof(std::string)));
}

TEST(BinaryPlistReader, ReadsEveryEncodingAndRefusesWhatHoldsNoValue)
{
    const Bytes keyK{0x51, 'k'};
    // Each level refers twice to the next: a small file that would expand to a huge tree.
    std::vector<Bytes> doubling;
    for (std::uint16_t i = 1; i < 40; ++i) doubling.push_back(arrayObject({i, i}));
    doubling.push_back(Bytes{0x4F, 0x11, 0x04, 0x00});
    doubling.back().resize(4 + 1024);
    const struct {
        const char* name;
        std::vector<Bytes> objects;
        std::optional<PlistValue> expected;
        std::uint64_t top = 0;
    } cases[] = {
        {"eight-byte integer is signed", {{0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}}, PlistValue(-2)},
        {"sixteen-byte integer keeps its lower half",
         {{0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}}, PlistValue(INT64_MIN)},
        {"four-byte real", {{0x22, 0x3F, 0xC0, 0x00, 0x00}}, PlistValue(1.5)},
        {"date", {{0x33, 0xC0, 0x58, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00}}, PlistValue(PlistDate{-99.5})},
        {"UTF-16 with a pair and a lone surrogate",
         {{0x64, 0x00, 0x41, 0xD8, 0x3C, 0xDF, 0xB8, 0xD8, 0x00}}, PlistValue("A\xF0\x9F\x8E\xB8\xEF\xBF\xBD")},
        {"set read as an array", {{0xC2, 0x00, 0x01, 0x00, 0x01}, {0x10, 0x07}}, PlistValue(PlistArray{7, 7})},
        {"one number shared by two references", {arrayObject({1, 1}), {0x10, 0x07}}, PlistValue(PlistArray{7, 7})},
        {"a key given twice keeps its last value",
         {{0xD2, 0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}, keyK, {0x10, 0x01}, {0x10, 0x02}},
         PlistValue(PlistDictionary{{"k", 2}})},
        {"null", {{0x00}}, std::nullopt},
        {"two-byte real", {{0x21, 0x3F, 0xC0}}, std::nullopt},
        {"sixteen-byte real", {Bytes(17, 0x24)}, std::nullopt},
        {"number as a key", {{0xD1, 0x00, 0x01, 0x00, 0x01}, {0x10, 0x01}}, std::nullopt},
        // A key is judged by what it is, whatever it stood as before.
        {"text met as a value, then as a key",
         {{0xA2, 0x00, 0x01, 0x00, 0x02}, keyK, {0xD1, 0x00, 0x01, 0x00, 0x03}, {0x10, 0x07}},
         PlistValue(PlistArray{"k", PlistDictionary{{"k", 7}}})},
        {"number met as a value, then as a key", {{0xA2, 0x00, 0x01, 0x00, 0x02}, {0x10, 0x01}, {0xD1, 0x00, 0x01, 0x00, 0x01}},
         std::nullopt},
        {"text holding a NUL met as a value, then as a key",
         {{0xA2, 0x00, 0x01, 0x00, 0x02}, {0x52, 'a', 0x00}, {0xD1, 0x00, 0x01, 0x00, 0x01}}, std::nullopt},
        {"UTF-16 key holding a NUL", {{0xD1, 0x00, 0x01, 0x00, 0x01}, {0x62, 0x00, 0x41, 0x00, 0x00}}, std::nullopt},
        {"UID as a key", {{0xD1, 0x00, 0x01, 0x00, 0x02}, {0x80, 0x01}, {0x10, 0x07}}, std::nullopt},
        {"dictionary keyed by itself", {{0xD1, 0x00, 0x00, 0x00, 0x01}, {0x10, 0x07}}, std::nullopt},
        {"key out of range", {{0xD1, 0x00, 0x05, 0x00, 0x01}, {0x10, 0x07}}, std::nullopt},
        {"array holding itself as a dictionary's value", {{0xA1, 0x00, 0x01}, {0xD1, 0x00, 0x02, 0x00, 0x00}, keyK},
         std::nullopt},
        {"UID as a value", {{0xA1, 0x00, 0x01}, {0x81, 0x01, 0x02}}, PlistValue(PlistArray{PlistUid{0x102}})},
        {"an array holding itself", {arrayObject({0})}, std::nullopt},
        {"two arrays holding each other", {arrayObject({1}), arrayObject({0})}, std::nullopt},
        {"reference out of range", {arrayObject({5})}, std::nullopt},
        {"top out of range", {arrayObject({})}, std::nullopt, 3},
        {"text longer than the file", {{0x5F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}, std::nullopt},
        {"unknown object type", {{0x70}}, std::nullopt},
        {"small file expanding to a huge tree", doubling, std::nullopt},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_EQ(PropertyList::parse(binaryPlist(c.objects, c.top), &error), c.expected) << c.name;
        EXPECT_EQ(error.code, c.expected ? std::int64_t{0} : std::int64_t{PropertyList::kMalformed}) << c.name;
    }
}

namespace {

void putBigEndian(Bytes& out, std::uint64_t value, unsigned width)
{
    for (int shift = 8 * (static_cast<int>(width) - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// An array of a number and a text, laid out with references and offsets of the given widths; the array's
// second reference, the text's offset and the trailer's object count can be set to lie.
struct Layout {
    unsigned refWidth = 2, offsetWidth = 4;
    std::uint64_t secondRef = 2;
    std::optional<std::uint64_t> textOffset, count;

    Bytes bytes() const
    {
        Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<std::uint64_t> offsets{out.size()};
        out.push_back(0xA2);
        putBigEndian(out, 1, refWidth);
        putBigEndian(out, secondRef, refWidth);
        offsets.push_back(out.size());
        out.insert(out.end(), {0x10, 0x07});
        offsets.push_back(textOffset.value_or(out.size()));
        out.insert(out.end(), {0x52, 'a', 'b'});
        const std::uint64_t tableStart = out.size();
        for (std::uint64_t offset : offsets) putBigEndian(out, offset, offsetWidth);
        out.insert(out.end(), {0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(offsetWidth), static_cast<std::uint8_t>(refWidth)});
        putBigEndian(out, count.value_or(offsets.size()), 8);
        putBigEndian(out, 0, 8);
        putBigEndian(out, tableStart, 8);
        return out;
    }
};

}  // namespace

// Every width a writer may choose reads to the same values; a reference or offset too wide for the file,
// or a trailer miscounting the objects, is refused rather than read short.
TEST(BinaryPlistReader, ReadsEveryWidthAndRefusesWhatLiesAboutTheLayout)
{
    const struct { const char* name; Layout layout; bool read; } cases[] = {
        {"one-byte references and offsets", {1, 1, 2, {}, {}}, true},
        {"two-byte references and offsets", {2, 2, 2, {}, {}}, true},
        {"four-byte references and offsets", {4, 4, 2, {}, {}}, true},
        {"eight-byte references and offsets", {8, 8, 2, {}, {}}, true},
        {"one-byte references, eight-byte offsets", {1, 8, 2, {}, {}}, true},
        {"eight-byte references, one-byte offsets", {8, 1, 2, {}, {}}, true},
        {"eight-byte reference beyond 32 bits", {8, 4, (std::uint64_t(1) << 32) | 2, {}, {}}, false},
        {"eight-byte reference at the top of the range", {8, 4, UINT64_MAX, {}, {}}, false},
        {"eight-byte offset beyond 32 bits", {2, 8, 2, (std::uint64_t(1) << 32) | 15, {}}, false},
        {"offset into the offset table", {2, 4, 2, 18, {}}, false},
        {"trailer counting fewer objects than are referred to", {2, 4, 2, {}, 2}, false},
        {"trailer counting more objects than its table holds", {2, 4, 2, {}, 4}, false},
        {"trailer counting no objects", {2, 4, 2, {}, 0}, false},
        {"trailer counting every object there could be", {2, 4, 2, {}, UINT64_MAX}, false},
    };
    for (const auto& c : cases) {
        Error error;
        const auto value = PropertyList::parse(c.layout.bytes(), &error);
        EXPECT_EQ(value, c.read ? std::optional(PlistValue(PlistArray{7, "ab"})) : std::nullopt) << c.name << ": " << error.description;
        EXPECT_EQ(error.code, c.read ? std::int64_t{0} : std::int64_t{PropertyList::kMalformed}) << c.name;
    }
}

// The nesting bound holds however the depth is reached: down a chain walked for the first time, or through
// a chain already walked and met again further down; the walk itself never recurses.
TEST(PlistInputGuard, NestingStopsAtTheLimitHoweverItIsReached)
{
    // `levels` arrays each holding the next, the last empty.
    auto chain = [](int levels) {
        std::vector<Bytes> objects;
        for (int i = 1; i < levels; ++i) objects.push_back(arrayObject({static_cast<std::uint16_t>(i)}));
        objects.push_back(arrayObject({}));
        return objects;
    };
    // The top holds a chain of 200 levels, then a second chain of `above` levels that ends in the first.
    auto metAgain = [](int above) {
        std::vector<Bytes> objects{arrayObject({1, 201})};
        for (std::uint16_t i = 1; i < 200; ++i) objects.push_back(arrayObject({static_cast<std::uint16_t>(i + 1)}));
        objects.push_back(arrayObject({}));
        for (int i = 0; i < above; ++i) objects.push_back(arrayObject({static_cast<std::uint16_t>(i + 1 < above ? 202 + i : 1)}));
        return objects;
    };
    const struct { const char* name; std::vector<Bytes> objects; bool read; } cases[] = {
        {"256 levels", chain(PlistInputGuard::kMaxDepth), true},
        {"257 levels", chain(PlistInputGuard::kMaxDepth + 1), false},
        {"a thousand levels", chain(1000), false},
        {"a walked chain met again where it fits", metAgain(50), true},
        {"a walked chain met again too far down", metAgain(100), false},
    };
    for (const auto& c : cases) {
        const Bytes bytes = binaryPlist(c.objects);
        const std::string why = PlistInputGuard::checkBinary(bytes.data(), bytes.size());
        EXPECT_EQ(why, c.read ? "" : "property list nests too deeply") << c.name;
        Error error;
        EXPECT_EQ(PropertyList::parse(bytes, &error).has_value(), c.read) << c.name;
        EXPECT_EQ(error.code, c.read ? std::int64_t{0} : std::int64_t{PropertyList::kMalformed}) << c.name;
    }
}

// A reference is charged before anything it refers to is read: once the walk is near its bound, a key
// never judged, or one met before only as a value, passes the bound by its length alone and its text is
// never read. Within the bound the same key is read and judged.
TEST(PlistInputGuard, ChargesAReferenceBeforeReadingWhatItRefersTo)
{
    const std::string filler(1000, 'f');
    // What each reference to the filler text is charged: its value slot and its heap block.
    const std::uint64_t perFiller = sizeof(PlistValue) + filler.size() + 16;
    // The top holds the key (when met first as a value), an array referring to the filler often enough
    // to charge all but 4 MB of the bound, then a dictionary under the key.
    auto nearTheBound = [&](std::uint32_t keyBytes, bool keyFirstAsValue) {
        const std::uint64_t room = PlistInputGuard::kMaxExpandedBytes - (4u << 20) - (keyFirstAsValue ? keyBytes : 0);
        return binaryPlist({keyFirstAsValue ? arrayObject({3, 1, 4}) : arrayObject({1, 4}),
                            repeatedArray(static_cast<std::uint32_t>(room / perFiller), 2),
                            longObject(0x5, 1000, Bytes(filler.begin(), filler.end())), longObject(0x5, keyBytes, Bytes(keyBytes, 'k')),
                            Bytes{0xD1, 0x00, 0x03, 0x00, 0x02}});
    };
    const struct { const char* name; std::uint32_t keyBytes; bool keyFirstAsValue, refused; } cases[] = {
        {"an 8 MB key never judged", 8u << 20, false, true},
        {"an 8 MB key met before as a value", 8u << 20, true, true},
        {"a 1 MB key never judged", 1u << 20, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = nearTheBound(c.keyBytes, c.keyFirstAsValue);
        ASSERT_LE(bytes.size(), PlistInputGuard::kMaxInputBytes);
        PlistInputGuard::Tally tally;
        const std::string why = PlistInputGuard::checkBinary(bytes.data(), bytes.size(), &tally);
        EXPECT_EQ(why, c.refused ? "property list expands beyond the size limit" : "");
        EXPECT_EQ(tally.steps < c.keyBytes, c.refused) << tally.steps;
    }
}
