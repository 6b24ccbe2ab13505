#include "platform/xml/XMLParser.h"

#include <libxml/xmlreader.h>

#include "platform/xml/XMLSafety.h"

namespace platform {
namespace {

std::string text(const xmlChar* value)
{
    return value ? reinterpret_cast<const char*>(value) : "";
}

void keepFirstError(void* argument, xmlErrorPtr error)
{
    auto* message = static_cast<std::string*>(argument);
    if (message->empty() && error && error->message) *message = error->message;
}

}  // namespace

bool XMLParser::parse()
{
    if ((m_error = XMLSafety::checkSize(m_data.size()))) return false;
    xmlTextReaderPtr reader = xmlReaderForMemory(reinterpret_cast<const char*>(m_data.data()), static_cast<int>(m_data.size()),
                                                 nullptr, nullptr, XMLSafety::parserOptions());
    if (!reader) {
        m_error = XMLSafety::malformed("The XML reader could not start");
        return false;
    }
    std::string message;
    xmlTextReaderSetStructuredErrorHandler(reader, keepFirstError, &message);
    int result = 0;
    // Asking the reader for its document makes the document ours to free.
    xmlDocPtr document = nullptr;
    while (!m_error && (result = xmlTextReaderRead(reader)) == 1) {
        switch (xmlTextReaderNodeType(reader)) {
        case XML_READER_TYPE_DOCUMENT_TYPE:
            document = xmlTextReaderCurrentDoc(reader);
            m_error = XMLSafety::checkEntities(document);
            break;
        case XML_READER_TYPE_ELEMENT: {
            const std::string name = text(xmlTextReaderConstName(reader));
            const bool empty = xmlTextReaderIsEmptyElement(reader) == 1;
            std::map<std::string, std::string> attributes;
            while (xmlTextReaderMoveToNextAttribute(reader) == 1)
                attributes[text(xmlTextReaderConstName(reader))] = text(xmlTextReaderConstValue(reader));
            if (delegate) delegate->didStartElement(*this, name, attributes);
            if (empty && delegate) delegate->didEndElement(*this, name);
            break;
        }
        case XML_READER_TYPE_END_ELEMENT:
            if (delegate) delegate->didEndElement(*this, text(xmlTextReaderConstName(reader)));
            break;
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            if (delegate) delegate->foundCharacters(*this, text(xmlTextReaderConstValue(reader)));
            break;
        default: break;
        }
    }
    if (!m_error && result != 0) m_error = XMLSafety::malformed(message);
    xmlFreeTextReader(reader);
    xmlFreeDoc(document);
    return !m_error;
}

}  // namespace platform
