#include "platform/xml/XMLDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "platform/xml/XMLSafety.h"

namespace platform {

XMLDocument::~XMLDocument()
{
    xmlFreeDoc(static_cast<xmlDocPtr>(m_document));
}

std::unique_ptr<XMLDocument> XMLDocument::parse(const std::uint8_t* data, std::size_t size, Error* error)
{
    if (auto tooLarge = XMLSafety::checkSize(size)) {
        if (error) *error = *tooLarge;
        return nullptr;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        if (error) *error = XMLSafety::malformed("The XML parser could not start");
        return nullptr;
    }
    xmlDocPtr document = xmlCtxtReadMemory(context, reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr,
                                           nullptr, XMLSafety::parserOptions());
    const xmlError* last = xmlCtxtGetLastError(context);
    std::optional<Error> failure;
    if (!document || !context->wellFormed)
        failure = XMLSafety::malformed(last && last->message ? last->message : "");
    else
        failure = XMLSafety::checkEntities(document);
    xmlFreeParserCtxt(context);
    if (failure) {
        xmlFreeDoc(document);
        if (error) *error = *failure;
        return nullptr;
    }
    return std::unique_ptr<XMLDocument>(new XMLDocument(document));
}

std::string XMLDocument::rootElementName() const
{
    const xmlNode* root = xmlDocGetRootElement(static_cast<xmlDocPtr>(m_document));
    return root ? reinterpret_cast<const char*>(root->name) : "";
}

std::string XMLDocument::stringValue() const
{
    xmlNode* root = xmlDocGetRootElement(static_cast<xmlDocPtr>(m_document));
    xmlChar* text = root ? xmlNodeGetContent(root) : nullptr;
    std::string value = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return value;
}

std::string XMLDocument::XMLString() const
{
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(static_cast<xmlDocPtr>(m_document), &text, &size, "UTF-8");
    std::string value = text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size)) : "";
    xmlFree(text);
    return value;
}

}  // namespace platform
