#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"
#include "platform/plist/PropertyList.h"

using namespace platform;

namespace {

using Names = std::vector<std::string>;

std::shared_ptr<ArchivedObject> object(std::string className, ArchivedEntries fields)
{
    auto made = std::make_shared<ArchivedObject>();
    made->className = std::move(className);
    made->fields = std::move(fields);
    return made;
}

const PlistValue& entryAt(const PlistValue& archive, const PlistValue& uid)
{
    return archive.get("$objects").at(static_cast<std::size_t>(uid.asUid().value_or(PlistUid{}).index));
}

std::string classNameOf(const PlistValue& archive, const PlistValue& entry)
{
    return entryAt(archive, entry.get("$class")).get("$classname").asString().value_or("");
}

PlistValue archiveWithObjects(PlistArray objects, std::uint64_t root = 1)
{
    return PlistDictionary{{"$archiver", "NSKeyedArchiver"}, {"$version", 100000}, {"$objects", std::move(objects)},
                           {"$top", PlistDictionary{{"root", PlistUid{root}}}}};
}

PlistValue classOf(const std::string& name, PlistArray classes) { return PlistDictionary{{"$classname", name}, {"$classes", std::move(classes)}}; }

PlistValue arrayOf(std::uint64_t classIndex, PlistArray references)
{
    return PlistDictionary{{"$class", PlistUid{classIndex}}, {"NS.objects", std::move(references)}};
}

const PlistValue kItemClass = classOf("Item", {"Item", "NSObject"});
const PlistValue kArrayClass = classOf("NSArray", {"NSArray", "NSObject"});

}  // namespace

TEST(KeyedArchive, WritesTheLayoutThePlatformArchiverReadsAndRefusesWhatItCannotWrite)
{
    // A record dictionary of two strings, as the backup records are stored.
    const ArchivedValue record = PlistValue(PlistDictionary{{"BackupName", "Live set"}, {"ModelName", "R-7"}});
    auto bytes = KeyedArchiver::archive(record);
    ASSERT_TRUE(bytes);
    ASSERT_GE(bytes->size(), 8u);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");

    auto archive = PropertyList::parse(*bytes);
    ASSERT_TRUE(archive);
    EXPECT_EQ(std::tuple(archive->get("$archiver").asString(), archive->get("$version").asInteger(), archive->get("$objects").at(0).asString()),
              std::tuple(std::optional<std::string>("NSKeyedArchiver"), std::optional<std::int64_t>(100000), std::optional<std::string>("$null")));
    const PlistValue& rootUid = archive->get("$top").get("root");
    ASSERT_TRUE(rootUid.asUid());
    const PlistValue& root = entryAt(*archive, rootUid);
    EXPECT_EQ(classNameOf(*archive, root), "NSMutableDictionary");
    EXPECT_EQ(entryAt(*archive, root.get("$class")).get("$classes"), PlistValue(PlistArray{"NSMutableDictionary", "NSDictionary", "NSObject"}));
    auto texts = [&](const char* key) {
        Names out;
        for (const PlistValue& uid : *root.get(key).array()) out.push_back(entryAt(*archive, uid).asString().value_or("?"));
        return out;
    };
    EXPECT_EQ(texts("NS.keys"), (Names{"BackupName", "ModelName"}));
    EXPECT_EQ(texts("NS.objects"), (Names{"Live set", "R-7"}));

    auto back = KeyedUnarchiver::unarchive(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->toPlain(), record.toPlain());
    Error error;
    EXPECT_FALSE(KeyedArchiver::archive(ArchivedValue(object("Item", {{"$class", PlistValue(1)}})), &error));
    EXPECT_EQ(error.code, PropertyList::kUnstorable);
    EXPECT_FALSE(KeyedArchiver::archive(ArchivedValue(object("", {})), &error));
    EXPECT_FALSE(KeyedArchiver::archive(PlistValue(PlistUid{1}), &error));
}

