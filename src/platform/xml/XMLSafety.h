#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/error/Error.h"

namespace platform {

// The rules every XML read from outside follows: no network, no DTD loading, no entity substitution, the
// parser's own nesting limit, a bounded input, and documents that declare external entities refused.
class XMLSafety {
public:
    static constexpr const char* kErrorDomain = "org.pexo.rigmora.xml";
    enum ErrorCode : std::int64_t { kTooLarge = 1, kExternalEntity = 2, kMalformed = 3 };
    static constexpr std::size_t kMaxInputBytes = 32u << 20;

    // The parser options that keep the rules above.
    static int parserOptions();
    // An error for input beyond the bound, else nothing.
    static std::optional<Error> checkSize(std::size_t size);
    // An error when the document (a libxml2 document pointer) declares an external entity, else nothing.
    static std::optional<Error> checkEntities(void* document);
    static Error malformed(const std::string& reason);
};

}  // namespace platform
