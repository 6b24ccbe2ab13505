#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"

namespace platform {

// A parsed XML document (libxml2 underneath), read under the rules of XMLSafety.
class XMLDocument {
public:
    ~XMLDocument();
    XMLDocument(const XMLDocument&) = delete;
    XMLDocument& operator=(const XMLDocument&) = delete;

    // Nothing, with the error set, for input that is too large, not well-formed or declares external entities.
    static std::unique_ptr<XMLDocument> parse(const std::uint8_t* data, std::size_t size, Error* error = nullptr);

    std::string rootElementName() const;
    // The text of the root element and all its descendants.
    std::string stringValue() const;
    // The document written out as UTF-8.
    std::string XMLString() const;

private:
    explicit XMLDocument(void* document) : m_document(document) {}
    void* m_document;
};

}  // namespace platform
