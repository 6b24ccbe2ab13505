#include "platform/plist/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/files/LocalFileManager.h"
#include "platform/plist/BinaryPlistReader.h"
#include "platform/plist/PlistInputGuard.h"
#include "platform/text/Utf8.h"

namespace platform {

namespace {

struct NodeFree {
    void operator()(void* node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeFree>;

Error plistError(PropertyList::ErrorCode code, std::string description)
{
    return Error::make(PropertyList::kErrorDomain, code, std::move(description));
}

template <typename T>
std::optional<T> fail(Error* error, PropertyList::ErrorCode code, std::string description)
{
    if (error != nullptr)
        *error = plistError(code, std::move(description));
    return std::nullopt;
}

std::string checkText(const std::string& text, const char* what)
{
    if (text.find('\0') != std::string::npos)
        return std::string(what) + " holds a NUL character, which a property list cannot store";
    if (!Utf8::isValid(text))
        return std::string(what) + " is not valid UTF-8";
    return {};
}

// Builds the library's tree; `why` receives the reason on failure.
Node toNode(const PlistValue& value, int depth, std::string& why)
{
    if (depth > PlistInputGuard::kMaxDepth) {
        why = "value nests too deeply";
        return nullptr;
    }
    switch (value.kind()) {
    case PlistValue::Kind::Null:
        why = "a property list cannot store a null value";
        return nullptr;
    case PlistValue::Kind::Bool:
        return Node(plist_new_bool(*value.asBool() ? 1 : 0));
    case PlistValue::Kind::Integer:
        return Node(plist_new_uint(static_cast<std::uint64_t>(*value.asInteger())));
    case PlistValue::Kind::Real:
        return Node(plist_new_real(*value.asReal()));
    case PlistValue::Kind::String:
        why = checkText(*value.string(), "a string");
        return why.empty() ? Node(plist_new_string(value.string()->c_str())) : nullptr;
    case PlistValue::Kind::Bytes: {
        const Bytes& bytes = *value.bytes();
        return Node(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    case PlistValue::Kind::Date: {
        // Whole seconds rounded down and a positive fraction, so dates before the reference keep their value.
        const double seconds = value.asDate()->sinceReference;
        const double whole = std::floor(seconds);
        if (!(whole >= INT32_MIN && whole <= INT32_MAX)) {
            why = "a date lies outside the storable range";
            return nullptr;
        }
        const auto micro = static_cast<std::int32_t>(std::lround((seconds - whole) * 1e6));
        return Node(plist_new_date(static_cast<std::int32_t>(whole), std::min(micro, 999999)));
    }
    case PlistValue::Kind::Uid:
        return Node(plist_new_uid(value.asUid()->index));
    case PlistValue::Kind::Array: {
        Node array(plist_new_array());
        for (const PlistValue& element : *value.array()) {
            Node child = toNode(element, depth + 1, why);
            if (!child)
                return nullptr;
            plist_array_append_item(array.get(), child.release());
        }
        return array;
    }
    case PlistValue::Kind::Dictionary: {
        Node dictionary(plist_new_dict());
        for (const auto& [key, element] : *value.dictionary()) {
            if (why = checkText(key, "a dictionary key"); !why.empty())
                return nullptr;
            Node child = toNode(element, depth + 1, why);
            if (!child)
                return nullptr;
            plist_dict_set_item(dictionary.get(), key.c_str(), child.release());
        }
        return dictionary;
    }
    }
    why = "unknown value kind";
    return nullptr;
}

std::optional<PlistValue> fromNode(plist_t node, int depth)
{
    if (node == nullptr || depth > PlistInputGuard::kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return PlistValue(flag != 0);
    }
    case PLIST_UINT: {
        std::uint64_t number = 0;
        plist_get_uint_val(node, &number);
        return PlistValue(static_cast<std::int64_t>(number));
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(node, &number);
        return PlistValue(number);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return PlistValue(text == nullptr ? std::string() : std::string(text, length));
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
        return PlistValue(bytes == nullptr ? Bytes() : Bytes(bytes, bytes + length));
    }
    case PLIST_DATE: {
        // The library splits a date into seconds truncated towards zero and a fraction without sign.
        std::int32_t seconds = 0;
        std::int32_t micro = 0;
        plist_get_date_val(node, &seconds, &micro);
        const double fraction = std::abs(micro) / 1e6;
        return PlistValue(PlistDate{seconds < 0 ? seconds - fraction : seconds + fraction});
    }
    case PLIST_UID: {
        std::uint64_t index = 0;
        plist_get_uid_val(node, &index);
        return PlistValue(PlistUid{index});
    }
    case PLIST_ARRAY: {
        // Walked in order: a lookup by position may walk the list from its front each time.
        PlistArray elements;
        elements.reserve(plist_array_get_size(node));
        plist_array_iter iterator = nullptr;
        plist_array_new_iter(node, &iterator);
        if (iterator == nullptr)
            return std::nullopt;
        bool sound = true;
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, iterator, &item);
            if (item == nullptr)
                break;
            auto element = fromNode(item, depth + 1);
            if (!element) {
                sound = false;
                break;
            }
            elements.push_back(std::move(*element));
        }
        std::free(iterator);
        if (!sound)
            return std::nullopt;
        return PlistValue(std::move(elements));
    }
    case PLIST_DICT: {
        PlistDictionary entries;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        bool sound = iterator != nullptr;
        while (sound) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iterator, &key, &item);
            if (item == nullptr) {
                std::free(key);
                break;
            }
            auto element = fromNode(item, depth + 1);
            if (key == nullptr || !element)
                sound = false;
            else
                entries[key] = std::move(*element);
            std::free(key);
        }
        std::free(iterator);
        if (!sound)
            return std::nullopt;
        return PlistValue(std::move(entries));
    }
    default:
        return std::nullopt;
    }
}

bool startsWithXml(const std::uint8_t* data, std::size_t size)
{
    std::size_t i = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        i = 3;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return i < size && data[i] == '<';
}

}  // namespace

