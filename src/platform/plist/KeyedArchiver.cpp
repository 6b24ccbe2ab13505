#include "platform/plist/KeyedArchiver.h"

#include <map>

#include "platform/plist/PlistInputGuard.h"
#include "platform/plist/PropertyList.h"

namespace platform {

namespace {

std::vector<std::string> chainOf(const char* mostDerived, const char* base)
{
    std::vector<std::string> chain{mostDerived};
    if (base != nullptr)
        chain.emplace_back(base);
    chain.emplace_back("NSObject");
    return chain;
}

class ArchiveWriter {
public:
    std::optional<PlistUid> encode(const ArchivedValue& value, int depth)
    {
        if (depth > PlistInputGuard::kMaxDepth)
            return failed("the object graph nests too deeply");
        switch (value.kind()) {
        case ArchivedValue::Kind::Nil:
            return PlistUid{0};
        case ArchivedValue::Kind::Plain:
            return encodePlain(*value.plain(), depth);
        case ArchivedValue::Kind::Object:
            return encodeObject(**value.object(), depth);
        case ArchivedValue::Kind::Array:
            return encodeArray(*value.array(), value.isMutableContainer(), depth);
        case ArchivedValue::Kind::Dictionary:
            return encodeDictionary(*value.dictionary(), value.isMutableContainer(), depth);
        }
        return failed("unknown value kind");
    }

    PlistArray takeObjects() { return std::move(objects_); }
    const std::string& why() const { return why_; }

private:
    std::optional<PlistUid> failed(std::string why)
    {
        why_ = std::move(why);
        return std::nullopt;
    }

    std::size_t reserve()
    {
        objects_.emplace_back();
        return objects_.size() - 1;
    }

    PlistUid add(PlistValue value)
    {
        objects_.push_back(std::move(value));
        return PlistUid{objects_.size() - 1};
    }

    PlistUid classUid(const std::vector<std::string>& chain)
    {
        auto found = classes_.find(chain);
        if (found != classes_.end())
            return found->second;
        PlistArray names(chain.begin(), chain.end());
        PlistDictionary description{{"$classname", chain.front()}, {"$classes", std::move(names)}};
        PlistUid uid = add(std::move(description));
        classes_.emplace(chain, uid);
        return uid;
    }

    std::optional<PlistUid> encodePlain(const PlistValue& value, int depth)
    {
        switch (value.kind()) {
        case PlistValue::Kind::Null:
            return PlistUid{0};
        case PlistValue::Kind::Uid:
            return failed("a UID cannot be archived as a value");
        case PlistValue::Kind::Date: {
            PlistDictionary date{{"NS.time", value.asDate()->sinceReference}, {"$class", classUid(chainOf("NSDate", nullptr))}};
            return add(std::move(date));
        }
        case PlistValue::Kind::Array: {
            std::vector<ArchivedValue> elements(value.array()->begin(), value.array()->end());
            return encodeArray(elements, true, depth);
        }
        case PlistValue::Kind::Dictionary: {
            ArchivedEntries entries(value.dictionary()->begin(), value.dictionary()->end());
            return encodeDictionary(entries, true, depth);
        }
        default:
            return add(value);
        }
    }

    std::optional<PlistUid> encodeObject(const ArchivedObject& object, int depth)
    {
        auto found = objectUids_.find(&object);
        if (found != objectUids_.end())
            return found->second;
        // The slot is taken before the fields are encoded, so the object precedes what it refers to and a
        // reference back to it finds it.
        const std::size_t slot = reserve();
        objectUids_.emplace(&object, PlistUid{slot});
        PlistDictionary encoded;
        for (const auto& [key, field] : object.fields) {
            if (key.starts_with('$'))
                return failed("field name " + key + " is reserved by the archive format");
            const PlistValue* plain = field.plain();
            const bool inlineScalar = plain != nullptr && (plain->kind() == PlistValue::Kind::Bool ||
                                                           plain->kind() == PlistValue::Kind::Integer ||
                                                           plain->kind() == PlistValue::Kind::Real);
            if (inlineScalar) {
                encoded[key] = *plain;
                continue;
            }
            auto uid = encode(field, depth + 1);
            if (!uid)
                return std::nullopt;
            encoded[key] = *uid;
        }
        if (object.className.empty())
            return failed("an archived object needs a class name");
        std::vector<std::string> chain{object.className};
        chain.insert(chain.end(), object.superclasses.begin(), object.superclasses.end());
        encoded["$class"] = classUid(chain);
        objects_[slot] = std::move(encoded);
        return PlistUid{slot};
    }

    std::optional<PlistUid> encodeArray(const std::vector<ArchivedValue>& elements, bool mutableClass, int depth)
    {
        const std::size_t slot = reserve();
        PlistArray uids;
        for (const ArchivedValue& element : elements) {
            auto uid = encode(element, depth + 1);
            if (!uid)
                return std::nullopt;
            uids.emplace_back(*uid);
        }
        PlistDictionary encoded{{"NS.objects", std::move(uids)}};
        encoded["$class"] = classUid(mutableClass ? chainOf("NSMutableArray", "NSArray") : chainOf("NSArray", nullptr));
        objects_[slot] = std::move(encoded);
        return PlistUid{slot};
    }

    std::optional<PlistUid> encodeDictionary(const ArchivedEntries& entries, bool mutableClass, int depth)
    {
        const std::size_t slot = reserve();
        PlistArray keys;
        PlistArray values;
        for (const auto& [key, element] : entries) {
            keys.emplace_back(add(key));
            auto uid = encode(element, depth + 1);
            if (!uid)
                return std::nullopt;
            values.emplace_back(*uid);
        }
        PlistDictionary encoded{{"NS.keys", std::move(keys)}, {"NS.objects", std::move(values)}};
        encoded["$class"] = classUid(mutableClass ? chainOf("NSMutableDictionary", "NSDictionary")
                                                  : chainOf("NSDictionary", nullptr));
        objects_[slot] = std::move(encoded);
        return PlistUid{slot};
    }

    PlistArray objects_{PlistValue(KeyedArchiver::kNullMarker)};
    std::map<const ArchivedObject*, PlistUid> objectUids_;
    std::map<std::vector<std::string>, PlistUid> classes_;
    std::string why_;
};

}  // namespace

std::optional<PlistValue> KeyedArchiver::archiveTree(const ArchivedValue& root, Error* error)
{
    ArchiveWriter writer;
    auto rootUid = writer.encode(root, 0);
    if (!rootUid) {
        if (error != nullptr)
            *error = Error::make(PropertyList::kErrorDomain, PropertyList::kUnstorable, writer.why());
        return std::nullopt;
    }
    PlistDictionary archive{
        {"$archiver", kArchiverName},
        {"$version", kVersion},
        {"$objects", writer.takeObjects()},
        {"$top", PlistDictionary{{kRootKey, *rootUid}}},
    };
    return PlistValue(std::move(archive));
}

std::optional<Bytes> KeyedArchiver::archive(const ArchivedValue& root, Error* error)
{
    auto tree = archiveTree(root, error);
    if (!tree)
        return std::nullopt;
    return PropertyList::serialize(*tree, PlistFormat::Binary, error);
}

}  // namespace platform
