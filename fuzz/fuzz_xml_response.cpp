// Feeds arbitrary bodies to both XML response serializers: the document reader and the event reader,
// which is run to its end.
#include <cstddef>
#include <cstdint>

#include "httpclient/serialization/XMLDocumentResponseSerializer.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "platform/xml/XMLDocument.h"
#include "platform/xml/XMLParser.h"

namespace {

struct Counter : platform::XMLParserDelegate {
    std::size_t events = 0;
    void didStartElement(platform::XMLParser&, const std::string&, const std::map<std::string, std::string>&) override { ++events; }
    void foundCharacters(platform::XMLParser&, const std::string&) override { ++events; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::URLResponse response;
    response.url = "http://fuzz/";
    response.statusCode = 200;
    response.setContentType("application/xml");
    const Bytes body(data, data + size);
    std::any document = XMLDocumentResponseSerializer::serializer()->responseObjectForResponse(&response, body, nullptr);
    if (document.has_value())
        (void)std::any_cast<std::shared_ptr<platform::XMLDocument>>(document)->XMLString();
    std::any parser = XMLParserResponseSerializer::serializer()->responseObjectForResponse(&response, body, nullptr);
    Counter counter;
    auto reader = std::any_cast<std::shared_ptr<platform::XMLParser>>(parser);
    reader->delegate = &counter;
    (void)reader->parse();
    return 0;
}