TEST(KeyedArchive, ObjectGraphRoundTripsWithSharingAndInlineScalars)
{
    auto shared = object("Colour", {{"Red", PlistValue(255)}});
    auto slot = ArchivedValue::dictionary({{"effectName", PlistValue("Drive")}, {"useUnitNum", PlistValue(2)}});
    auto item = object("Patch", {{"patchName", PlistValue("Lead \xE2\x99\xAA")}, {"isWarning", PlistValue(true)},
                                 {"usedTimes", PlistValue(-3)}, {"level", PlistValue(0.75)}, {"comment", ArchivedValue()},
                                 {"icon", PlistValue(Bytes{0x4D, 0x4D, 0x00, 0x2A})}, {"saved", PlistValue(PlistDate{123456.5})},
                                 {"slots", ArchivedValue::dictionary({{"slot 0", slot}, {"slot 1", slot}})},
                                 {"tags", ArchivedValue::array({PlistValue("a"), PlistValue(1)}, false)},
                                 {"front", shared}, {"back", shared}});
    item->superclasses = {"Item", "NSObject"};

    auto archive = KeyedArchiver::archiveTree(ArchivedValue(item));
    ASSERT_TRUE(archive);
    const PlistValue& root = entryAt(*archive, archive->get("$top").get("root"));
    EXPECT_EQ(root.get("isWarning"), PlistValue(true)) << "booleans are stored inline";
    EXPECT_EQ(root.get("usedTimes"), PlistValue(-3)) << "integers are stored inline";
    EXPECT_TRUE(root.get("patchName").asUid()) << "strings go to the object table";
    EXPECT_EQ(root.get("front"), root.get("back"));
    EXPECT_EQ(entryAt(*archive, root.get("$class")).get("$classes"), PlistValue(PlistArray{"Patch", "Item", "NSObject"}));
    int colours = 0, colourClasses = 0;
    for (const PlistValue& entry : *archive->get("$objects").array()) {
        colours += entry.get("$class").asUid() && classNameOf(*archive, entry) == "Colour";
        colourClasses += entry.get("$classname").asString() == "Colour";
    }
    EXPECT_EQ(std::pair(colours, colourClasses), std::pair(1, 1)) << "an object referenced twice is stored once, its class too";

    auto bytes = PropertyList::serialize(*archive, PlistFormat::Binary);
    ASSERT_TRUE(bytes);
    auto back = KeyedUnarchiver::unarchive(*bytes);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->kind(), ArchivedValue::Kind::Object);
    const ArchivedObject& read = **back->object();
    EXPECT_EQ(read.className, "Patch");
    EXPECT_EQ(read.superclasses, (Names{"Item", "NSObject"}));
    for (const char* name : {"patchName", "isWarning", "usedTimes", "level", "icon", "saved", "tags"}) {
        ASSERT_TRUE(item->field(name).toPlain()) << name;
        EXPECT_EQ(read.field(name).toPlain(), item->field(name).toPlain()) << name;
    }
    EXPECT_TRUE(read.field("comment").isNil() && read.field("absent").isNil());
    EXPECT_EQ(read.field("slots").get("slot 1").get("effectName").toPlain(), PlistValue("Drive"));
    EXPECT_EQ(std::pair(read.field("slots").isMutableContainer(), read.field("tags").isMutableContainer()), std::pair(true, false));
    ASSERT_EQ(read.field("front").kind(), ArchivedValue::Kind::Object);
    EXPECT_EQ(read.field("front").object()->get(), read.field("back").object()->get()) << "sharing survives";
    EXPECT_EQ((*read.field("front").object())->field("Red").toPlain(), PlistValue(255));
    EXPECT_FALSE(back->toPlain()) << "a graph with objects has no plain form";
}

