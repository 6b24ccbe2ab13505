#include "platform/plist/KeyedUnarchiver.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>

#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/PlistInputGuard.h"
#include "platform/plist/PropertyList.h"

namespace platform {

namespace {

// A reference: a UID in a binary archive; in an XML one, whoever wrote it, the dictionary holding only
// "CF$UID" and the index, as XML has no UID of its own.
std::optional<PlistUid> referenceOf(const PlistValue& value)
{
    if (auto uid = value.asUid())
        return uid;
    const PlistDictionary* entries = value.dictionary();
    if (entries == nullptr || entries->size() != 1)
        return std::nullopt;
    const auto it = entries->find("CF$UID");
    if (it == entries->end())
        return std::nullopt;
    const auto index = it->second.asInteger();
    if (!index || *index < 0 || *index > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return PlistUid{static_cast<std::uint64_t>(*index)};
}

// What a node of the graph costs once unfolded (a value slot, as a reader copying it out as a tree pays
// it), each payload byte counted besides.
constexpr std::uint64_t kNodeCost = sizeof(PlistValue);

// A plain value's cost: its node, its payload, and its elements'.
std::uint64_t plainCost(const PlistValue& value)
{
    std::uint64_t cost = kNodeCost;
    if (const std::string* text = value.string())
        cost += text->size();
    else if (const Bytes* bytes = value.bytes())
        cost += bytes->size();
    else if (const PlistArray* elements = value.array())
        for (const PlistValue& element : *elements)
            cost += plainCost(element);
    else if (const PlistDictionary* entries = value.dictionary())
        for (const auto& [key, entry] : *entries)
            cost += key.size() + plainCost(entry);
    return cost;
}

// Resolves each object of the table once and shares it among its references. What the graph comes to
// when every reference is counted as a copy (as a reader that walks it as a tree meets it) is counted
// too: an archive of a few kilobytes can refer to one large object millions of times, or nest objects
// that each refer twice to the one below, and such an archive is refused past a bound.
class ArchiveReader {
public:
    // As much as a parsed property list may expand to.
    static constexpr std::uint64_t kMaxUnfoldedCost = PlistInputGuard::kMaxExpandedBytes;

    explicit ArchiveReader(const PlistArray& objects)
        : objects_(objects), state_(objects.size(), kUnseen), resolved_(objects.size()), unfolded_(objects.size())
    {
    }

    // Adds the resolved value's unfolded cost to `unfolded`.
    std::optional<ArchivedValue> resolve(const PlistValue& reference, int depth, std::uint64_t& unfolded)
    {
        const auto uid = referenceOf(reference);
        if (!uid)
            return failed("a reference is not a UID");
        const auto index = uid->index;
        if (index >= objects_.size())
            return failed("reference " + std::to_string(index) + " lies outside the object table");
        if (index == 0)
            return charge(unfolded, kNodeCost) ? std::optional<ArchivedValue>(ArchivedValue()) : std::nullopt;
        if (state_[index] == kDone)
            return charge(unfolded, unfolded_[index]) ? std::optional<ArchivedValue>(resolved_[index]) : std::nullopt;
        if (state_[index] == kOnPath)
            return failed("object " + std::to_string(index) + " refers back to itself");
        if (depth > PlistInputGuard::kMaxDepth)
            return failed("the object graph nests too deeply");
        state_[index] = kOnPath;
        std::uint64_t cost = 0;
        auto value = decode(objects_[index], depth, cost);
        if (!value)
            return std::nullopt;
        state_[index] = kDone;
        resolved_[index] = *value;
        unfolded_[index] = cost;
        if (!charge(unfolded, cost))
            return std::nullopt;
        return value;
    }

    const std::string& why() const { return why_; }
    bool oversized() const { return oversized_; }

private:
    enum State : std::uint8_t { kUnseen, kOnPath, kDone };

    std::optional<ArchivedValue> failed(std::string why)
    {
        why_ = std::move(why);
        return std::nullopt;
    }

    bool charge(std::uint64_t& unfolded, std::uint64_t cost)
    {
        unfolded += std::min(cost, kMaxUnfoldedCost + 1);
        if (unfolded <= kMaxUnfoldedCost)
            return true;
        oversized_ = true;
        why_ = "its objects, counted as often as they are referred to, come to more than " +
               std::to_string(kMaxUnfoldedCost >> 20) + " MB";
        return false;
    }

    // What the reader makes once for the whole read, the class lists, counts against the bound too.
    bool chargeMade(std::uint64_t cost)
    {
        classesMade_ += std::min(cost, kMaxUnfoldedCost + 1);
        if (classesMade_ <= kMaxUnfoldedCost)
            return true;
        oversized_ = true;
        why_ = "its class lists come to more than " + std::to_string(kMaxUnfoldedCost >> 20) + " MB";
        return false;
    }

    std::optional<ArchivedValue> decode(const PlistValue& entry, int depth, std::uint64_t& cost)
    {
        switch (entry.kind()) {
        case PlistValue::Kind::Dictionary:
            break;
        case PlistValue::Kind::Uid:
        case PlistValue::Kind::Array:
        case PlistValue::Kind::Null:
            return failed("the object table holds an entry that is no object");
        default:
            if (!charge(cost, plainCost(entry)))
                return std::nullopt;
            return ArchivedValue(entry);
        }
        if (!charge(cost, kNodeCost))
            return std::nullopt;
        const ClassInfo* info = classOf(entry.get("$class"));
        if (info == nullptr)
            return std::nullopt;

        if (info->dictionary)
            return decodeDictionary(entry, info->mutableDictionary, depth, cost);
        if (info->array)
            return decodeArray(entry, info->mutableArray, depth, cost);
        if (info->date) {
            auto seconds = entry.get("NS.time").asReal();
            if (!seconds)
                return failed("a date has no time");
            return ArchivedValue(PlistValue(PlistDate{*seconds}));
        }
        if (info->string && entry.get("NS.string").string() != nullptr)
            return charge(cost, entry.get("NS.string").string()->size()) ? std::optional<ArchivedValue>(entry.get("NS.string"))
                                                                         : std::nullopt;
        if (info->data && entry.get("NS.data").bytes() != nullptr)
            return charge(cost, entry.get("NS.data").bytes()->size()) ? std::optional<ArchivedValue>(entry.get("NS.data"))
                                                                      : std::nullopt;

        // Each object holds its class name, so each copy of it is charged the name; the list of its
        // superclasses it shares with the other objects of its class.
        if (!charge(cost, info->name.size()))
            return std::nullopt;
        auto object = std::make_shared<ArchivedObject>();
        object->className = info->name;
        object->superclasses = info->superclasses;
        for (const auto& [key, field] : *entry.dictionary()) {
            if (key == "$class")
                continue;
            if (!charge(cost, key.size()))
                return std::nullopt;
            if (!referenceOf(field)) {
                if (!charge(cost, plainCost(field)))
                    return std::nullopt;
                object->fields.emplace_back(key, ArchivedValue(field));
                continue;
            }
            auto value = resolve(field, depth + 1, cost);
            if (!value)
                return std::nullopt;
            object->fields.emplace_back(key, std::move(*value));
        }
        return ArchivedValue(std::shared_ptr<const ArchivedObject>(std::move(object)));
    }

    // What a class description says, read once however many objects name it.
    struct ClassInfo {
        std::string name;
        ClassList superclasses;
        // The platform's classes in the chain the reader gives values of their own.
        bool dictionary = false;
        bool mutableDictionary = false;
        bool array = false;
        bool mutableArray = false;
        bool date = false;
        bool string = false;
        bool data = false;
    };

    // The description a reference leads to, read the first time; nothing, with the reason, when it is no
    // class description or what it makes would pass the bound.
    const ClassInfo* classOf(const PlistValue& reference)
    {
        const auto uid = referenceOf(reference);
        if (!uid || uid->index == 0 || uid->index >= objects_.size()) {
            why_ = "an object has no valid class reference";
            return nullptr;
        }
        if (const auto known = classes_.find(uid->index); known != classes_.end())
            return &known->second;
        const PlistValue& description = objects_[uid->index];
        const auto name = description.get("$classname").asString();
        if (!name || name->empty()) {
            why_ = "a class description has no class name";
            return nullptr;
        }
        // The list is made once and held for the whole read: it counts against the bound once.
        if (!chargeMade(kNodeCost + name->size()))
            return nullptr;
        std::vector<std::string> chain{*name};
        if (const PlistArray* classes = description.get("$classes").array()) {
            for (std::size_t i = 0; i < classes->size(); ++i) {
                const std::string* entry = (*classes)[i].string();
                if (entry == nullptr) {
                    why_ = "a class description lists a class that is not a name";
                    return nullptr;
                }
                if (i > 0 || *entry != *name) {
                    if (!chargeMade(kNodeCost + entry->size()))
                        return nullptr;
                    chain.push_back(*entry);
                }
            }
        }
        auto has = [&chain](const char* wanted) { return std::find(chain.begin(), chain.end(), wanted) != chain.end(); };
        ClassInfo info;
        info.dictionary = has("NSDictionary");
        info.mutableDictionary = has("NSMutableDictionary");
        info.array = has("NSArray");
        info.mutableArray = has("NSMutableArray");
        info.date = has("NSDate");
        info.string = has("NSString");
        info.data = has("NSData");
        info.name = std::move(chain.front());
        chain.erase(chain.begin());
        info.superclasses = ClassList(std::move(chain));
        return &classes_.emplace(uid->index, std::move(info)).first->second;
    }

    std::optional<std::vector<ArchivedValue>> resolveAll(const PlistValue& references, int depth, std::uint64_t& cost)
    {
        const PlistArray* uids = references.array();
        if (uids == nullptr) {
            failed("a collection has no element list");
            return std::nullopt;
        }
        std::vector<ArchivedValue> values;
        values.reserve(uids->size());
        for (const PlistValue& uid : *uids) {
            auto value = resolve(uid, depth + 1, cost);
            if (!value)
                return std::nullopt;
            values.push_back(std::move(*value));
        }
        return values;
    }

    std::optional<ArchivedValue> decodeArray(const PlistValue& entry, bool mutableClass, int depth, std::uint64_t& cost)
    {
        auto elements = resolveAll(entry.get("NS.objects"), depth, cost);
        if (!elements)
            return std::nullopt;
        return ArchivedValue::array(std::move(*elements), mutableClass);
    }

    std::optional<ArchivedValue> decodeDictionary(const PlistValue& entry, bool mutableClass, int depth, std::uint64_t& cost)
    {
        auto keys = resolveAll(entry.get("NS.keys"), depth, cost);
        if (!keys)
            return std::nullopt;
        auto values = resolveAll(entry.get("NS.objects"), depth, cost);
        if (!values)
            return std::nullopt;
        if (keys->size() != values->size())
            return failed("a dictionary has unequal numbers of keys and values");
        ArchivedEntries entries;
        entries.reserve(keys->size());
        for (std::size_t i = 0; i < keys->size(); ++i) {
            const PlistValue* key = (*keys)[i].plain();
            if (key == nullptr || key->string() == nullptr)
                return failed("a dictionary key is not a string");
            entries.emplace_back(*key->string(), std::move((*values)[i]));
        }
        return ArchivedValue::dictionary(std::move(entries), mutableClass);
    }

    const PlistArray& objects_;
    std::vector<std::uint8_t> state_;
    std::vector<ArchivedValue> resolved_;
    std::vector<std::uint64_t> unfolded_;
    std::unordered_map<std::uint64_t, ClassInfo> classes_;
    // What the class descriptions read so far made, each once.
    std::uint64_t classesMade_ = 0;
    std::string why_;
    bool oversized_ = false;
};

std::optional<ArchivedValue> notAnArchive(Error* error, std::string why)
{
    if (error != nullptr)
        *error = Error::make(PropertyList::kErrorDomain, PropertyList::kNotAnArchive, std::move(why));
    return std::nullopt;
}

}  // namespace

std::optional<ArchivedValue> KeyedUnarchiver::unarchive(const PlistValue& archive, Error* error)
{
    if (archive.get("$archiver").asString() != KeyedArchiver::kArchiverName)
        return notAnArchive(error, "the property list is not a keyed archive");
    // Another version lays its objects out in ways this reader does not know.
    if (archive.get("$version").asInteger() != KeyedArchiver::kVersion)
        return notAnArchive(error, "the keyed archive's version is not " + std::to_string(KeyedArchiver::kVersion));
    const PlistArray* objects = archive.get("$objects").array();
    if (objects == nullptr || objects->empty() || objects->front().asString() != KeyedArchiver::kNullMarker)
        return notAnArchive(error, "the keyed archive has no valid object table");
    const PlistValue& root = archive.get("$top").get(KeyedArchiver::kRootKey);
    if (!referenceOf(root))
        return notAnArchive(error, "the keyed archive has no root object");
    ArchiveReader reader(*objects);
    std::uint64_t unfolded = 0;
    auto value = reader.resolve(root, 0, unfolded);
    if (!value && reader.oversized())
        return notAnArchive(error, "the keyed archive asks for more than it may: " + reader.why());
    if (!value)
        return notAnArchive(error, "the keyed archive is corrupt: " + reader.why());
    return value;
}

std::optional<ArchivedValue> KeyedUnarchiver::unarchive(const Bytes& data, Error* error)
{
    auto archive = PropertyList::parse(data, error);
    if (!archive)
        return std::nullopt;
    return unarchive(*archive, error);
}

}  // namespace platform
