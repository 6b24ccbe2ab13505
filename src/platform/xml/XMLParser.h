#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"

namespace platform {

class XMLParser;

// What an event-driven XML read reports, in document order.
class XMLParserDelegate {
public:
    virtual ~XMLParserDelegate() = default;
    virtual void didStartElement(XMLParser&, const std::string& /*name*/, const std::map<std::string, std::string>& /*attributes*/) {}
    virtual void didEndElement(XMLParser&, const std::string& /*name*/) {}
    virtual void foundCharacters(XMLParser&, const std::string& /*text*/) {}
};

// An XML reader over bytes it holds, started by parse() (libxml2 underneath, under the rules of XMLSafety).
class XMLParser {
public:
    explicit XMLParser(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}

    XMLParserDelegate* delegate = nullptr;

    // Reads the whole document once; false, with parserError() set, when it stops early.
    bool parse();
    std::optional<Error> parserError() const { return m_error; }
    const std::vector<std::uint8_t>& data() const { return m_data; }

private:
    std::vector<std::uint8_t> m_data;
    std::optional<Error> m_error;
};

}  // namespace platform
