#include "platform/plist/BinaryPlistReader.h"

#include <bit>
#include <cstring>

#include "platform/plist/PlistInputGuard.h"
#include "platform/text/Utf8.h"

namespace platform {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

}  // namespace

std::optional<PlistValue> BinaryPlistReader::read(std::string& why)
{
    steps_ = 0;
    if (why = layout_.readTrailer(); !why.empty())
        return std::nullopt;
    return readObject(layout_.top(), 0, why);
}

std::string BinaryPlistReader::textOf(const BinaryPlistLayout::Object& object)
{
    const std::uint8_t* bytes = layout_.bytes(object);
    if (object.type == 0x5) {
        steps_ += object.payload;
        return std::string(reinterpret_cast<const char*>(bytes), object.payload);
    }
    // UTF-16, big-endian; a lone surrogate becomes the replacement character.
    const std::uint64_t units = object.payload / 2;
    steps_ += units;
    std::string text;
    text.reserve(units * 3);
    for (std::uint64_t i = 0; i < units; ++i) {
        std::uint32_t unit = static_cast<std::uint32_t>(BinaryPlistLayout::readBigEndian(bytes + 2 * i, 2));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
            const auto low = static_cast<std::uint32_t>(BinaryPlistLayout::readBigEndian(bytes + 2 * i + 2, 2));
            if (low >= 0xDC00 && low < 0xE000) {
                Utf8::append(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000)
            unit = kReplacement;
        Utf8::append(text, unit);
    }
    return text;
}

std::optional<std::string> BinaryPlistReader::readText(std::uint64_t index, std::string& why)
{
    ++steps_;
    BinaryPlistLayout::Object object;
    if (index >= layout_.count()) {
        why = "binary property list refers to an object out of range";
        return std::nullopt;
    }
    if (why = layout_.object(index, object); !why.empty())
        return std::nullopt;
    if (object.type != 0x5 && object.type != 0x6) {
        why = "binary property list has a dictionary key that is not a plain string";
        return std::nullopt;
    }
    return textOf(object);
}

std::optional<PlistValue> BinaryPlistReader::readObject(std::uint64_t index, int depth, std::string& why)
{
    ++steps_;
    if (index >= layout_.count()) {
        why = "binary property list refers to an object out of range";
        return std::nullopt;
    }
    if (depth > PlistInputGuard::kMaxDepth) {
        why = "property list nests too deeply";
        return std::nullopt;
    }
    BinaryPlistLayout::Object object;
    if (why = layout_.object(index, object); !why.empty())
        return std::nullopt;
    const std::uint8_t* bytes = layout_.bytes(object);
    switch (object.type) {
    case 0x0:
        if (object.marker == 0x08 || object.marker == 0x09)
            return PlistValue(object.marker == 0x09);
        break;
    case 0x1: {
        // Widths below eight bytes are unsigned; sixteen bytes carry an unsigned value beyond the signed
        // range in their lower half.
        const std::uint64_t value = object.payload == 16 ? BinaryPlistLayout::readBigEndian(bytes + 8, 8)
                                                         : BinaryPlistLayout::readBigEndian(bytes, object.payload);
        return PlistValue(static_cast<std::int64_t>(value));
    }
    case 0x2:
    case 0x3:
        if (object.payload == 4 && object.type == 0x2)
            return PlistValue(static_cast<double>(
                std::bit_cast<float>(static_cast<std::uint32_t>(BinaryPlistLayout::readBigEndian(bytes, 4)))));
        if (object.payload == 8) {
            const double value = std::bit_cast<double>(BinaryPlistLayout::readBigEndian(bytes, 8));
            return object.type == 0x2 ? PlistValue(value) : PlistValue(PlistDate{value});
        }
        break;
    case 0x4:
        steps_ += object.payload;
        return PlistValue(Bytes(bytes, bytes + object.payload));
    case 0x5:
    case 0x6:
        return PlistValue(textOf(object));
    case 0x8:
        return PlistValue(PlistUid{BinaryPlistLayout::readBigEndian(bytes, object.payload)});
    case 0xA:
    case 0xC: {
        PlistArray elements;
        elements.reserve(object.refCount);
        for (std::uint64_t i = 0; i < object.refCount; ++i) {
            auto element = readObject(layout_.ref(object, i), depth + 1, why);
            if (!element)
                return std::nullopt;
            elements.push_back(std::move(*element));
        }
        return PlistValue(std::move(elements));
    }
    case 0xD: {
        PlistDictionary entries;
        const std::uint64_t count = object.refCount / 2;
        for (std::uint64_t i = 0; i < count; ++i) {
            auto key = readText(layout_.ref(object, i), why);
            if (!key)
                return std::nullopt;
            auto element = readObject(layout_.ref(object, count + i), depth + 1, why);
            if (!element)
                return std::nullopt;
            // A key given twice keeps its last value.
            entries.insert_or_assign(std::move(*key), std::move(*element));
        }
        return PlistValue(std::move(entries));
    }
    default:
        break;
    }
    why = "property list holds a value that cannot be read";
    return std::nullopt;
}

}  // namespace platform
