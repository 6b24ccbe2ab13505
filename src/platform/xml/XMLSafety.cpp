#include "platform/xml/XMLSafety.h"

#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

namespace platform {
namespace {

void findExternal(void* payload, void* found, const xmlChar*)
{
    const auto* entity = static_cast<const xmlEntity*>(payload);
    if (entity->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY || entity->etype == XML_EXTERNAL_GENERAL_UNPARSED_ENTITY ||
        entity->etype == XML_EXTERNAL_PARAMETER_ENTITY)
        *static_cast<bool*>(found) = true;
}

}  // namespace

int XMLSafety::parserOptions()
{
    return XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
}

std::optional<Error> XMLSafety::checkSize(std::size_t size)
{
    if (size <= kMaxInputBytes) return std::nullopt;
    return Error::make(kErrorDomain, kTooLarge, "The XML document is larger than " + std::to_string(kMaxInputBytes) + " bytes");
}

std::optional<Error> XMLSafety::checkEntities(void* document)
{
    const auto* doc = static_cast<const xmlDoc*>(document);
    bool found = false;
    for (const xmlDtd* dtd : {doc ? doc->intSubset : nullptr, doc ? doc->extSubset : nullptr}) {
        if (!dtd) continue;
        if (dtd->entities) xmlHashScan(static_cast<xmlHashTablePtr>(dtd->entities), findExternal, &found);
        if (dtd->pentities) xmlHashScan(static_cast<xmlHashTablePtr>(dtd->pentities), findExternal, &found);
    }
    if (!found) return std::nullopt;
    return Error::make(kErrorDomain, kExternalEntity, "The XML document declares an external entity");
}

Error XMLSafety::malformed(const std::string& reason)
{
    return Error::make(kErrorDomain, kMalformed, reason.empty() ? "The XML document is not well-formed" : reason);
}

}  // namespace platform
