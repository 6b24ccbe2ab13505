#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/plist/ClassList.h"
#include "platform/plist/PlistValue.h"

namespace platform {

struct ArchivedObject;
class ArchivedValue;
using ArchivedEntries = std::vector<std::pair<std::string, ArchivedValue>>;

// A value in a keyed archive's object graph: nil, a plain value (number, boolean, string, data, date, or a
// plain array or dictionary), an archived object of some class, or an array or dictionary whose elements may
// themselves be objects. Objects are shared: the same object referenced twice is archived once. A value
// never changes once made, so its copies share what it holds: a string or array an archive refers to many
// times is held once, however often it is referred to.
class ArchivedValue {
public:
    enum class Kind { Nil, Plain, Object, Array, Dictionary };

    ArchivedValue() = default;
    // A null plain value is nil.
    ArchivedValue(PlistValue value);
    ArchivedValue(std::shared_ptr<const ArchivedObject> object);
    ArchivedValue(std::shared_ptr<ArchivedObject> object)
        : ArchivedValue(std::shared_ptr<const ArchivedObject>(std::move(object)))
    {
    }

    // Containers archive as the mutable classes unless asked otherwise: a reader that keeps a decoded
    // container in a mutable property may change it.
    static ArchivedValue array(std::vector<ArchivedValue> elements, bool mutableClass = true);
    static ArchivedValue dictionary(ArchivedEntries entries, bool mutableClass = true);

    Kind kind() const;
    bool isNil() const { return kind() == Kind::Nil; }
    bool isMutableContainer() const { return mutableClass_; }

    const PlistValue* plain() const;
    const std::shared_ptr<const ArchivedObject>* object() const;
    const std::vector<ArchivedValue>* array() const;
    const ArchivedEntries* dictionary() const;

    // The dictionary entry under a key, or nil.
    const ArchivedValue& get(const std::string& key) const;

    // The whole value as a plain property-list value; missing when an archived object lies inside.
    std::optional<PlistValue> toPlain() const;

private:
    struct ArrayBox {
        std::vector<ArchivedValue> elements;
    };
    struct DictionaryBox {
        ArchivedEntries entries;
    };
    std::variant<std::monostate, std::shared_ptr<const PlistValue>, std::shared_ptr<const ArchivedObject>,
                 std::shared_ptr<const ArrayBox>, std::shared_ptr<const DictionaryBox>>
        storage_;
    bool mutableClass_ = false;
};

// An object of a class that archives its fields under keys.
struct ArchivedObject {
    std::string className;
    // The rest of the class chain after `className`, ending with the root class; shared by the objects of
    // one class an archive holds.
    ClassList superclasses;
    // In the order written.
    ArchivedEntries fields;

    // The field under a key, or nil.
    const ArchivedValue& field(const std::string& key) const;
    // Replaces the field under a key, or adds it at the end.
    void set(const std::string& key, ArchivedValue value);
};

}  // namespace platform
