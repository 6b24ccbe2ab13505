#include "httpclient/serialization/CompoundResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

std::shared_ptr<CompoundResponseSerializer> CompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    std::vector<std::shared_ptr<HTTPResponseSerializer>> members)
{
    auto serializer = std::make_shared<CompoundResponseSerializer>();
    serializer->responseSerializers = std::move(members);
    return serializer;
}

std::shared_ptr<HTTPResponseSerializer> CompoundResponseSerializer::copy() const
{
    return compoundSerializerWithResponseSerializers(responseSerializers);
}

std::any CompoundResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                               const std::optional<Bytes>& data,
                                                               std::optional<platform::Error>* error)
{
    for (const auto& member : responseSerializers) {
        if (!member) continue;
        std::optional<platform::Error> memberError;
        std::any object = member->responseObjectForResponse(response, data, &memberError);
        if (object.has_value()) {
            if (error) *error = ErrorWithUnderlyingError(memberError, *error);
            return object;
        }
    }
    return HTTPResponseSerializer::responseObjectForResponse(response, data, error);
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("CompoundResponseSerializer", [] { return std::make_shared<CompoundResponseSerializer>(); });
}  // namespace

void CompoundResponseSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    HTTPResponseSerializer::encodeWithCoder(coder);
    std::vector<platform::ArchivedValue> members;
    for (const auto& member : responseSerializers) members.emplace_back(member->archivedObject());
    coder.set("responseSerializers", platform::ArchivedValue::array(std::move(members), false));
}

bool CompoundResponseSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!HTTPResponseSerializer::initWithCoder(coder)) return false;
    const platform::ArchivedValue& archived = coder.field("responseSerializers");
    std::vector<std::shared_ptr<HTTPResponseSerializer>> members;
    if (!archived.isNil()) {
        const auto* elements = archived.array();
        if (!elements) return false;
        for (const auto& element : *elements) {
            auto member = decodeObject(element);
            if (!member) return false;
            members.push_back(std::move(member));
        }
    }
    responseSerializers = std::move(members);
    return true;
}
