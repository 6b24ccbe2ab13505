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

// The work of a read grows with the list, not with its square: ten times the input, ten times the steps;
// what the writer wrote is read back as it was; and the guard charges a tree at least what reading it
// allocates, without refusing honest lists by far.
TEST(BinaryPlistReader, WorkAndChargeGrowInProportionToTheList)
{
    // A list of about n values, and the value it holds when a writer wrote it.
    using Made = std::pair<Bytes, std::optional<PlistValue>>;
    std::vector<std::pair<std::string, std::function<Made(int)>>> lists;
    for (const Shape& shape : kShapes) lists.emplace_back(shape.name, [&shape](int n) { return Made{binaryOf(shape.make(n)), shape.make(n)}; });
    lists.emplace_back("one text referred to again and again", [](int n) {
        return Made{binaryPlist({repeatedArray(static_cast<std::uint32_t>(n), 1), asciiObject(std::string(64, 'x'))}), std::nullopt};
    });
    for (const auto& [name, make] : lists) {
        SCOPED_TRACE(name);
        double perByte[2] = {};  // work per byte of input, for a list and for one ten times as long
        bool writerMade = false;
        for (int round = 0; round < 2; ++round) {
            const auto [bytes, written] = make(round == 0 ? 1000 : 10000);
            PlistInputGuard::Tally tally;
            ASSERT_EQ(PlistInputGuard::checkBinary(bytes.data(), bytes.size(), &tally), "");
            BinaryPlistReader reader(bytes.data(), bytes.size());
            std::string why;
            std::optional<PlistValue> value;
            const std::uint64_t made = weigh([&] { value = reader.read(why); });
            ASSERT_TRUE(value) << why;
            EXPECT_TRUE(!written || *value == *written);
            writerMade = written.has_value();
            perByte[round] = double(reader.steps()) / double(bytes.size());
            if (RIG_WEIGHS_ALLOCATIONS) {
                EXPECT_GE(tally.expandedCost, made);
                EXPECT_LE(tally.expandedCost, 4 * made);
            }
        }
        if (!writerMade) continue;  // a text copied at every reference costs what it is copied to
        EXPECT_LE(perByte[1], perByte[0] * 1.1);
        EXPECT_LE(perByte[1], 2.0);
    }
}

// The guard refuses before anything is built what would nest too deeply or outgrow its bound in memory,
// however the depth is reached (down a chain walked for the first time, or through one already walked and
// met again further down) and whatever the file shares, and lets through a file of the same kind and size
// that fits. Its work grows with the file: a key referred to at every entry is judged once; a walk is
// stopped once what it charged passes the bound, however many dictionaries stand open; and a reference is
// charged before what it refers to is read, so near the bound a long key, never judged or met before only
// as a value, passes the bound by its length alone and is never read.
TEST(PlistInputGuard, RefusesWhatNestsTooDeeplyOrOutgrowsItsBoundAndWorksInProportion)
{
    // `levels` arrays each holding the next, the last empty.
    auto chain = [](int levels) {
        std::vector<Bytes> objects;
        for (int i = 1; i < levels; ++i) objects.push_back(arrayObject({static_cast<std::uint16_t>(i)}));
        objects.push_back(arrayObject({}));
        return binaryPlist(objects);
    };
    // The top holds a chain of 200 levels, then a second chain of `above` levels that ends in the first.
    auto metAgain = [](int above) {
        std::vector<Bytes> objects{arrayObject({1, 201})};
        for (std::uint16_t i = 1; i < 200; ++i) objects.push_back(arrayObject({static_cast<std::uint16_t>(i + 1)}));
        objects.push_back(arrayObject({}));
        for (int i = 0; i < above; ++i) objects.push_back(arrayObject({static_cast<std::uint16_t>(i + 1 < above ? 202 + i : 1)}));
        return binaryPlist(objects);
    };
    auto references = [](std::uint32_t count, Bytes referred) { return binaryPlist({repeatedArray(count, 1), std::move(referred)}); };
    // The top holds the key (when met first as a value), an array referring to a 1000-byte text often enough
    // to charge all but 4 MB of the bound (each reference its value slot and its heap block), then a
    // dictionary under the key.
    auto nearTheBound = [](std::uint32_t keyBytes, bool keyFirstAsValue) {
        const std::uint64_t room = PlistInputGuard::kMaxExpandedBytes - (4u << 20) - (keyFirstAsValue ? keyBytes : 0);
        return binaryPlist({keyFirstAsValue ? arrayObject({3, 1, 4}) : arrayObject({1, 4}),
                            repeatedArray(static_cast<std::uint32_t>(room / (sizeof(PlistValue) + 1000 + 16)), 2), longObject(0x5, 1000, Bytes(1000, 'f')),
                            longObject(0x5, keyBytes, Bytes(keyBytes, 'k')), Bytes{0xD1, 0x00, 0x03, 0x00, 0x02}});
    };
    const std::string deep = "property list nests too deeply", large = "property list expands beyond the size limit";
    const struct { const char* name; Bytes bytes; std::string why; std::uint64_t minSteps = 0, maxSteps = UINT64_MAX; } cases[] = {
        {"256 levels", chain(PlistInputGuard::kMaxDepth), ""},
        {"257 levels", chain(PlistInputGuard::kMaxDepth + 1), deep},
        {"a thousand levels", chain(1000), deep},
        {"a walked chain met again where it fits", metAgain(50), ""},
        {"a walked chain met again too far down", metAgain(100), deep},
        {"ten million references to one number", references(10'000'000, Bytes{0x10, 0x07}), large},
        {"four million references to one text", references(4'000'000, asciiObject(std::string(64, 't'))), large},
        {"three million references to one number", references(3'000'000, Bytes{0x10, 0x07}), ""},
        // The key's bytes once, each reference once, each object once.
        {"8 dictionaries of 100 entries under one 64 KB key", nestedUnderOneKey(8, 100, 32768), "", 0, 65536 + 8 * 200 + 10},
        // 1.2 MB: the first dictionary's entries alone come near the bound, so the walk ends in the second
        // after some thirty more references.
        {"255 dictionaries of 650 entries under one 512 KB key", nestedUnderOneKey(255, 650, 262144), large, 0, 524288 + 2 * 650 + 10},
        {"an 8 MB key never judged", nearTheBound(8u << 20, false), large, 0, (8u << 20) - 1},
        {"an 8 MB key met before as a value", nearTheBound(8u << 20, true), large, 0, (8u << 20) - 1},
        {"a 1 MB key never judged", nearTheBound(1u << 20, false), "", 1u << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.bytes.size(), PlistInputGuard::kMaxInputBytes);
        PlistInputGuard::Tally tally;
        EXPECT_EQ(PlistInputGuard::checkBinary(c.bytes.data(), c.bytes.size(), &tally), c.why);
        EXPECT_GE(tally.steps, c.minSteps);
        EXPECT_LE(tally.steps, c.maxSteps);
        if (c.bytes.size() > 65536) continue;
        Error error;
        EXPECT_EQ(PropertyList::parse(c.bytes, &error).has_value(), c.why.empty());
        EXPECT_EQ(error.code, c.why.empty() ? std::int64_t{0} : std::int64_t{PropertyList::kMalformed});
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