std::optional<PlistValue> PropertyList::parse(const std::uint8_t* data, std::size_t size, Error* error,
                                              PlistFormat* format)
{
    if (size > PlistInputGuard::kMaxInputBytes)
        return fail<PlistValue>(error, kTooLarge, "property list is too large");
    const bool binary = size >= 8 && std::memcmp(data, "bplist", 6) == 0;
    if (!binary && !startsWithXml(data, size))
        return fail<PlistValue>(error, kUnknownFormat, "data is neither a binary nor an XML property list");
    const std::string why = binary ? PlistInputGuard::checkBinary(data, size) : PlistInputGuard::checkXml(data, size);
    if (!why.empty())
        return fail<PlistValue>(error, kMalformed, why);

    // The parser does not skip a byte-order mark itself.
    if (!binary && size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        data += 3;
        size -= 3;
    }
    if (binary) {
        // Read by our own reader: it finds each element in one step and builds no second tree.
        std::string unread;
        auto value = BinaryPlistReader(data, size).read(unread);
        if (!value)
            return fail<PlistValue>(error, kMalformed, unread);
        if (format != nullptr)
            *format = PlistFormat::Binary;
        return value;
    }
    plist_t raw = nullptr;
    plist_from_xml(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &raw);
    Node root(raw);
    if (!root)
        return fail<PlistValue>(error, kMalformed, "XML property list is corrupt");
    auto value = fromNode(root.get(), 0);
    if (!value)
        return fail<PlistValue>(error, kMalformed, "property list holds a value that cannot be read");
    if (format != nullptr)
        *format = PlistFormat::Xml;
    return value;
}

std::optional<PlistValue> PropertyList::parse(const Bytes& data, Error* error, PlistFormat* format)
{
    return parse(data.data(), data.size(), error, format);
}

std::optional<Bytes> PropertyList::serialize(const PlistValue& value, PlistFormat format, Error* error)
{
    std::string why;
    Node root = toNode(value, 0, why);
    if (!root)
        return fail<Bytes>(error, kUnstorable, why);
    char* out = nullptr;
    std::uint32_t length = 0;
    if (format == PlistFormat::Binary)
        plist_to_bin(root.get(), &out, &length);
    else
        plist_to_xml(root.get(), &out, &length);
    if (out == nullptr || length == 0) {
        std::free(out);
        return fail<Bytes>(error, kUnstorable, "the property list could not be encoded");
    }
    Bytes bytes(reinterpret_cast<const std::uint8_t*>(out), reinterpret_cast<const std::uint8_t*>(out) + length);
    if (format == PlistFormat::Binary)
        plist_to_bin_free(out);
    else
        plist_to_xml_free(out);
    return bytes;
}

std::optional<PlistValue> PropertyList::readFile(const std::filesystem::path& path, Error* error, PlistFormat* format)
{
    LocalFileManager files;
    Error cause;
    auto failedWith = [&](ErrorCode code, std::string description) -> std::optional<PlistValue> {
        if (error != nullptr)
            *error = Error::make(kErrorDomain, code, std::move(description), {{"path", path.string()}},
                                 std::make_shared<const Error>(cause));
        return std::nullopt;
    };
    const auto size = files.fileSize(path.string(), &cause);
    if (!size)
        return failedWith(kReadFailed, "cannot read " + path.string());
    if (*size > PlistInputGuard::kMaxInputBytes)
        return failedWith(kTooLarge, path.string() + " is too large for a property list");
    auto bytes = files.readFile(path.string(), &cause);
    if (!bytes)
        return failedWith(kReadFailed, "cannot read " + path.string());
    auto value = parse(*bytes, &cause, format);
    if (!value && error != nullptr) {
        *error = cause;
        error->userInfo["path"] = path.string();
    }
    return value;
}

bool PropertyList::writeFile(const std::filesystem::path& path, const PlistValue& value, PlistFormat format,
                             Error* error)
{
    auto bytes = serialize(value, format, error);
    if (!bytes)
        return false;
    Error cause;
    if (LocalFileManager().writeAtomically(path.string(), *bytes, &cause))
        return true;
    if (error != nullptr)
        *error = Error::make(kErrorDomain, kWriteFailed, "cannot write " + path.string(), {{"path", path.string()}},
                             std::make_shared<const Error>(cause));
    return false;
}

}  // namespace platform