TEST(KeyedArchive, RefusesBrokenArchives)
{
    // Objects each holding the next under a key: the graph nests as deep as the chain is long, however
    // flat its property list is.
    auto chainOf = [](std::uint64_t levels) {
        PlistArray objects{"$null"};
        for (std::uint64_t i = 1; i <= levels; ++i) {
            PlistDictionary entry{{"$class", PlistUid{levels + 1}}};
            if (i < levels) entry["next"] = PlistUid{i + 1};
            objects.push_back(std::move(entry));
        }
        objects.push_back(kItemClass);
        return archiveWithObjects(std::move(objects));
    };
    // A sound layout of one text, edited.
    auto edited = [](const std::function<void(PlistDictionary&)>& edit) {
        PlistValue archive = archiveWithObjects({"$null", "text"});
        edit(*archive.dictionary());
        return archive;
    };
    auto one = [](PlistDictionary root, PlistArray rest = {}) {
        PlistArray objects{"$null", std::move(root)};
        for (auto& entry : rest) objects.push_back(std::move(entry));
        return archiveWithObjects(std::move(objects));
    };
    const PlistValue classed = PlistDictionary{{"$class", PlistUid{2}}};
    EXPECT_TRUE(KeyedUnarchiver::unarchive(chainOf(250)));
    const PlistValue broken[] = {
        chainOf(300),
        one({{"$class", PlistUid{2}}, {"x", PlistUid{9}}}, {kItemClass}),
        one({{"$class", PlistUid{2}}, {"self", PlistUid{1}}}, {kItemClass}),
        one({{"$class", PlistUid{3}}, {"next", PlistUid{2}}}, {PlistDictionary{{"$class", PlistUid{3}}, {"next", PlistUid{1}}}, kItemClass}),
        archiveWithObjects({"$null", "text"}, 7),
        one({{"x", 1}}),
        one({{"$class", PlistUid{1}}}),
        archiveWithObjects({"not null", "text"}),
        archiveWithObjects({}),
        PlistDictionary{{"$archiver", "Other"}, {"$objects", PlistArray{"$null"}}},
        // Another version, or none, of a layout that is otherwise sound.
        edited([](PlistDictionary& d) { d.at("$version") = PlistValue(100001); }),
        edited([](PlistDictionary& d) { d.erase("$version"); }),
        // A dictionary that only looks like an XML reference.
        edited([](PlistDictionary& d) { d.at("$top") = PlistDictionary{{"root", PlistDictionary{{"CF$UID", 1}, {"other", 2}}}}; }),
        one({{"$class", PlistUid{2}}, {"NS.keys", PlistArray{PlistUid{3}}}, {"NS.objects", PlistArray{PlistUid{3}}}},
            {PlistDictionary{{"$classname", "NSDictionary"}}, 5}),
        one({{"$class", PlistUid{2}}, {"NS.keys", PlistArray{}}, {"NS.objects", PlistArray{PlistUid{0}}}},
            {PlistDictionary{{"$classname", "NSDictionary"}}}),
        // Class descriptions that are none: a list naming a number or referring to itself, a plain text or
        // array in the description's place, and a broken one read after a sound one.
        one({{"$class", PlistUid{2}}}, {classOf("Item", {"Item", 5})}),
        one({{"$class", PlistUid{2}}}, {classOf("Item", {"Item", PlistUid{2}})}),
        one({{"$class", PlistUid{2}}}, {"Item"}),
        one({{"$class", PlistUid{2}}}, {PlistArray{"Item"}}),
        one({{"$class", PlistUid{0}}}),
        one({{"$class", PlistUid{2}}, {"a", PlistUid{3}}, {"b", PlistUid{4}}},
            {kItemClass, classed, PlistDictionary{{"$class", PlistUid{5}}}, PlistDictionary{{"$classes", PlistArray{"Item"}}}}),
    };
    for (std::size_t i = 0; i < std::size(broken); ++i) {
        Error error;
        EXPECT_FALSE(KeyedUnarchiver::unarchive(broken[i], &error)) << "case " << i;
        EXPECT_EQ(error.code, PropertyList::kNotAnArchive) << "case " << i;
    }
    const Bytes valid = *KeyedArchiver::archive(ArchivedValue(object("Item", {{"name", PlistValue("x")}})));
    for (std::size_t length = 0; length < valid.size(); ++length)
        EXPECT_FALSE(KeyedUnarchiver::unarchive(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length))));
}

