#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// Lenient access to the server's JSON documents. The server adds fields over time and its documents also
// come back from disk, so nothing here throws: a missing key and a value of the wrong kind both read as
// missing, and elements of a list that are not objects are left out.
class ServerJSON {
public:
    // The document's root object; nothing when the text is not JSON or its root is not an object.
    static std::optional<nlohmann::json> objectFromData(std::string_view text);

    // The string under `key`, or "" when the key is missing or holds something other than a string.
    static std::string stringValue(const nlohmann::json& dic, const char* key);

    // The integer under `key`: 0 when missing or not a number; fractions are cut and values out of range
    // give the nearest 64-bit value.
    static int64_t integerValue(const nlohmann::json& dic, const char* key);
    static int64_t integerOf(const nlohmann::json& value);

    // The object elements of the array under `key`, in order; other elements are skipped.
    static std::vector<const nlohmann::json*> objectElements(const nlohmann::json& dic, const char* key);

    // The array under `key`, or nullptr when missing or not an array.
    static const nlohmann::json* arrayValue(const nlohmann::json& dic, const char* key);

    // What a key of the documents' vocabulary holds. A document whose keys are read leniently can still be
    // told apart from one that holds a known key with something else (null included): the second is not
    // the document the server means to publish.
    enum class Kind { String, Number, NumberList, ObjectList };
    // True when `key` is present and holds something other than `kind`; a missing key is never wrong.
    static bool holdsWrongKind(const nlohmann::json& dic, const char* key, Kind kind);

    // Hexadecimal text read the way a number scanner reads it: leading white space and an optional 0x or
    // 0X are skipped, digits run up to the first non-digit; a value too wide for `bits` gives all bits set.
    // A text without any hex digit reads as 0.
    static uint64_t scanHex(std::string_view text, unsigned bits);

    // The value laid out least significant byte first.
    template <size_t N>
    static std::array<uint8_t, N> littleEndianBytes(uint64_t value)
    {
        std::array<uint8_t, N> bytes{};
        for (size_t i = 0; i < N; ++i)
            bytes[i] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    }

    // A model identity from its hex text: the two bytes inside each 16-bit half of the value swapped.
    static int32_t modelIdFromHexString(std::string_view text);
};
