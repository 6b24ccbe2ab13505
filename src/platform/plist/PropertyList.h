#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/error/Error.h"
#include "platform/plist/PlistValue.h"

namespace platform {

enum class PlistFormat { Xml, Binary };

// Reading and writing property lists in the XML and the binary format.
class PropertyList {
public:
    static constexpr const char* kErrorDomain = "platform.plist";
    enum ErrorCode : std::int64_t {
        kTooLarge = 1,
        kUnknownFormat,
        kMalformed,
        kUnstorable,
        kReadFailed,
        kWriteFailed,
        kNotAnArchive,
    };

    // Parses bytes of either format, told apart by their content; the format found goes to `format`.
    static std::optional<PlistValue> parse(const std::uint8_t* data, std::size_t size, Error* error = nullptr,
                                           PlistFormat* format = nullptr);
    static std::optional<PlistValue> parse(const Bytes& data, Error* error = nullptr, PlistFormat* format = nullptr);

    // Fails for what a property list cannot hold: a null, a UID outside a keyed archive's table is fine,
    // but a string or key holding a NUL character or invalid UTF-8 is not, nor is nesting beyond the limit.
    static std::optional<Bytes> serialize(const PlistValue& value, PlistFormat format, Error* error = nullptr);

    static std::optional<PlistValue> readFile(const std::filesystem::path& path, Error* error = nullptr,
                                              PlistFormat* format = nullptr);
    // Replaces the file atomically, so the old file stays whole on any failure.
    static bool writeFile(const std::filesystem::path& path, const PlistValue& value, PlistFormat format,
                          Error* error = nullptr);
};

}  // namespace platform