// XML has no UID: a reference is written as a dictionary holding only "CF$UID", by this program's own writer
// and by others; either reads back as the reference.
TEST(KeyedArchive, ReadsTheReferencesOfXmlArchives)
{
    auto item = object("Item", {{"name", PlistValue("Clean")}, {"level", PlistValue(3)}});
    item->fields.emplace_back("twin", ArchivedValue(std::shared_ptr<const ArchivedObject>(object("Item", {}))));
    const auto tree = KeyedArchiver::archiveTree(ArchivedValue::array({ArchivedValue(item), ArchivedValue(PlistValue("tail"))}, true));
    ASSERT_TRUE(tree);
    const auto xml = PropertyList::serialize(*tree, PlistFormat::Xml);
    ASSERT_TRUE(xml);
    ASSERT_NE(std::string(xml->begin(), xml->end()).find("CF$UID"), std::string::npos);
    Error error;
    const auto back = KeyedUnarchiver::unarchive(*xml, &error);
    ASSERT_TRUE(back) << error.description;
    EXPECT_EQ(KeyedArchiver::archiveTree(*back), tree) << "read back, it archives to the very same tree";

    const std::string written =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>$archiver</key><string>NSKeyedArchiver</string>"
        "<key>$version</key><integer>100000</integer>"
        "<key>$top</key><dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>"
        "<key>$objects</key><array><string>$null</string>"
        "<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict>"
        "<key>name</key><dict><key>CF$UID</key><integer>3</integer></dict><key>size</key><integer>7</integer></dict>"
        "<dict><key>$classname</key><string>Item</string><key>$classes</key><array><string>Item</string>"
        "<string>NSObject</string></array></dict>"
        "<string>Lead</string></array></dict></plist>";
    const auto other = KeyedUnarchiver::unarchive(Bytes(written.begin(), written.end()), &error);
    ASSERT_TRUE(other) << error.description;
    ASSERT_NE(other->object(), nullptr);
    const ArchivedObject& read = **other->object();
    EXPECT_EQ(read.className, "Item");
    EXPECT_EQ(read.fields.size(), 2u);
    EXPECT_EQ(std::pair(read.field("name").toPlain(), read.field("size").toPlain()), std::pair(std::optional(PlistValue("Lead")), std::optional(PlistValue(7))));

    // The mutable string form reads as its text.
    const PlistValue stringClass = classOf("NSMutableString", {"NSMutableString", "NSString", "NSObject"});
    EXPECT_EQ(KeyedUnarchiver::unarchive(archiveWithObjects({"$null", PlistDictionary{{"$class", PlistUid{2}}, {"NS.string", "mutable"}}, stringClass}))
                  ->toPlain(),
              PlistValue("mutable"));
}

// The objects of one class description share its class list, and each object reads the name and list of
// its own description; nobody can write through a list another object shares.
TEST(KeyedArchive, ObjectsShareTheClassListOfTheirOwnDescriptionAndReferencesWhatTheyReferTo)
{
    static_assert(std::is_same_v<decltype(*std::declval<ClassList&>().begin()), const std::string&>);
    static_assert(std::is_same_v<decltype(std::declval<ClassList&>().names()), const Names&>);
    auto member = [](std::uint64_t classIndex, int n) { return PlistDictionary{{"$class", PlistUid{classIndex}}, {"n", n}}; };
    const auto value = KeyedUnarchiver::unarchive(archiveWithObjects(
        {"$null", arrayOf(2, {PlistUid{3}, PlistUid{4}, PlistUid{5}, PlistUid{9}}), kArrayClass, member(6, 1), member(7, 2),
         member(6, 3), classOf("Item", {"Item", "Base", "NSObject"}), classOf("Other", {"Other", "Base", "NSObject"}),
         PlistDictionary{{"$classname", "Bare"}}, PlistDictionary{{"$class", PlistUid{8}}}}));
    ASSERT_TRUE(value);
    ASSERT_EQ(value->array()->size(), 4U);
    auto at = [&](std::size_t i) -> const ArchivedObject& { return **(*value->array())[i].object(); };
    const ArchivedObject &first = at(0), &other = at(1), &third = at(2), &bare = at(3);
    EXPECT_EQ((Names{first.className, other.className, third.className, bare.className}), (Names{"Item", "Other", "Item", "Bare"}));
    EXPECT_EQ(first.superclasses, (Names{"Base", "NSObject"}));
    EXPECT_EQ(other.superclasses, first.superclasses);
    EXPECT_EQ(bare.superclasses, Names{});
    EXPECT_EQ(third.field("n").toPlain(), PlistValue(3));
    EXPECT_EQ(&first.superclasses.names(), &third.superclasses.names());
    EXPECT_NE(&first.superclasses.names(), &other.superclasses.names());
    // A copy given a list of its own leaves the shared one as it was.
    ArchivedObject copy = third;
    copy.superclasses = ClassList({"Changed"});
    EXPECT_EQ(first.superclasses, (Names{"Base", "NSObject"}));
    // An object moved from, as a container leaves it, still holds a list that reads.
    ArchivedObject taken = std::move(copy);
    EXPECT_EQ(taken.superclasses, Names{"Changed"});
    EXPECT_LE(copy.superclasses.size(), 1U);
    EXPECT_EQ(std::distance(copy.superclasses.begin(), copy.superclasses.end()), static_cast<std::ptrdiff_t>(copy.superclasses.size()));
    // An object referred to from many places is read once and held once: every reference shares it.
    const std::string text(4096, 'x');
    const auto shared = KeyedUnarchiver::unarchive(
        archiveWithObjects({"$null", arrayOf(2, {PlistUid{3}, PlistUid{4}, PlistUid{3}}), kArrayClass, text, arrayOf(2, {PlistUid{3}, PlistUid{3}})}));
    ASSERT_TRUE(shared);
    const auto& elements = *shared->array();
    ASSERT_EQ(elements.size(), 3U);
    ASSERT_NE(elements[0].plain(), nullptr);
    EXPECT_EQ(*elements[0].plain()->string(), text);
    EXPECT_EQ(elements[0].plain(), elements[2].plain());
    EXPECT_EQ(elements[1].array()->at(0).plain(), elements[0].plain());
    const ArchivedValue copied = elements[1];
    EXPECT_EQ(copied.array(), elements[1].array()) << "copies of a value share what it holds too";
}

// A few kilobytes can refer to one large object millions of times, nest objects that each list the one
// below twice, or refer often to an object of a long-named class: a reader walking the graph as a tree
// would copy without bound, so such archives are refused; within the bound the same shapes read.
TEST(KeyedArchive, RefusesAnArchiveThatUnfoldsPastTheBound)
{
    // `references` references to a pair of references to one megabyte.
    auto wide = [](std::size_t references) {
        return archiveWithObjects({"$null", arrayOf(2, PlistArray(references, PlistUid{4})), kArrayClass, std::string(1 << 20, 'x'),
                                   arrayOf(2, {PlistUid{3}, PlistUid{3}})});
    };
    // Forty arrays, each listing the one below twice.
    PlistArray nested{"$null", kArrayClass, "leaf"};
    for (std::uint64_t level = 0; level < 40; ++level) nested.push_back(arrayOf(1, {PlistUid{nested.size() - 1}, PlistUid{nested.size() - 1}}));
    const std::uint64_t top = nested.size() - 1;
    // References to one object whose class is named in 16 KB: each copy of it holds the name.
    const std::string longName(16 << 10, 'N');
    auto named = [&](std::size_t references) {
        return archiveWithObjects({"$null", arrayOf(2, PlistArray(references, PlistUid{3})), kArrayClass,
                                   PlistDictionary{{"$class", PlistUid{4}}}, classOf(longName, {longName, "NSObject"})});
    };
    // Nodes cost what a value holds, not only their payload: `outer` references to an array of 2,000
    // references to one number; 5,000 unfold to ten million values, more than the bound holds.
    auto many = [](std::size_t outer) {
        return archiveWithObjects({"$null", arrayOf(2, PlistArray(outer, PlistUid{4})), kArrayClass, 7, arrayOf(2, PlistArray(2000, PlistUid{3}))});
    };
    const struct { const char* name; PlistValue archive; bool refused; } cases[] = {
        {"65,536 references to a megabyte twice", wide(65536), true},
        {"64 references to a megabyte twice", wide(64), false},
        {"forty levels each listing the next twice", archiveWithObjects(std::move(nested), top), true},
        {"65,536 references to an object of a long-named class", named(65536), true},
        {"64 references to an object of a long-named class", named(64), false},
        {"5,000 references to 2,000 references", many(5000), true},
        {"500 references to 2,000 references", many(500), false},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_EQ(!KeyedUnarchiver::unarchive(c.archive, &error), c.refused) << c.name;
        if (c.refused) {
            EXPECT_EQ(error.code, PropertyList::kNotAnArchive) << c.name;
            EXPECT_NE(error.description.find("asks for more than it may"), std::string::npos) << error.description;
        }
    }
}
